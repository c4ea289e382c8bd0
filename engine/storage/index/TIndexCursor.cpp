#include "engine/storage/index/TIndexCursor.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "classlib/rtl/Coding.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/RecordBitMap.h"

namespace tessera {
namespace {

// Moves of up to this many keys walk the leaf level; longer ones descend by counts.
constexpr uint64_t kWalkLimit = 64;

}  // namespace

TIndexCursor::TIndexCursor(TIndexTreeHost& host, TIndexTree& tree) : host_(host), tree_(tree) {}

bool TIndexCursor::RecordOrder() const { return host_.InRecordOrder(); }

size_t TIndexCursor::KeyLength() const {
  if (RecordOrder()) return 4;
  const uint8_t* desc = host_.HeaderImage() + DescriptorOffset(host_.CurrentSlot());
  return std::min<size_t>(cl::GetU16LE(desc + kDescKeyLength), kMaxKeyLength);
}

bool TIndexCursor::Visible(uint32_t record_number) const {
  return !bitmap_mode_ || TestBit(record_number, visible_);
}

void TIndexCursor::Reset() {
  bof_ = eof_ = true;
  spot_ = {};
  record_ = 0;
  slot_ = host_.CurrentSlot();
}

void TIndexCursor::PlaceOnRecord(uint32_t record_number) {
  record_ = record_number;
  slot_ = host_.CurrentSlot();
  bof_ = eof_ = false;
}

void TIndexCursor::Load(const TTreeSpot& spot) {
  record_ = tree_.ReadEntry(spot, key_.data());
  spot_ = spot;
  spot_version_ = tree_.Version();
  slot_ = host_.CurrentSlot();
  bof_ = eof_ = false;
}

void TIndexCursor::PlaceOnEntry(const uint8_t* key, uint32_t record_number) {
  std::memcpy(key_.data(), key, KeyLength());
  record_ = record_number;
  slot_ = host_.CurrentSlot();
  spot_ = {};
  // Versions only grow, so this one never matches and Fresh finds the entry.
  spot_version_ = tree_.Version() - 1;
  bof_ = eof_ = false;
}

// Answers whether the cursor stands on an entry, finding it again after the tree changed.
bool TIndexCursor::Fresh() {
  if (bof_ || eof_) return false;
  if (slot_ != host_.CurrentSlot()) {
    Reset();
    return false;
  }
  if (spot_version_ == tree_.Version()) return true;
  const size_t k = KeyLength();
  const TTreeSpot candidate = tree_.LowerBound(key_.data(), k);
  TTreeSpot s = candidate;
  uint8_t key[kMaxKeyLength];
  for (uint32_t walked = 0; s.leaf != 0 && walked <= tree_.KeyCount(); ++walked) {
    const uint32_t r = tree_.ReadEntry(s, key);
    if (tree_.CompareKeys(key, key_.data(), k) != 0) break;
    if (r == record_) {
      Load(s);
      return true;
    }
    s = tree_.Step(s, true);
  }
  if (candidate.leaf == 0) {
    spot_ = {};
    bof_ = false;
    eof_ = true;
    return false;
  }
  Load(candidate);
  return true;
}

void TIndexCursor::SetBound(Bound& bound, const uint8_t* key, size_t length) {
  bound.present = key != nullptr;
  bound.length = bound.present ? std::min(length, kMaxKeyLength) : 0;
  bound.key.fill(0);
  if (bound.present) std::memcpy(bound.key.data(), key, bound.length);
  bounds_valid_ = false;
}

void TIndexCursor::SetRangeStart(const uint8_t* key, size_t length) {
  SetBound(start_, key, length);
}
void TIndexCursor::SetRangeEnd(const uint8_t* key, size_t length) { SetBound(end_, key, length); }

void TIndexCursor::ApplyRange() {
  range_active_ = true;
  bounds_valid_ = false;
}

void TIndexCursor::CancelRange() {
  start_.present = end_.present = false;
  range_active_ = false;
  bounds_valid_ = false;
}

void TIndexCursor::Bounds(uint32_t& first, uint32_t& last) {
  if (RecordOrder()) {
    first = 1;
    last = Limit();
    return;
  }
  if (KeyLength() == 0) {  // a slot without an index holds no keys
    first = 1;
    last = 0;
    return;
  }
  const int slot = host_.CurrentSlot();
  if ((bounds_valid_ && bounds_version_ == tree_.Version() && bounds_slot_ == slot) || computing_) {
    first = first_;
    last = last_;
    return;
  }
  computing_ = true;
  try {
    uint32_t lo = 1;
    uint32_t hi = tree_.KeyCount();
    if (range_active_) {
      const size_t k = KeyLength();
      if (start_.present) {
        // Where the order runs forward at the cut, the zero-filled bound is the smallest key
        // with its prefix, under the collation too (a zero byte weighs nothing), and a
        // whole-key compare keeps the search monotonic where a cut string compared at every
        // level might not be; where it runs backward (see TKeyOrder::ReversedAt) no fill is
        // smallest, and the prefix alone is compared.
        const size_t n =
            tree_.CurrentOrder().ReversedAt(start_.length) ? std::min(start_.length, k) : k;
        lo = tree_.LowerBound(start_.key.data(), n).position;
      }
      if (end_.present) hi = tree_.LastNotAbove(end_.key.data(), std::min(end_.length, k)).position;
    }
    first_ = lo;
    last_ = hi;
    bounds_valid_ = true;
    bounds_version_ = tree_.Version();
    bounds_slot_ = slot;
  } catch (...) {
    computing_ = false;
    throw;
  }
  computing_ = false;
  first = first_;
  last = last_;
}

uint32_t TIndexCursor::RangeFirst() {
  uint32_t first, last;
  Bounds(first, last);
  return first;
}

uint32_t TIndexCursor::RangeLast() {
  uint32_t first, last;
  Bounds(first, last);
  return last;
}

uint32_t TIndexCursor::RangeCount() {
  if (bitmap_mode_) return visible_count_;
  uint32_t first, last;
  Bounds(first, last);
  return last >= first ? last - first + 1 : 0;
}

bool TIndexCursor::StepVisible(bool forward, uint32_t first, uint32_t last) {
  TTreeSpot s = spot_;
  for (;;) {
    s = tree_.Step(s, forward);
    if (s.leaf == 0 || s.position < first || s.position > last) return false;
    if (Visible(tree_.RecordNumberAt(s))) {
      Load(s);
      return true;
    }
  }
}

void TIndexCursor::PlaceAt(uint32_t position, bool forward, uint32_t first, uint32_t last) {
  Load(tree_.AtPosition(position));
  if (!Visible(record_) && !StepVisible(forward, first, last)) Reset();
}

// ---- record-number order --------------------------------------------------------------------

uint32_t TIndexCursor::Limit() const { return host_.PhysicalRecordCount(); }

bool TIndexCursor::NextRecord(uint32_t& record) const {
  if (bitmap_mode_) return FindNextBit(visible_, Limit(), record);
  if (record >= Limit()) return false;
  ++record;
  return true;
}

bool TIndexCursor::PriorRecord(uint32_t& record) const {
  const uint32_t limit = Limit();
  if (bitmap_mode_) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(record, uint64_t{limit} + 1));
    if (!FindPriorBit(visible_, n)) return false;
    record = n;
    return true;
  }
  if (record <= 1 || limit == 0) return false;
  record = std::min(record - 1, limit);
  return true;
}

