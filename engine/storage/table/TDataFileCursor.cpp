// TDataFile: the cursor of the dataset layer on the index cursor: choosing the index, moves,
// reads, keys, seeks, ranges and clones.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/RecordBitMap.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/KeyEncoding.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

constexpr int kForward = 1;
constexpr int kBackward = 2;

}  // namespace

// ---- keys ---------------------------------------------------------------------------------------

uint16_t TDataFile::GetCurrentKeyLength() const {
  if (index_file_.InRecordOrder()) return 4;
  return index_file_.GetIndexDescriptor(index_file_.CurrentSlot()).key_length;
}

uint8_t TDataFile::KeyFieldCount(int slot) const {
  if (slot == kRecordOrderSlot || (slot == 0 && index_file_.NoPrimaryFields())) return 0;
  return index_file_.GetIndexDescriptor(slot).field_count;
}

void TDataFile::BuildKey(const uint8_t* record, uint8_t* key, int slot) {
  if (slot == kCurrentIndex) slot = index_file_.CurrentSlot();
  // Record-number order and "Sys Deleted" keys need no descriptor (any other slot out of range
  // is refused by GetIndexDescriptor).
  const bool described = slot != kRecordOrderSlot && slot != kSysDeletedSlot;
  BuildKey(record, key, slot,
           described ? index_file_.GetIndexDescriptor(slot) : TIndexDescriptor{});
}

void TDataFile::BuildKey(const uint8_t* record, uint8_t* key, int slot, const TIndexDescriptor& d) {
  if (slot == kCurrentIndex) slot = index_file_.CurrentSlot();
  if (slot == kRecordOrderSlot || (slot == 0 && index_file_.NoPrimaryFields())) {
    std::memset(key, 0, 4);
    std::memcpy(key, record + kRecLink, 4);
    return;
  }
  if (slot == kSysDeletedSlot) return BuildSysDeletedKey(record, key);
  const size_t key_length = std::min<size_t>(d.key_length, kMaxKeyLength);
  std::memset(key, 0, key_length);
  const TOpenBlobSize& blob_size = OpenBlobSizes();
  const uint16_t language = header_.Language();
  const uint16_t sort = header_.Sort();
  size_t pos = 0;
  uint8_t value[kMaxDeclaredSize + 1];
  for (int i = 0; i < d.field_count; ++i) {
    const uint16_t number = d.field_numbers[i];
    // CheckIndexKeys at open made every key field a field of the table.
    const TFieldDefinition& f = table_fields_[number - 1];
    const size_t size = f.stored_size;
    if (pos + 1 + size > key_length) break;
    const bool blank = tessera::GetFieldValue(f, record, value, blob_size);
    uint8_t* part = key + pos;
    part[0] = blank ? 0 : 1;
    uint8_t* data = part + 1;
    // A NULL field's value bytes stay zero, as the index format has them.  Earlier builds wrote
    // the encoded zero value there; the key order takes both forms as the same key.
    if (!blank) {
      switch (f.type) {
        case kFieldString:
          std::memcpy(data, value, size);
          if (d.case_insensitive) {
            UpperCaseText(language, sort, reinterpret_cast<const char*>(data), size,
                          reinterpret_cast<char*>(data));
          }
          break;
        case kFieldDate:
        case kFieldInt32:
        case kFieldTime:
          EncodeInt32Key(static_cast<int32_t>(cl::GetU32LE(value)), data);
          break;
        case kFieldBoolean:
        case kFieldWord:
          EncodeWordKey(cl::GetU16LE(value), data);
          break;
        case kFieldInt16:
          EncodeInt16Key(static_cast<int16_t>(cl::GetU16LE(value)), data);
          break;
        case kFieldFloat:
        case kFieldTimeStamp: {
          double v;
          const uint64_t bits = cl::GetU64LE(value);
          std::memcpy(&v, &bits, sizeof v);
          EncodeFloatKey(v, data);
          break;
        }
        case kFieldMoney:
          EncodeInt64Key(static_cast<int64_t>(cl::GetU64LE(value)), data);
          break;
        default:
          std::memcpy(data, value, size);
          break;
      }
    }
    // A string's last stored byte is its terminator slot, which is never inverted.
    if (d.field_descending[i] != 0 && d.descending == 0) {
      InvertBytes(part, f.type == kFieldString ? size : size + 1);
    }
    pos += size + 1;
  }
  if (HasKeySuffix(slot, d.unique != 0) && key_length >= kKeySuffixSize) {
    EncodeInt32Key(static_cast<int32_t>(cl::GetU32LE(record + kRecSequence)),
                   key + key_length - kKeySuffixSize);
  }
}

