#include "engine/storage/table/TableRepair.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TFileHandler.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;
// Records to delete because their key repeats an earlier record's, with the index's name.
using Repeats = std::map<uint32_t, std::string>;

struct TTableNames {
  std::string dat, idx, blb;
};

TTableNames NamesOf(std::string_view table_name) {
  TDataFile probe;
  probe.SetFileName(table_name);
  const std::string dat = probe.FileName();  // ends in ".DAT"
  const std::string base = dat.substr(0, dat.size() - 4);
  return {dat, base + ".IDX", base + ".BLB"};
}

std::string N(uint64_t n) { return std::to_string(n); }

// Steps 1 to 3 of the header comment, on the three files held exclusively.
class FileRepair {
 public:
  FileRepair(const TTableNames& names, const Repeats& repeats, std::vector<std::string>& changes)
      : names_(names), repeats_(repeats), changes_(changes) {}

  void Run() {
    Open(dat_, names_.dat);
    Open(idx_, names_.idx);
    ReadHeaderAndDefinitions();
    ReadIndexHeader();
    if (h_.BlobFieldCount() > 0) Open(blb_, names_.blb);
    TrimLength();
    ReadRecords();
    DeleteRepeats();
    RestoreNumbers();
    RenumberSequences();
    if (h_.BlobFieldCount() > 0) RepairBlobs();
    RebuildDeletedChain();
    WriteRecords();
  }

 private:
  void Change(std::string text) { changes_.push_back(std::move(text)); }
  bool Encrypted() const { return h_.Encrypted(); }

  static void Open(TFileHandler& file, const std::string& name) {
    file.SetExclusive(true);
    file.SetFileName(name);
    file.Open();
  }

  void ReadHeaderAndDefinitions() {
    if (dat_.Size() < static_cast<int32_t>(kDataHeaderSize)) {
      RaiseEngineError(kErrHeaderCorrupt, cl::ToShort(names_.dat));
    }
    dat_.ReadAt(0, h_.Bytes().data(), static_cast<int32_t>(kDataHeaderSize));
    switch (CheckDataHeader(h_)) {
      case TDataFileFault::kVersion:
        RaiseEngineError(kErrWrongVersion, cl::ToShort(names_.dat));
      case TDataFileFault::kCorrupt:
        RaiseEngineError(kErrHeaderCorrupt, cl::ToShort(names_.dat));
      case TDataFileFault::kNone:
        break;
    }
    if (Encrypted()) CheckTablePassword(*GetEngineSession(), h_.StoredPassword(), names_.dat, {});
    if (dat_.Size() < static_cast<int64_t>(h_.DataStart())) {
      RaiseEngineError(kErrHeaderCorrupt, cl::ToShort(names_.dat));
    }
    Bytes block(h_.FieldCount() * kFieldDefinitionSize);
    if (!block.empty()) {
      dat_.ReadAt(kDataHeaderSize, block.data(), static_cast<int32_t>(block.size()));
    }
    if (Encrypted()) DecipherBuffer(block.data(), block.size(), kDataKeyA, kDataKeyB);
    for (size_t i = 0; i < h_.FieldCount(); ++i) {
      fields_.push_back(DecodeFieldDefinition(block.data() + i * kFieldDefinitionSize));
    }
    DeriveStoredSizes(fields_);
    if (!CheckFieldStructure(fields_, h_)) {
      RaiseEngineError(kErrHeaderCorrupt, cl::ToShort(names_.dat));
    }
  }

