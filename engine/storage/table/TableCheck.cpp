#include "engine/storage/table/TableCheck.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <set>
#include <unordered_set>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexCheck.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera {
namespace {

using Key = std::vector<uint8_t>;
// (key, record number) pairs, sorted: one index's entries.
using Entries = std::vector<std::pair<Key, uint32_t>>;

class Checker {
 public:
  Checker(TDataFile& table, TTableCheckReport& report) : t_(table), report_(report) {}

  void Run() {
    ReadRecords();
    CheckChain();
    if (!CheckIndexStructure()) return;
    CheckKeys();
    CheckBlobs();
  }

 private:
  void Problem(std::string text) { report_.problems.push_back(std::move(text)); }

  void ReadRecords() {
    const TDataHeader& h = t_.Header();
    const size_t record_size = h.RecordSize();
    if (!CheckFileLength(h, t_.Size())) {
      Problem("data file length " + std::to_string(t_.Size()) + " does not hold " +
              std::to_string(h.NextRecord() - 1) + " records");
    }
    const uint32_t slots = h.NextRecord() > 0 ? h.NextRecord() - 1 : 0;
    const uint32_t fit = static_cast<uint32_t>(
        std::max<int64_t>(0, t_.Size() - static_cast<int64_t>(h.DataStart())) /
        static_cast<int64_t>(record_size));
    records_.assign(std::min(slots, fit), {});
    std::set<uint32_t> sequences;
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      Key& r = records_[n - 1];
      r.assign(t_.GetRecordBufferSize(), 0);
      t_.ReadAt(static_cast<int64_t>(h.DataStart()) + int64_t{n - 1} * int64_t(record_size),
                r.data(), static_cast<int32_t>(record_size));
      if (h.Encrypted()) DecipherBuffer(r.data(), record_size, kDataKeyA, kDataKeyB);
      if (r[kRecDeleted] != 0) {
        ++report_.deleted_records;
        continue;
      }
      ++report_.live_records;
      if (cl::GetU32LE(r.data() + kRecLink) != n) {
        Problem("record " + std::to_string(n) + " carries the number " +
                std::to_string(cl::GetU32LE(r.data() + kRecLink)));
      }
      if (!sequences.insert(cl::GetU32LE(r.data() + kRecSequence)).second) {
        Problem("record " + std::to_string(n) + " repeats a sequence number");
      }
    }
  }

  bool Live(uint32_t n) const { return n >= 1 && n <= records_.size() && records_[n - 1][0] == 0; }