// ---- moves ----------------------------------------------------------------------------------

void TIndexCursor::First() {
  if (RecordOrder()) {
    uint32_t r = 0;
    if (!NextRecord(r)) return Reset();
    return PlaceOnRecord(r);
  }
  uint32_t first, last;
  Bounds(first, last);
  if (first > last) return Reset();
  PlaceAt(first, true, first, last);
}

void TIndexCursor::Last() {
  if (RecordOrder()) {
    uint32_t r = Limit() + 1;
    if (Limit() == UINT32_MAX || !PriorRecord(r)) return Reset();
    return PlaceOnRecord(r);
  }
  uint32_t first, last;
  Bounds(first, last);
  if (first > last) return Reset();
  PlaceAt(last, false, first, last);
}

void TIndexCursor::MoveBy(int32_t count) {
  if (count == 0) return;
  const bool forward = count > 0;
  uint64_t steps = forward ? static_cast<uint64_t>(count) : static_cast<uint64_t>(-int64_t{count});
  const bool placed = RecordOrder() ? !(bof_ || eof_) : Fresh();
  if (!placed) {
    // From a flag one step lands on the first (or last) key; toward the flag nothing moves.
    if (!(forward ? bof_ : eof_)) return;
    forward ? First() : Last();
    if (bof_ || eof_) return;
    --steps;
  }
  if (RecordOrder()) {
    for (; steps > 0; --steps) {
      uint32_t r = record_;
      if (!(forward ? NextRecord(r) : PriorRecord(r))) {
        (forward ? eof_ : bof_) = true;
        return;
      }
      record_ = r;
    }
    return;
  }
  uint32_t first, last;
  Bounds(first, last);
  if (first > last) return Reset();
  if (bitmap_mode_) {
    for (; steps > 0; --steps) {
      if (!StepVisible(forward, first, last)) {
        (forward ? eof_ : bof_) = true;
        return;
      }
    }
    return;
  }
  const int64_t target = int64_t{spot_.position} + (forward ? 1 : -1) * static_cast<int64_t>(steps);
  if (target < int64_t{first}) {
    Load(tree_.AtPosition(first));
    bof_ = true;
    return;
  }
  if (target > int64_t{last}) {
    Load(tree_.AtPosition(last));
    eof_ = true;
    return;
  }
  if (steps > kWalkLimit) {
    Load(tree_.AtPosition(static_cast<uint32_t>(target)));
    return;
  }
  TTreeSpot s = spot_;
  for (; steps > 0; --steps) s = tree_.Step(s, forward);
  Load(s);
}