  // Whether slots are reused; and a header that would keep the index from opening (an end past
  // the file, a root or free head off its pages) is emptied here, its index definitions kept,
  // since every tree is rebuilt anyway.  Damaged definitions cannot be rebuilt: 8965.
  void ReadIndexHeader() {
    if (idx_.Size() < static_cast<int32_t>(kIndexHeaderSize)) {
      RaiseEngineError(kErrIndexPageCorrupt, cl::ToShort(names_.dat));
    }
    Bytes header(kIndexHeaderSize);
    idx_.ReadAt(0, header.data(), static_cast<int32_t>(header.size()));
    if (Encrypted()) DecipherBuffer(header.data(), header.size(), kDataKeyA, kDataKeyB);
    never_reuses_ = header[kIdxNoPrimaryFields] != 0;
    const TIndexHeaderFault fault = CheckIndexHeader(header.data());
    if (fault == TIndexHeaderFault::kVersion) {
      RaiseEngineError(kErrWrongVersion, cl::ToShort(names_.idx));
    }
    const uint32_t end = cl::GetU32LE(header.data() + kIdxEndOffset);
    if (fault == TIndexHeaderFault::kNone && end <= static_cast<uint32_t>(idx_.Size())) return;
    cl::PutU32LE(header.data() + kIdxEndOffset, kIndexPageSize);
    cl::PutU32LE(header.data() + kIdxRecordCount, 0);
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
      cl::PutU32LE(header.data() + DescriptorOffset(slot) + kDescRoot, 0);
      cl::PutU32LE(header.data() + DescriptorOffset(slot) + kDescFreeHead, 0);
    }
    if (CheckIndexHeader(header.data()) != TIndexHeaderFault::kNone) {
      RaiseEngineError(kErrIndexPageCorrupt, cl::ToShort(names_.dat));
    }
    cl::PutU32LE(header.data() + kIdxChangeCounter,
                 cl::GetU32LE(header.data() + kIdxChangeCounter) + 1);
    if (Encrypted()) EncipherBuffer(header.data(), header.size(), kDataKeyA, kDataKeyB);
    idx_.TruncateAt(kIndexPageSize);
    idx_.WriteAt(0, header.data(), static_cast<int32_t>(header.size()));
    Change("index file: its header pointed past its pages: every index was emptied");
  }

  void TrimLength() {
    const int64_t start = static_cast<int64_t>(h_.DataStart());
    const int64_t size = dat_.Size();
    const uint32_t slots = static_cast<uint32_t>((size - start) / h_.RecordSize());
    const int64_t whole = start + int64_t{slots} * h_.RecordSize();
    if (whole != size) {
      dat_.TruncateAt(whole);
      Change("data file: a partial record of " + N(static_cast<uint64_t>(size - whole)) +
             " bytes at its end was cut off");
    }
    if (h_.NextRecord() != slots + 1) {
      Change("data file: the header counted " + N(h_.NextRecord() - 1ull) +
             " record slots, the file holds " + N(slots));
      h_.SetNextRecord(slots + 1);
      header_dirty_ = true;
    }
    records_.assign(slots, {});
    dirty_.assign(slots, false);
  }

  void ReadRecords() {
    const size_t size = h_.RecordSize();
    const uint32_t per_read = std::max<uint32_t>(1, (1u << 20) / static_cast<uint32_t>(size));
    Bytes run;
    for (uint32_t first = 0; first < records_.size(); first += per_read) {
      const uint32_t count = std::min<uint32_t>(per_read, records_.size() - first);
      run.resize(count * size);
      dat_.ReadAt(static_cast<int64_t>(h_.DataStart()) + int64_t{first} * int64_t(size), run.data(),
                  static_cast<int32_t>(run.size()));
      for (uint32_t i = 0; i < count; ++i) {
        Bytes& r = records_[first + i];
        r.assign(run.begin() + i * size, run.begin() + (i + 1) * size);
        if (Encrypted()) DecipherBuffer(r.data(), size, kDataKeyA, kDataKeyB);
      }
    }
  }

  bool Live(uint32_t n) const { return records_[n - 1][kRecDeleted] == 0; }
  void Touch(uint32_t n) { dirty_[n - 1] = true; }

  void DeleteRepeats() {
    for (const auto& [n, index] : repeats_) {
      if (n > records_.size() || !Live(n)) continue;
      records_[n - 1][kRecDeleted] = 1;
      Touch(n);
      Change("record " + N(n) + " repeated an earlier record's key in index " + index +
             ": it was deleted");
    }
  }

  void RestoreNumbers() {
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!Live(n)) continue;
      Bytes& r = records_[n - 1];
      const uint32_t link = cl::GetU32LE(r.data() + kRecLink);
      if (link == n) continue;
      Touch(n);
      if (std::all_of(r.begin() + 1, r.end(), [](uint8_t b) { return b == 0; })) {
        r[kRecDeleted] = 1;
        Change("record slot " + N(n) + " held no record: it is now a deleted slot");
      } else {
        cl::PutU32LE(r.data() + kRecLink, n);
        Change("record " + N(n) + " carried the number " + N(link) + ": its own was restored");
      }
    }
  }

  void RenumberSequences() {
    uint32_t last = h_.LastAutoIncrement();
    for (const Bytes& r : records_) last = std::max(last, cl::GetU32LE(r.data() + kRecSequence));
    if (last != h_.LastAutoIncrement()) {
      Change("data file: the last sequence number handed out was raised from " +
             N(h_.LastAutoIncrement()) + " to " + N(last));
    }
    std::unordered_map<uint32_t, uint32_t> holder;
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!Live(n)) continue;
      uint8_t* sequence = records_[n - 1].data() + kRecSequence;
      const auto [it, fresh] = holder.emplace(cl::GetU32LE(sequence), n);
      if (fresh) continue;
      cl::PutU32LE(sequence, ++last);
      Touch(n);
      Change("record " + N(n) + " repeated the sequence number " + N(it->first) + " of record " +
             N(it->second) + ": it now has " + N(last));
    }
    if (last != h_.LastAutoIncrement()) {
      h_.SetLastAutoIncrement(last);
      header_dirty_ = true;
    }
  }

  TBlockHeader BlockHeaderAt(uint32_t offset) {
    uint8_t raw[kBlockHeaderSize];
    blb_.ReadAt(offset, raw, static_cast<int32_t>(kBlockHeaderSize));
    if (Encrypted()) DecipherBuffer(raw, kBlockHeaderSize, kDataKeyA, kDataKeyB);
    return DecodeBlockHeader(raw);
  }

  void WriteBlockHeader(uint32_t offset, const TBlockHeader& header) {
    uint8_t raw[kBlockHeaderSize];
    EncodeBlockHeader(header, raw);
    if (Encrypted()) EncipherBuffer(raw, kBlockHeaderSize, kDataKeyA, kDataKeyB);
    blb_.WriteAt(offset, raw, static_cast<int32_t>(kBlockHeaderSize));
  }

  // Why the value at `first` of record `n` cannot be kept, or empty when it can (its blocks are
  // then added to `chain`).
  std::string ChainFault(uint32_t n, uint32_t first, std::vector<uint32_t>& chain) {
    uint64_t total = 0, length = 0;
    uint32_t previous = 0;
    std::unordered_set<uint32_t> seen;
    for (uint32_t b = first; b != 0;) {
      if (!OnGrid(b)) return "block " + N(b) + " lies outside the blob file";
      if (owned_[Block(b)] || !seen.insert(b).second) {
        return "block " + N(b) + " belongs to another value";
      }
      const TBlockHeader bh = BlockHeaderAt(b);
      if (bh.owner_record != n) {
        return bh.owner_record == 0 ? "block " + N(b) + " is free"
                                    : "block " + N(b) + " belongs to record " + N(bh.owner_record);
      }
      if (bh.previous != previous || bh.used > block_size_ - kBlockHeaderSize) {
        return "its chain is broken at block " + N(b);
      }
      if (b == first) length = bh.total_length;
      total += bh.used;
      chain.push_back(b);
      previous = b;
      b = bh.next;
    }
    if (total != length) return "it holds " + N(total) + " of its " + N(length) + " bytes";
    return {};
  }

  bool OnGrid(uint32_t b) const {
    return b >= kBlobHeaderSize && (b - kBlobHeaderSize) % block_size_ == 0 && b < end_;
  }
  size_t Block(uint32_t b) const { return (b - kBlobHeaderSize) / block_size_; }

  void RepairBlobs() {
    block_size_ = h_.BlobBlockSize();
    if (blb_.Size() < static_cast<int32_t>(kBlobHeaderSize)) {
      RaiseEngineError(kErrBlobBufferCorrupt, cl::ToShort(names_.dat));
    }
    uint8_t header[kBlobHeaderSize];
    blb_.ReadAt(0, header, static_cast<int32_t>(kBlobHeaderSize));
    if (Encrypted()) DecipherBuffer(header, kBlobHeaderSize, kDataKeyA, kDataKeyB);
    if (header[kBlbVersion] != kBlobVersion) {
      RaiseEngineError(kErrWrongVersion, cl::ToShort(names_.blb));
    }
    const uint32_t stored_end = cl::GetU32LE(header + kBlbEndOffset);
    const uint32_t stored_free = cl::GetU32LE(header + kBlbFreeHead);
    // The end offset stays where it was when it lies on the grid inside the file; otherwise it
    // goes down to the grid, at most to the last whole block of the file.
    const uint32_t base = kBlobHeaderSize;
    auto on_grid_below = [&](uint32_t offset) {
      return base + (offset - base) / block_size_ * block_size_;
    };
    end_ = std::min(on_grid_below(static_cast<uint32_t>(blb_.Size())),
                    on_grid_below(std::max(base, stored_end)));
    if (end_ != stored_end) {
      Change("blob file: its end offset " + N(stored_end) + " lay past its blocks: now " + N(end_));
    }
    owned_.assign(Block(end_), false);
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!Live(n)) continue;
      for (const TFieldDefinition& f : fields_) {
        if (!f.IsBlob()) continue;
        uint8_t* field = records_[n - 1].data() + f.offset;
        const uint32_t first = cl::GetU32LE(field + 1);
        if (first == 0) continue;
        std::vector<uint32_t> chain;
        const std::string fault = ChainFault(n, first, chain);
        if (fault.empty()) {
          for (uint32_t b : chain) owned_[Block(b)] = true;
          continue;
        }
        field[0] = 0;
        cl::PutU32LE(field + 1, 0);
        Touch(n);
        Change("record " + N(n) + ", field " + f.name + ": its value was lost (" + fault +
               "): the field is now NULL");
      }
    }
    const uint32_t free_head = RebuildFreeChain(stored_free);
    if (free_head != stored_free || end_ != stored_end) {
      cl::PutU32LE(header + kBlbFreeHead, free_head);
      cl::PutU32LE(header + kBlbEndOffset, end_);
      cl::PutU32LE(header + kBlbChangeCounter, cl::GetU32LE(header + kBlbChangeCounter) + 1);
      if (Encrypted()) EncipherBuffer(header, kBlobHeaderSize, kDataKeyA, kDataKeyB);
      blb_.WriteAt(0, header, static_cast<int32_t>(kBlobHeaderSize));
    }
  }

  // The free chain is kept when it holds exactly the blocks no value keeps; else it is written
  // again over them in ascending order.  Returns its head.
  uint32_t RebuildFreeChain(uint32_t stored_free) {
    std::vector<uint32_t> free;
    for (size_t k = 0; k < owned_.size(); ++k) {
      if (!owned_[k]) free.push_back(static_cast<uint32_t>(kBlobHeaderSize + k * block_size_));
    }
    std::unordered_set<uint32_t> seen;
    bool sound = true;
    for (uint32_t b = stored_free; b != 0 && sound; b = BlockHeaderAt(b).next) {
      sound = OnGrid(b) && !owned_[Block(b)] && seen.insert(b).second;
    }
    if (sound && seen.size() == free.size()) return stored_free;
    for (size_t i = 0; i < free.size(); ++i) {
      TBlockHeader bh;
      bh.next = i + 1 < free.size() ? free[i + 1] : 0;
      WriteBlockHeader(free[i], bh);
    }
    Change("blob file: the free chain was rebuilt over the " + N(free.size()) +
           " blocks that no value keeps");
    return free.empty() ? 0 : free.front();
  }

  void RebuildDeletedChain() {
    std::vector<uint32_t> deleted;
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!Live(n)) deleted.push_back(n);
    }
    const uint32_t head = h_.DeletedHead();
    bool sound;
    if (never_reuses_) {
      sound = head == 0 || (head <= records_.size() && !Live(head));
    } else {
      std::unordered_set<uint32_t> seen;
      sound = true;
      for (uint32_t n = head; n != 0 && sound;
           n = cl::GetU32LE(records_[n - 1].data() + kRecLink)) {
        sound = n <= records_.size() && !Live(n) && seen.insert(n).second;
      }
      sound = sound && seen.size() == deleted.size();
    }
    if (sound) return;
    for (size_t i = 0; i < deleted.size(); ++i) {
      const uint32_t next = i + 1 < deleted.size() ? deleted[i + 1] : 0;
      uint8_t* link = records_[deleted[i] - 1].data() + kRecLink;
      if (cl::GetU32LE(link) == next) continue;
      cl::PutU32LE(link, next);
      Touch(deleted[i]);
    }
    h_.SetDeletedHead(deleted.empty() ? 0 : deleted.front());
    header_dirty_ = true;
    Change("data file: the deleted chain was rebuilt over " + N(deleted.size()) + " deleted slots");
  }

  void WriteRecords() {
    const size_t size = h_.RecordSize();
    Bytes image(size);
    for (uint32_t n = 1; n <= records_.size(); ++n) {
      if (!dirty_[n - 1]) continue;
      image = records_[n - 1];
      if (Encrypted()) EncipherBuffer(image.data(), size, kDataKeyA, kDataKeyB);
      dat_.WriteAt(static_cast<int64_t>(h_.DataStart()) + int64_t{n - 1} * int64_t(size),
                   image.data(), static_cast<int32_t>(size));
    }
    // The header goes last, so that it never counts records that are not there.
    if (header_dirty_) {
      h_.SetChangeCounter(h_.ChangeCounter() + 1);
      dat_.WriteAt(0, h_.Bytes().data(), static_cast<int32_t>(kDataHeaderSize));
    }
  }

  const TTableNames& names_;
  const Repeats& repeats_;
  std::vector<std::string>& changes_;
  TFileHandler dat_, idx_, blb_;
  TDataHeader h_;
  bool header_dirty_ = false;
  bool never_reuses_ = false;
  std::vector<TFieldDefinition> fields_;
  std::vector<Bytes> records_;  // every slot, deciphered
  std::vector<bool> dirty_;
  uint32_t block_size_ = 0;
  uint32_t end_ = 0;
  std::vector<bool> owned_;  // per block below end_: kept by a value
};