void TDataFile::GetCurrentKey(uint8_t* key) {
  const size_t length = GetCurrentKeyLength();
  if (!index_file_.Cursor().CurrentKey(key)) std::memset(key, 0, length);
}

int TDataFile::CompareKey(const uint8_t* a, const uint8_t* b) {
  if (index_file_.InRecordOrder()) {
    const uint32_t x = cl::GetU32LE(a), y = cl::GetU32LE(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  return index_file_.CompareKeys(a, b, GetCurrentKeyLength());
}

size_t TDataFile::PrefixLength(int slot, uint8_t fields, uint8_t partial) const {
  const TIndexDescriptor d = index_file_.GetIndexDescriptor(slot);
  size_t length = partial > 0 ? size_t{partial} + 1 : 0;
  for (int i = 0; i < std::min<int>(fields, d.field_count); ++i) {
    TKeyField info;
    if (KeyFieldInfo(d.field_numbers[i], info)) length += info.size + 1u;
  }
  // A partial length beyond the next field would reach into the fields after it, or into the
  // sequence suffix, which no seek or bound ever compares.
  const size_t fields_length =
      d.key_length -
      (HasKeySuffix(slot, d.unique != 0) ? std::min<size_t>(d.key_length, kKeySuffixSize) : 0);
  return std::min(length, fields_length);
}

void TDataFile::PrepareKey(bool is_buffer, const uint8_t* source, size_t prefix, bool high,
                           uint8_t* key) {
  const size_t length = GetCurrentKeyLength();
  if (is_buffer) {
    std::memcpy(key, source, length);
  } else {
    BuildKey(source, key);
  }
  const bool descending = !index_file_.InRecordOrder() &&
                          index_file_.GetIndexDescriptor(index_file_.CurrentSlot()).descending != 0;
  if (high != descending) {
    FillKeyHigh(key, length, prefix);
  } else {
    FillKeyLow(key, length, prefix);
  }
}

bool TDataFile::KeyFieldText(const uint8_t* part, uint16_t size, bool inverted, std::string& text) {
  const auto byte = [&](size_t i) { return inverted ? static_cast<uint8_t>(~part[i]) : part[i]; };
  if (byte(0) == 0) return false;
  text.clear();
  // The stored size's last byte is the terminator's place.
  for (size_t i = 1; i < size && byte(i) != 0; ++i) text.push_back(static_cast<char>(byte(i)));
  return true;
}

bool TDataFile::SeekPrefix(const uint8_t* key, size_t prefix) {
  TIndexCursor& cursor = index_file_.Cursor();
  if (index_file_.Tree().CurrentOrder().Collated()) {
    const TIndexDescriptor d = index_file_.GetIndexDescriptor(index_file_.CurrentSlot());
    size_t pos = 0;
    for (int i = 0; i < d.field_count; ++i) {
      TKeyField info;
      if (!KeyFieldInfo(d.field_numbers[i], info)) break;
      const size_t end = pos + 1u + info.size;
      if (prefix < end) {
        // A cut inside the characters of a present value; a blank one is a plain prefix.
        const bool inverted = d.field_descending[i] != 0 && d.descending == 0;
        std::string text;
        if (info.type == kFieldString && prefix > pos + 1 &&
            KeyFieldText(key + pos, info.size, inverted, text)) {
          return SeekCollatedPrefix(key, prefix, pos, info.size, inverted);
        }
        break;
      }
      pos = end;
    }
  }
  // The zero-filled key is the first of its prefix unless the order is reversed at the cut.
  cursor.FindKey(key, true, index_file_.Tree().CurrentOrder().ReversedAt(prefix) ? prefix : 0);
  return CurrentKeyHasPrefix(key, prefix);
}

bool TDataFile::CurrentKeyHasPrefix(const uint8_t* key, size_t prefix) {
  uint8_t current[kMaxKeyLength];
  if (!index_file_.Cursor().CurrentKey(current)) return false;
  // A key of an earlier build holds other bytes for a NULL value.
  index_file_.Tree().CurrentOrder().ClearNullValues(current, prefix);
  return std::memcmp(current, key, prefix) == 0;
}

// The keys that begin with the sought bytes lie scattered: the collation orders whole values by
// base characters before case and accents ("Sm1th" < "sm2" < "Sm3").  They all lie in the run of
// keys (equal in the fields before) whose primary weights begin with the prefix's, and none sorts
// before the prefix itself, so that run is walked in index order; the first match the cursor
// accepts (inside the range, visible) is the one found.  Without one the cursor stands, nearest,
// where the prefix would go.
bool TDataFile::SeekCollatedPrefix(const uint8_t* key, size_t prefix, size_t field, uint16_t size,
                                   bool inverted) {
  TIndexCursor& cursor = index_file_.Cursor();
  TIndexTree& tree = index_file_.Tree();
  const size_t length = GetCurrentKeyLength();
  const size_t end = field + 1u + size;
  const bool reversed = tree.CurrentOrder().ReversedAt(end - 1);
  // The lowest value that begins with the prefix: the prefix alone.
  uint8_t low[kMaxKeyLength];
  std::memcpy(low, key, length);
  std::memset(low + prefix, inverted ? 0xFF : 0, end - prefix);
  std::string text;
  KeyFieldText(low + field, size, inverted, text);
  const std::string run =
      PrimaryWeights(GetLanguageId(), GetSortId(), text, cl::TSortMode::kString);
  auto in_run = [&](const uint8_t* k) {
    return tree.CompareKeys(k, low, field + 1) == 0 &&
           KeyFieldText(k + field, size, inverted, text) &&
           PrimaryWeights(GetLanguageId(), GetSortId(), text, cl::TSortMode::kString)
               .starts_with(run);
  };
  // Matches in index order; walking a reversed order meets them last first.
  std::vector<std::vector<uint8_t>> matches;
  uint8_t k[kMaxKeyLength];
  TTreeSpot spot = reversed ? tree.LastNotAbove(low, end) : tree.LowerBound(low, end);
  for (; spot.leaf != 0; spot = tree.Step(spot, !reversed)) {
    tree.ReadEntry(spot, k);
    if (!in_run(k)) break;
    uint8_t plain[kMaxKeyLength];
    std::memcpy(plain, k, prefix);
    tree.CurrentOrder().ClearNullValues(plain, prefix);
    if (std::memcmp(plain, key, prefix) != 0) continue;
    if (!reversed && cursor.FindKey(k, false)) return true;
    if (reversed) matches.emplace_back(k, k + length);
  }
  for (auto m = matches.rbegin(); m != matches.rend(); ++m) {
    if (cursor.FindKey(m->data(), false)) return true;
  }
  cursor.FindKey(low, true, end);
  return CurrentKeyHasPrefix(key, prefix);
}

// ---- index choice -------------------------------------------------------------------------------

void TDataFile::SelectSlot(uint8_t slot) {
  ReadScope scope(*this);
  index_file_.Cursor().CancelRange();
  range_low_.present = range_high_.present = false;
  index_file_.SelectIndex(slot);
  InvalidateMaps();
  Resync();
}

void TDataFile::SetCurrentIndexByNumber(uint8_t slot) {
  if (slot == index_file_.CurrentSlot()) return;
  const bool known = slot == 0 || slot == kRecordOrderSlot || slot == kSysDeletedSlot ||
                     (slot >= 1 && slot <= index_file_.SecondaryCount());
  if (!known) RaiseEngineError(kErrInvalidIndexName, FileName(), {}, std::to_string(slot));
  SelectSlot(slot);
}

void TDataFile::SetCurrentIndexByName(std::string_view name) {
  if (index_file_.CurrentSlot() != kRecordOrderSlot &&
      cl::AnsiSameText(name, index_file_.CurrentIndexName())) {
    return;
  }
  int slot = name.empty() ? 0 : -1;
  for (int s = 1; slot < 0 && s <= index_file_.SecondaryCount(); ++s) {
    if (cl::AnsiSameText(name, index_file_.GetIndexDescriptor(s).name)) slot = s;
  }
  if (slot < 0) RaiseEngineError(kErrInvalidIndexName, FileName(), {}, name);
  SelectSlot(static_cast<uint8_t>(slot));
}

// ---- moves and reads ----------------------------------------------------------------------------

void TDataFile::Resync() {
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  uint8_t key[kMaxKeyLength] = {};
  if (current_ != nullptr) {
    BuildKey(current_->buffer.data(), key);
    if (index_file_.InRecordOrder()) cl::PutU32LE(key, current_->number);
    cursor.FindKey(key, true);
  } else {
    cursor.First();
  }
  LoadCurrentRecord(kForward);
}

void TDataFile::ResyncWritten() {
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  const int slot = index_file_.CurrentSlot();
  if (current_ == nullptr || index_file_.InRecordOrder() || cursor.RangeActive() ||
      cursor.BitMapMode() || !(slot == 0 || index_file_.IsUnique(slot))) {
    return Resync();
  }
  // What Resync's reload would leave: the same record, pinned once, its computed fields fresh.
  uint8_t key[kMaxKeyLength] = {};
  BuildKey(current_->buffer.data(), key);
  cursor.PlaceOnEntry(key, current_->number);
  blob_loaded_ = false;
  TRecord* record = std::exchange(current_, nullptr);  // a failed computation leaves none
  current_ = Computed(record);
}

void TDataFile::MoveToBeginning() {
  ReadScope scope(*this);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.First();
  cursor.MoveBy(-1);
}

void TDataFile::MoveToEnd() {
  ReadScope scope(*this);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.Last();
  cursor.MoveBy(1);
}

void TDataFile::GoToPosition(uint32_t position) {
  ReadScope scope(*this);
  UpdateMaps();
  index_file_.Cursor().GotoPosition(position);
  LoadCurrentRecord(kForward);
}

uint16_t TDataFile::EndCode(uint8_t* buffer, uint16_t code) {
  if (buffer != nullptr) ApplyFieldDefaults(buffer);
  return code;
}

uint16_t TDataFile::GetCurrentRecord(uint8_t* buffer, bool lock) {
  ReadScope scope(*this);
  if (lock) LockRecord(0);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  if (cursor.AtBeginning()) return EndCode(buffer, kErrBeginningOfFile);
  if (cursor.AtEnd()) return EndCode(buffer, kErrEndOfFile);
  const uint32_t number = cursor.CurrentRecordNumber();
  if (current_ == nullptr || current_->number != number) LoadCurrentRecord(kForward);
  if (current_ == nullptr) {
    return EndCode(buffer, cursor.AtBeginning() ? kErrBeginningOfFile : kErrEndOfFile);
  }
  if (buffer != nullptr) std::memcpy(buffer, current_->buffer.data(), GetRecordBufferSize());
  return 0;
}

void TDataFile::LoadWalkedRecord(int direction) {
  walking_ = true;
  try {
    LoadCurrentRecord(direction);
  } catch (...) {
    walking_ = false;
    throw;
  }
  walking_ = false;
}

uint16_t TDataFile::GetNextRecord(uint8_t* buffer) {
  ReadScope scope(*this);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.MoveBy(1);
  if (cursor.AtEnd()) return EndCode(buffer, kErrEndOfFile);
  LoadWalkedRecord(kForward);
  if (current_ == nullptr) return EndCode(buffer, kErrEndOfFile);
  if (buffer != nullptr) std::memcpy(buffer, current_->buffer.data(), GetRecordBufferSize());
  return 0;
}

uint16_t TDataFile::GetPriorRecord(uint8_t* buffer) {
  ReadScope scope(*this);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.MoveBy(-1);
  if (cursor.AtBeginning()) return EndCode(buffer, kErrBeginningOfFile);
  LoadWalkedRecord(kBackward);
  if (current_ == nullptr) return EndCode(buffer, kErrBeginningOfFile);
  if (buffer != nullptr) std::memcpy(buffer, current_->buffer.data(), GetRecordBufferSize());
  return 0;
}

uint32_t TDataFile::GetRecordCount() {
  ReadScope scope(*this);
  UpdateMaps();
  return index_file_.Cursor().RangeCount();
}

uint32_t TDataFile::GetCurrentRecordNumber() {
  ReadScope scope(*this);
  UpdateMaps();
  return index_file_.Cursor().CurrentPosition();
}

// ---- seeks --------------------------------------------------------------------------------------

bool TDataFile::FindKey(const uint8_t* key, bool nearest) {
  ReadScope scope(*this);
  UpdateMaps();
  const bool found = index_file_.Cursor().FindKey(key, nearest);
  LoadCurrentRecord(kForward);
  return found;
}

bool TDataFile::SeekRecordKey(bool key_is_buffer, const uint8_t* source, uint8_t* out,
                              uint8_t partial_length, bool nearest, uint8_t field_count) {
  ReadScope scope(*this);
  UpdateMaps();
  TIndexCursor& cursor = index_file_.Cursor();
  const int slot = index_file_.CurrentSlot();
  const uint8_t index_fields = KeyFieldCount(slot);
  const bool whole_key_index =
      index_file_.InRecordOrder() || slot == 0 || index_file_.IsUnique(slot);
  uint8_t key[kMaxKeyLength] = {};
  bool found;
  if (index_file_.InRecordOrder() ||
      ((field_count == 0 || field_count >= index_fields) && whole_key_index &&
       !(field_count == 0 && partial_length > 0))) {
    if (key_is_buffer) {
      std::memcpy(key, source, GetCurrentKeyLength());
    } else {
      BuildKey(source, key);
    }
    found = cursor.FindKey(key, nearest);
  } else {
    if (field_count == 0 && partial_length == 0) field_count = index_fields;
    const size_t prefix = PrefixLength(slot, field_count, partial_length);
    PrepareKey(key_is_buffer, source, prefix, false, key);
    found = SeekPrefix(key, prefix);
  }
  if (cursor.AtEnd()) cursor.Last();
  LoadCurrentRecord(kForward);
  if (out != nullptr && current_ != nullptr) {
    std::memcpy(out, current_->buffer.data(), GetRecordBufferSize());
  }
  return found;
}

bool TDataFile::FindRecordByKey(const uint8_t* record, uint8_t* out) {
  ReadScope scope(*this);
  UpdateMaps();
  if (record == nullptr) {
    if (current_ == nullptr) return false;
    record = current_->buffer.data();
  }
  TIndexCursor& cursor = index_file_.Cursor();
  const int slot = index_file_.CurrentSlot();
  uint8_t key[kMaxKeyLength] = {};
  bool found;
  if (index_file_.InRecordOrder() || !HasKeySuffix(slot, index_file_.IsUnique(slot))) {
    BuildKey(record, key);
    found = cursor.FindKey(key, false);
  } else {
    const size_t prefix = GetCurrentKeyLength() - kKeySuffixSize;
    PrepareKey(false, record, prefix, false, key);
    found = SeekPrefix(key, prefix);
  }
  LoadCurrentRecord(kForward);
  if (found && out != nullptr && current_ != nullptr) {
    std::memcpy(out, current_->buffer.data(), GetRecordBufferSize());
  }
  return found;
}

// ---- ranges -------------------------------------------------------------------------------------

void TDataFile::ApplyRangeKeys() {
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.SetRangeStart(range_low_.present ? range_low_.key.data() : nullptr, range_low_.length);
  cursor.SetRangeEnd(range_high_.present ? range_high_.key.data() : nullptr, range_high_.length);
  cursor.ApplyRange();
}

void TDataFile::SetRange(bool keys_are_buffers, const uint8_t* low, uint8_t low_fields,
                         const uint8_t* high, uint8_t high_fields) {
  ReadScope scope(*this);
  const int slot = index_file_.CurrentSlot();
  const size_t length = GetCurrentKeyLength();
  auto prepare = [&](RangeKey& bound, const uint8_t* source, uint8_t fields, bool is_high) {
    bound.present = source != nullptr;
    bound.key.fill(0);
    if (!bound.present) return;
    // No field count: every key field, without the sequence suffix of a non-unique index.
    const size_t prefix = index_file_.InRecordOrder()
                              ? length
                              : PrefixLength(slot, fields == 0 ? KeyFieldCount(slot) : fields, 0);
    PrepareKey(keys_are_buffers, source, prefix, is_high, bound.key.data());
    bound.length = prefix;
  };
  // A missing bound leaves that side open: an all-zero high bound would admit nearly nothing.
  prepare(range_low_, low, low_fields, false);
  prepare(range_high_, high, high_fields, true);
  ApplyRangeKeys();
  InvalidateMaps();
  Resync();
}

void TDataFile::ResetRange() {
  ReadScope scope(*this);
  index_file_.Cursor().CancelRange();
  range_low_.present = range_high_.present = false;
  InvalidateMaps();
  Resync();
}

// ---- other handles ------------------------------------------------------------------------------

uint16_t TDataFile::GotoCurrentOf(TDataFile& other) {
  ReadScope scope(*this);
  UpdateMaps();
  uint8_t key[kMaxKeyLength] = {};
  if (other.current_ != nullptr) {
    BuildKey(other.current_->buffer.data(), key);
    if (index_file_.InRecordOrder()) cl::PutU32LE(key, other.current_->number);
  }
  if (!index_file_.Cursor().FindKey(key, false)) return kErrRecordNotFound;
  LoadCurrentRecord(kForward);
  return 0;
}

std::unique_ptr<TDataFile> TDataFile::Clone() {
  if (Exclusive()) Fail(kErrAccessDenied);
  auto clone = std::make_unique<TDataFile>();
  clone->SetInMemory(InMemory());
  clone->SetReadOnly(ReadOnly());
  clone->SetFileName(TableName());
  clone->SetLockRetryCount(lock_retry_count_);
  clone->SetLockWaitTime(lock_wait_time_);
  clone->SetLockTuning(lock_tuning_);
  clone->SetStrictChangeDetection(strict_change_detection_);
  clone->SetForceBufferFlush(force_buffer_flush_);
  clone->SetNoKeyCheck(no_key_check_);
  // The password stays in the session only while the clone opens.
  TFileSession& session = *GetEngineSession();
  const std::string password = header_.Password();
  const bool lend = header_.Encrypted() && !session.HasPassword(password);
  if (lend) session.AddPassword(password);
  try {
    clone->Open();
  } catch (...) {
    if (lend) session.RemovePassword(password);
    throw;
  }
  if (lend) session.RemovePassword(password);
  clone->working_fields_ = working_fields_;
  clone->fields_in_use_ = fields_in_use_;
  clone->computed_area_size_ = computed_area_size_;
  clone->UpdateComputedFlag();
  clone->ReleaseAllPins();
  clone->current_ = nullptr;
  clone->record_cache_.Configure(header_.DataStart(), header_.RecordSize(), GetRecordBufferSize(),
                                 RecordCacheCapacity());
  if (index_file_.CurrentSlot() == kRecordOrderSlot) {
    clone->SetCurrentIndexByNumber(kRecordOrderSlot);
  } else {
    clone->SetCurrentIndexByName(GetCurrentIndexName());
  }
  if (index_file_.Cursor().RangeActive()) {
    clone->range_low_ = range_low_;
    clone->range_high_ = range_high_;
    clone->ApplyRangeKeys();
  }
  CloneFiltersInto(*clone);
  clone->GotoCurrentOf(*this);
  return clone;
}

}  // namespace tessera