void TIndexCursor::GotoPosition(uint32_t position) {
  if (position < 1) return First();
  if (RecordOrder() && !bitmap_mode_) {
    if (position > Limit()) {
      Last();
      if (!bof_) eof_ = true;
      return;
    }
    return PlaceOnRecord(position);
  }
  if (RecordOrder() || bitmap_mode_) {
    First();
    for (uint32_t n = 1; n < position && !eof_; n += std::min<uint32_t>(position - n, INT32_MAX)) {
      MoveBy(static_cast<int32_t>(std::min<uint32_t>(position - n, INT32_MAX)));
    }
    return;
  }
  uint32_t first, last;
  Bounds(first, last);
  if (first > last) return Reset();
  const uint64_t target = uint64_t{first} + position - 1;
  if (target > last) {
    Load(tree_.AtPosition(last));
    eof_ = true;
    return;
  }
  Load(tree_.AtPosition(static_cast<uint32_t>(target)));
}

bool TIndexCursor::FindKey(const uint8_t* key, bool nearest, size_t length) {
  if (RecordOrder()) {
    const uint32_t r = cl::GetU32LE(key);
    slot_ = host_.CurrentSlot();
    if (r >= 1 && r <= Limit() && Visible(r)) {
      PlaceOnRecord(r);
      return true;
    }
    if (!nearest) return false;
    uint32_t next = r > 0 ? r - 1 : 0;
    if (NextRecord(next)) {
      PlaceOnRecord(next);
    } else {
      bof_ = false;
      eof_ = true;
    }
    return false;
  }
  uint32_t first, last;
  Bounds(first, last);
  const size_t k = length > 0 ? std::min(length, KeyLength()) : KeyLength();
  if (k == 0) {
    Reset();
    return false;
  }
  const TTreeSpot s = tree_.LowerBound(key, k);
  uint8_t entry[kMaxKeyLength];
  uint32_t record = 0;
  bool found = false;
  if (s.leaf != 0 && s.position >= first && s.position <= last) {
    record = tree_.ReadEntry(s, entry);
    found = tree_.CompareKeys(entry, key, k) == 0 && Visible(record);
  }
  if (found) {
    Load(s);
    return true;
  }
  if (!nearest) return false;
  if (range_active_ && (s.position < first || first > last)) {
    First();
    return false;
  }
  if (range_active_ && s.position > last) {
    Last();
    return false;
  }
  if (s.leaf == 0) {
    spot_ = {};
    slot_ = host_.CurrentSlot();
    bof_ = false;
    eof_ = true;
    return false;
  }
  Load(s);
  if (!Visible(record_) && !StepVisible(true, first, last)) {
    bof_ = false;
    eof_ = true;
  }
  return false;
}