  void CheckChain() {
    const uint32_t head = t_.Header().DeletedHead();
    if (t_.NeverReusesSlots()) {
      if (head != 0 && (head > records_.size() || Live(head))) {
        Problem("deleted chain head " + std::to_string(head) + " is not a deleted slot");
      }
      return;
    }
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = head; n != 0;) {
      if (n > records_.size() || Live(n) || !seen.insert(n).second) {
        Problem("deleted chain reaches " + std::to_string(n) + ", which is not a deleted slot " +
                "or was reached before");
        return;
      }
      n = cl::GetU32LE(records_[n - 1].data() + kRecLink);
    }
    if (seen.size() != report_.deleted_records) {
      Problem("deleted chain visits " + std::to_string(seen.size()) + " of " +
              std::to_string(report_.deleted_records) + " deleted slots");
    }
  }

  bool CheckIndexStructure() {
    TIndexFile& index = t_.IndexFile();
    const TIndexCheckReport r = CheckIndexFile(
        index.HeaderImage(),
        [&](uint32_t offset, uint8_t* image) {
          index.ReadAt(offset, image, static_cast<int32_t>(kIndexPageSize));
        },
        [&](int slot, const TIndexDescriptor& d) { return TKeyOrder(index, slot, d); },
        t_.Encrypted());
    if (!r.ok) {
      Problem("index file: " + r.problem);
      return false;
    }
    if (index.RecordCount() != report_.live_records) {
      Problem("index record count " + std::to_string(index.RecordCount()) + " for " +
              std::to_string(report_.live_records) + " live records");
    }
    return true;
  }

  // Every entry of an index slot, walked along its leaves.
  Entries Walk(uint8_t slot) {
    TIndexFile& index = t_.IndexFile();
    const uint8_t saved = index.CurrentSlot();
    Entries entries;
    try {
      index.SelectIndex(slot);
      TIndexTree& tree = index.Tree();
      const size_t length = index.GetIndexDescriptor(slot).key_length;
      // Keys of earlier builds hold the encoded zero value for NULL: read in today's form.
      const TKeyOrder order = tree.CurrentOrder();
      uint8_t key[kMaxKeyLength];
      for (TTreeSpot s = tree.AtPosition(1); s.leaf != 0; s = tree.Step(s, true)) {
        const uint32_t record = tree.ReadEntry(s, key);
        order.ClearNullValues(key, length);
        entries.emplace_back(Key(key, key + length), record);
      }
    } catch (...) {
      index.SelectIndex(saved);
      throw;
    }
    index.SelectIndex(saved);
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  void Compare(const std::string& name, const Entries& expected, const Entries& found) {
    if (expected == found) return;
    std::vector<std::pair<Key, uint32_t>> missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                        std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    std::string text = "index " + name + ": " + std::to_string(missing.size()) + " keys missing, " +
                       std::to_string(extra.size()) + " keys too many";
    if (!missing.empty())
      text += " (first missing: record " + std::to_string(missing[0].second) + ")";
    if (!extra.empty()) text += " (first extra: record " + std::to_string(extra[0].second) + ")";
    Problem(text);
  }

  void CheckKeys() {
    TIndexFile& index = t_.IndexFile();
    std::vector<uint8_t> slots;
    if (!index.NoPrimaryFields()) slots.push_back(0);
    for (int s = 1; s <= index.SecondaryCount(); ++s) slots.push_back(static_cast<uint8_t>(s));
    uint8_t key[kMaxKeyLength];
    for (uint8_t slot : slots) {
      const size_t length = index.GetIndexDescriptor(slot).key_length;
      Entries expected;
      for (uint32_t n = 1; n <= records_.size(); ++n) {
        if (!Live(n)) continue;
        t_.BuildKey(records_[n - 1].data(), key, slot);
        expected.emplace_back(Key(key, key + length), n);
      }
      std::sort(expected.begin(), expected.end());
      Compare(slot == 0 ? "Primary" : index.GetIndexDescriptor(slot).name, expected, Walk(slot));
    }
    if (t_.NeverReusesSlots()) return;
    Entries expected;
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      key[0] = records_[n - 1][kRecDeleted];
      EncodeInt32Key(static_cast<int32_t>(cl::GetU32LE(records_[n - 1].data() + kRecSequence)),
                     key + 1);
      expected.emplace_back(Key(key, key + kSysDeletedKeyLength), n);
    }
    std::sort(expected.begin(), expected.end());
    Compare(kSysDeletedName, expected, Walk(kSysDeletedSlot));
  }

  void CheckBlobs() {
    TBlobFile* blob = t_.BlobFile();
    if (blob == nullptr) return;
    const uint32_t block_size = blob->BlockSize();
    const uint32_t end = blob->EndOffset();
    auto on_grid = [&](uint32_t offset) {
      return offset >= kBlobHeaderSize && (offset - kBlobHeaderSize) % block_size == 0 &&
             offset < end;
    };
    auto header_at = [&](uint32_t offset) {
      uint8_t raw[kBlockHeaderSize];
      blob->ReadAt(offset, raw, static_cast<int32_t>(kBlockHeaderSize));
      if (t_.Encrypted()) DecipherBuffer(raw, kBlockHeaderSize, kDataKeyA, kDataKeyB);
      return DecodeBlockHeader(raw);
    };
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!Live(n)) continue;
      for (const TFieldDefinition& f : t_.TableFields()) {
        if (!f.IsBlob()) continue;
        const uint32_t first = cl::GetU32LE(records_[n - 1].data() + f.offset + 1);
        if (first == 0) continue;
        const std::string where = "record " + std::to_string(n) + " field " + f.name + ": block ";
        uint64_t total = 0, length = 0;
        uint32_t previous = 0;
        for (uint32_t b = first; b != 0;) {
          if (!on_grid(b) || !seen.insert(b).second) {
            Problem(where + std::to_string(b) + " is off the grid or in another chain");
            break;
          }
          const TBlockHeader bh = header_at(b);
          if (bh.owner_record != n || bh.previous != previous ||
              bh.used > block_size - kBlockHeaderSize) {
            Problem(where + std::to_string(b) + " is not this value's");
            break;
          }
          if (b == first) length = bh.total_length;
          total += bh.used;
          previous = b;
          b = bh.next;
        }
        if (total != length) {
          Problem(where + std::to_string(first) + " starts a value of " + std::to_string(length) +
                  " bytes that holds " + std::to_string(total));
        }
      }
    }
    for (uint32_t b = blob->FreeHead(); b != 0; b = header_at(b).next) {
      if (!on_grid(b) || !seen.insert(b).second) {
        Problem("blob free chain reaches block " + std::to_string(b) + " twice or off the grid");
        return;
      }
    }
    const uint32_t blocks = end > kBlobHeaderSize ? (end - kBlobHeaderSize) / block_size : 0;
    if (seen.size() != blocks) {
      Problem("blob file: " + std::to_string(blocks - std::min<size_t>(seen.size(), blocks)) +
              " blocks belong to no value and are not free");
    }
  }

  TDataFile& t_;
  TTableCheckReport& report_;
  std::vector<Key> records_;  // every slot, deciphered
};

}  // namespace

TTableCheckReport CheckTable(TDataFile& table) {
  TTableCheckReport report;
  try {
    Checker(table, report).Run();
  } catch (const ETesseraEngineError& e) {
    report.problems.push_back(std::string("stopped by ") + e.what());
  }
  return report;
}

TTableCheckReport CheckTableFiles(std::string_view table_name) {
  TDataFile table;
  table.SetReadOnly(true);
  table.SetLeaveCommitPending(true);
  table.SetFileName(table_name);
  table.Open();
  if (table.RecoveryAtOpen() == TRecovery::kLeft) {
    TTableCheckReport report;
    report.commit_pending = true;
    report.problems.push_back("a commit is pending; the next open completes it");
    return report;
  }
  TTableCheckReport report = CheckTable(table);
  table.Close();
  return report;
}

}  // namespace tessera
