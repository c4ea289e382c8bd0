// AppendRecords: a table filled in one go (a query result) stores its rows without the per-row
// work of InsertRecord.  The records are appended in order, so record numbers (from 1) and
// sequence numbers both count up and the "Sys Deleted" keys arrive sorted; every other index has
// its keys sorted once and its tree built bottom up (IndexBulkBuild.h).  The whole batch is one
// store stage: it commits as one write of an exclusive handle, and a failure abandons it all.
#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/IndexBulkBuild.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera {

namespace {

constexpr int kForward = 1;

// The sorted keys of one index, ready for its tree.
struct SortedKeys {
  uint8_t slot = 0;
  std::vector<uint8_t> keys;
  std::vector<uint32_t> numbers;
};

}  // namespace

void TDataFile::AppendRecords(uint8_t* buffers, size_t count) {
  if (ReadOnly()) Fail(kErrAccessDenied);
  const size_t size = GetRecordBufferSize();
  auto one_by_one = [&] {
    for (size_t i = 0; i < count; ++i) InsertRecord(buffers + i * size);
  };
  if (count == 0) return;
  if (!Exclusive() || blob_file_ != nullptr) return one_by_one();
  if (!deferred_commit_) CommitBeforeWrite();
  // The header must be what the disk holds before it is trusted to describe an empty table.
  ReloadIfPending();
  if (header_.NextRecord() != 1 || header_.DeletedHead() != 0 || index_file_.RecordCount() != 0 ||
      count >= std::numeric_limits<int32_t>::max() - header_.LastAutoIncrement()) {
    return one_by_one();
  }
  const uint8_t saved_slot = index_file_.CurrentSlot();
  const TSlotSet slots = MaintainedSlots();
  TSlotSet trees = slots;
  if (!NeverReusesSlots()) trees.slot[trees.count++] = kSysDeletedSlot;
  for (const uint8_t slot : trees) {
    index_file_.SelectIndex(slot);
    if (index_file_.RootPage() != 0 || index_file_.FreeHead() != 0) {
      index_file_.SelectIndex(saved_slot);
      return one_by_one();
    }
  }

  // Keys first, with the sequence numbers the records will get: a duplicate in an index that
  // refuses one leaves the rows to InsertRecord, which stores those before it and reports it.
  const uint32_t first_sequence = header_.LastAutoIncrement() + 1;
  for (size_t i = 0; i < count; ++i) {
    cl::PutU32LE(buffers + i * size + kRecSequence, first_sequence + static_cast<uint32_t>(i));
  }
  std::vector<SortedKeys> sorted(slots.size());
  for (size_t s = 0; s < slots.size(); ++s) {
    const uint8_t slot = slots[s];
    index_file_.SelectIndex(slot);
    const TIndexDescriptor descriptor = index_file_.GetIndexDescriptor(slot);
    const size_t k = descriptor.key_length;
    std::vector<uint8_t> keys(count * k);
    for (size_t i = 0; i < count; ++i) {
      BuildKey(buffers + i * size, keys.data() + i * k, slot, descriptor);
    }
    const TKeyOrder order = index_file_.Tree().CurrentOrder();
    std::vector<uint32_t> at(count);
    std::iota(at.begin(), at.end(), 0u);
    // Equal keys stay in record order, as inserts one by one keep them; rows that came in the
    // index's order cost one pass.  A sort compares every pair of neighbours it puts out, so
    // keys that never compared equal hold no duplicate, and only then is no pass needed for it.
    bool met_equal = false;
    const auto before = [&](uint32_t a, uint32_t b) {
      const int r = order.Compare(keys.data() + a * k, keys.data() + b * k, k);
      met_equal = met_equal || r == 0;
      return r < 0;
    };
    if (!std::is_sorted(at.begin(), at.end(), before)) {
      std::stable_sort(at.begin(), at.end(), before);
    }
    const bool check_duplicates = (slot == 0 || index_file_.IsUnique(slot)) && met_equal;
    SortedKeys& out = sorted[s];
    out.slot = slot;
    out.keys.resize(count * k);
    out.numbers.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* key = keys.data() + at[i] * k;
      if (check_duplicates && i > 0 && order.Compare(key, out.keys.data() + (i - 1) * k, k) == 0) {
        index_file_.SelectIndex(saved_slot);
        return one_by_one();
      }
      std::memcpy(out.keys.data() + i * k, key, k);
      out.numbers[i] = at[i] + 1;  // record numbers count from 1 in a table without rows
    }
  }

  TRecordCache::Unpin(current_);
  current_ = nullptr;
  BeginStore();
  try {
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* buffer = buffers + i * size;
      const uint32_t number = static_cast<uint32_t>(i + 1);
      bool retry = false;
      TRecord* entry = GetRecord(number, false, kForward, false, retry);
      std::fill(entry->buffer.begin(), entry->buffer.end(), 0);
      entry->SetNumber(number);
      std::memcpy(entry->buffer.data() + kRecFields, buffer + kRecFields, size - kRecFields);
      entry->SetSequence(cl::GetU32LE(buffer + kRecSequence));
      TRecordCache::Unpin(entry);
      index_file_.IncRecordCount();
    }
    header_.SetLastAutoIncrement(first_sequence + static_cast<uint32_t>(count - 1));
    MarkHeaderChanged();
    for (const SortedKeys& s : sorted) {
      index_file_.SelectIndex(s.slot);
      BuildIndexTree(index_file_, index_file_.PageCache(), s.keys.data(), s.numbers.data(), count);
    }
    if (!NeverReusesSlots()) {
      std::vector<uint8_t> keys(count * kSysDeletedKeyLength);
      std::vector<uint32_t> numbers(count);
      for (size_t i = 0; i < count; ++i) {
        uint8_t* key = keys.data() + i * kSysDeletedKeyLength;
        key[0] = 0;
        EncodeInt32Key(static_cast<int32_t>(first_sequence + i), key + 1);
        numbers[i] = static_cast<uint32_t>(i + 1);
      }
      index_file_.SelectIndex(kSysDeletedSlot);
      BuildIndexTree(index_file_, index_file_.PageCache(), keys.data(), numbers.data(), count);
    }
    index_file_.Tree().BumpVersion();
    // Records left dirty would each be passed over by every later read looking for an entry to
    // recycle: a batch larger than the cache is read back in index order, one miss per row.
    if (count >= record_cache_.Capacity()) FlushDirtyRecords();
    index_file_.SelectIndex(saved_slot);
    CommitUnderStore();
  } catch (...) {
    AbandonStore(saved_slot, {}, {});
    throw;
  }
  InvalidateMaps();
  Resync();
}

}  // namespace tessera