uint32_t TIndexCursor::CurrentRecordNumber() {
  if (bof_ || eof_) return 0;
  if (RecordOrder()) return record_;
  return Fresh() ? record_ : 0;
}

uint32_t TIndexCursor::CurrentPosition() {
  if (bof_ || eof_) return 0;
  if (RecordOrder()) return bitmap_mode_ ? CountBitsUpTo(record_, visible_, Limit()) : record_;
  if (!Fresh()) return 0;
  uint32_t first, last;
  Bounds(first, last);
  if (spot_.position < first) return 0;
  if (!bitmap_mode_) return spot_.position - first + 1;
  uint32_t n = 0;
  for (TTreeSpot s = tree_.AtPosition(first); s.leaf != 0 && s.position <= spot_.position;
       s = tree_.Step(s, true)) {
    if (Visible(tree_.RecordNumberAt(s))) ++n;
  }
  return n;
}

bool TIndexCursor::CurrentKey(uint8_t* key) {
  if (bof_ || eof_) return false;
  if (RecordOrder()) {
    cl::PutU32LE(key, record_);
    return true;
  }
  if (!Fresh()) return false;
  std::memcpy(key, key_.data(), KeyLength());
  return true;
}

template <class Take>
uint32_t TIndexCursor::TakeFollowing(uint32_t count, bool forward, Take&& take) {
  uint32_t first, last;
  Bounds(first, last);
  const uint32_t at = spot_.position;
  // Positions run on by one per key: the keys inside the range come first or not at all.
  uint32_t in_range = 0;
  if (forward && at < last && at + 1 >= first) in_range = last - at;
  if (!forward && at > first && at - 1 <= last) in_range = at - first;
  count = std::min(count, in_range);
  // Small batches first: a walk whose next key already breaks the run reads little.
  uint32_t batch[64];
  uint32_t batch_size = 4;
  TTreeSpot s = spot_;
  uint32_t taken = 0;
  while (taken < count) {
    const uint32_t want = std::min(count - taken, batch_size);
    const uint32_t got = tree_.RecordNumbersAfter(s, forward, want, batch);
    for (uint32_t i = 0; i < got; ++i) {
      if (!take(batch[i])) return taken;
      ++taken;
    }
    if (got < want) break;
    batch_size = std::min<uint32_t>(batch_size * 2, std::size(batch));
  }
  return taken;
}

uint32_t TIndexCursor::CountSequential(uint32_t count, int direction) {
  if (bof_ || eof_) return 0;
  const bool forward = direction >= 0;
  uint32_t n = 0;
  uint32_t r = record_;
  if (RecordOrder()) {
    while (n < count) {
      const uint32_t next = forward ? r + 1 : r - 1;
      if (next < 1 || next > Limit() || !Visible(next)) break;
      r = next;
      ++n;
    }
    return n;
  }
  if (!Fresh()) return 0;
  return TakeFollowing(count, forward, [&](uint32_t next) {
    if (next != (forward ? r + 1 : r - 1) || !Visible(next)) return false;
    r = next;
    return true;
  });
}

uint32_t TIndexCursor::FollowingRecords(uint32_t count, int direction, uint32_t* out) {
  if (bof_ || eof_ || RecordOrder() || !Fresh()) return 0;
  uint32_t n = 0;
  return TakeFollowing(count, direction >= 0, [&](uint32_t r) {
    if (!Visible(r)) return false;
    out[n++] = r;
    return true;
  });
}

}  // namespace tessera