// Step 4: every index filled again from the live records.  Returns the records whose key repeats
// an earlier one in a unique index (nothing is rebuilt then; the caller deletes them and comes
// back).  Without `force` a table that passes the check is left as it is.  The check's findings are
// reported on the first round only: later the indexes are empty by the repair's own doing.
Repeats RebuildIndexes(const std::string& dat_name, bool force, bool first_round,
                       TTableRepairReport& report) {
  TDataFile t;
  t.SetExclusive(true);
  t.SetRepairMode(true);
  t.SetFileName(dat_name);
  t.Open();
  // Any failure below leaves the closing to the handle's destructor.
  Repeats repeats;
  {
    const TTableCheckReport check = CheckTable(t);
    report.live_records = check.live_records;
    report.deleted_records = check.deleted_records;
    if (check.ok() && !force) {
      t.Close();
      return repeats;
    }
    for (const std::string& problem : check.problems) {
      if (!first_round) break;
      report.changes.push_back("found before the indexes were rebuilt: " + problem);
    }
    const TDataHeader& h = t.Header();
    std::vector<Bytes> records(h.NextRecord() - 1);
    for (uint32_t n = 1; n <= records.size(); ++n) {
      Bytes& r = records[n - 1];
      r.assign(t.GetRecordBufferSize(), 0);
      t.ReadAt(static_cast<int64_t>(h.DataStart()) + int64_t{n - 1} * h.RecordSize(), r.data(),
               h.RecordSize());
      if (h.Encrypted()) DecipherBuffer(r.data(), h.RecordSize(), kDataKeyA, kDataKeyB);
    }
    auto live = [&](uint32_t n) { return records[n - 1][kRecDeleted] == 0; };
    TIndexFile& index = t.IndexFile();
    index.EmptyIndexes();
    std::vector<uint8_t> slots;
    if (!index.NoPrimaryFields()) slots.push_back(0);
    for (int s = 1; s <= index.SecondaryCount(); ++s) slots.push_back(static_cast<uint8_t>(s));
    uint8_t key[kMaxKeyLength];
    for (uint8_t slot : slots) {
      index.SelectIndex(slot);
      for (uint32_t n = 1; n <= records.size(); ++n) {
        if (!live(n) || repeats.count(n) != 0) continue;
        t.BuildKey(records[n - 1].data(), key, slot);
        try {
          index.CheckKeyViolation(key);
        } catch (const ETesseraEngineError& e) {
          if (e.GetError(0).ErrorCode() != kErrKeyViolation) throw;
          repeats.emplace(n, slot == 0 ? std::string("Primary") : index.CurrentIndexName());
          continue;
        }
        index.InsertKey(key, n);
      }
    }
    if (!repeats.empty()) {
      index.EmptyIndexes();
      t.Close();
      return repeats;
    }
    if (!t.NeverReusesSlots()) {
      index.SelectIndex(kSysDeletedSlot);
      for (uint32_t n = 1; n <= records.size(); ++n) {
        key[0] = records[n - 1][kRecDeleted];
        EncodeInt32Key(static_cast<int32_t>(cl::GetU32LE(records[n - 1].data() + kRecSequence)),
                       key + 1);
        index.InsertKey(key, n);
      }
    }
    report.live_records = report.deleted_records = 0;
    for (uint32_t n = 1; n <= records.size(); ++n) {
      if (!live(n)) {
        ++report.deleted_records;
        continue;
      }
      ++report.live_records;
      index.IncRecordCount();
    }
    index.SelectIndex(0);
    t.CommitTransaction(true, true, true);
    t.Close();
    report.changes.push_back("every index was rebuilt from the " + N(report.live_records) +
                             " live records");
  }
  return repeats;
}

}  // namespace

TTableRepairReport RepairTableFiles(std::string_view table_name) {
  const TTableNames names = NamesOf(table_name);
  // An exclusive open first: whatever the engine itself brings back at an open happens before the
  // files are judged.  Its refusal is no answer yet: the damage it meets is what the repair is
  // for, and the refusals that stop the repair (in use, password) come again, raised, from the
  // files' own opens below.
  TTableRepairReport report;
  {
    TDataFile t;
    t.SetExclusive(true);
    t.SetRepairMode(true);
    t.SetFileName(names.dat);
    try {
      t.Open();
      t.Close();
    } catch (const ETesseraEngineError&) {
      // See above.
    }
    if (t.RecoveryAtOpen() == TRecovery::kCompleted) {
      report.changes.push_back("the commit of a writer stopped half-way was completed");
    } else if (t.RecoveryAtOpen() == TRecovery::kDropped) {
      report.changes.push_back(
          "the commit of a writer stopped half-way was dropped (no whole journal)");
    }
  }
  Repeats repeats;
  // Removing repeated keys makes no new repetitions, so the second round always ends it.
  for (int round = 0; round < 2; ++round) {
    const size_t before = report.changes.size();
    FileRepair(names, repeats, report.changes).Run();
    repeats =
        RebuildIndexes(names.dat, round > 0 || report.changes.size() != before, round == 0, report);
    if (repeats.empty()) return report;
  }
  RaiseEngineError(kErrIndexPageCorrupt, cl::ToShort(names.dat));
}

}  // namespace tessera
