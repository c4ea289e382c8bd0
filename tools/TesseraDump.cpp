#include "tools/TesseraDump.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/TPage.h"

namespace tessera {
namespace {

// Tree levels followed at most; a real tree of 4096-byte pages never comes near.
constexpr int kMaxLevels = 64;

uint64_t FileSizeOf(const std::vector<uint8_t>& image, const TDumpOptions& options) {
  return options.file_size != 0 ? options.file_size : image.size();
}

std::string Hex(const uint8_t* p, size_t n) {
  std::ostringstream s;
  s << std::hex << std::setfill('0');
  for (size_t i = 0; i < n; ++i) s << (i ? " " : "") << std::setw(2) << static_cast<int>(p[i]);
  return s.str();
}

const char* PageTypeName(uint8_t type) {
  switch (type) {
    case kPageRootInner:
      return "root inner";
    case kPageInner:
      return "inner";
    case kPageLeaf:
      return "leaf";
    case kPageRootLeaf:
      return "root leaf";
    default:
      return "unknown type";
  }
}

// Pages of one index, unpacked with that index's parameters.
class DumpPageOwner : public TPageOwner {
 public:
  DumpPageOwner(const TIndexParams& params, bool enciphered)
      : params_(params), enciphered_(enciphered) {}
  TIndexParams CurrentIndexParams() const override { return params_; }
  bool PagesEnciphered() const override { return enciphered_; }
  const std::string& ErrorFileName() const override { return name_; }

 private:
  TIndexParams params_;
  bool enciphered_;
  std::string name_;
};

class IndexDumper {
 public:
  IndexDumper(const std::vector<uint8_t>& image, const TDumpOptions& options, std::ostream& out)
      : image_(image), options_(options), out_(out) {}

  bool Run() {
    if (image_.size() < kIndexHeaderSize) {
      out_ << "index file: " << FileSize() << " bytes, shorter than its header\n";
      return false;
    }
    std::memcpy(header_, image_.data(), kIndexHeaderSize);
    if (options_.encrypted) DecipherBuffer(header_, kIndexHeaderSize, kDataKeyA, kDataKeyB);
    end_ = cl::GetU32LE(header_ + kIdxEndOffset);
    const int secondary = header_[kIdxSecondaryCount];
    out_ << "index file: " << FileSize() << " bytes, change counter "
         << cl::GetU32LE(header_ + kIdxChangeCounter) << ", version "
         << static_cast<int>(header_[kIdxVersion]) << ", end offset " << end_ << "\n"
         << "secondary indexes " << secondary << ", records "
         << cl::GetU32LE(header_ + kIdxRecordCount) << ", no primary key fields "
         << static_cast<int>(header_[kIdxNoPrimaryFields]) << ", changed mark "
         << static_cast<int>(header_[kIdxChangedMark]) << "\n";
    switch (CheckIndexHeader(header_)) {
      case TIndexHeaderFault::kNone:
        out_ << "header check: ok\n";
        break;
      case TIndexHeaderFault::kVersion:
        out_ << "header check: wrong version\n";
        ok_ = false;
        break;
      case TIndexHeaderFault::kCorrupt:
        out_ << "header check: damaged\n";
        ok_ = false;
        break;
    }
    if (end_ > FileSize()) out_ << "note: the end offset lies past the end of the file\n";
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
      if (slot > std::min(secondary, kMaxSecondaryIndexes) && slot < kSysDeletedSlot) continue;
      DumpSlot(slot);
    }
    return ok_;
  }

 private:
  uint64_t FileSize() const { return FileSizeOf(image_, options_); }

  void DumpSlot(int slot) {
    const TIndexDescriptor d = DecodeIndexDescriptor(header_ + DescriptorOffset(slot));
    out_ << "slot " << slot;
    if (!d.name.empty()) out_ << " \"" << cl::Cp1252ToUtf8(d.name) << "\"";
    if (d.key_length == 0) {
      out_ << ": unused\n";
      return;
    }
    out_ << ": key length " << d.key_length << ", compression " << static_cast<int>(d.compression)
         << (d.descending ? ", descending" : "") << (d.case_insensitive ? ", case-insensitive" : "")
         << (d.unique ? ", unique" : "") << ", fields";
    const int fields = std::min<int>(d.field_count, kMaxKeyFields);
    for (int i = 0; i < fields; ++i) {
      out_ << " " << d.field_numbers[i] << (d.field_descending[i] ? " desc" : "");
    }
    out_ << ", root " << d.root << ", free head " << d.free_head << "\n";
    if (d.key_length > kMaxKeyLength || d.compression > kMaxCompression ||
        (HasKeySuffix(slot, d.unique != 0) && d.key_length < kKeySuffixSize)) {
      out_ << "  descriptor out of range: pages not read\n";
      ok_ = false;
      return;
    }
    const TIndexParams params{d.key_length, static_cast<uint8_t>(slot), d.descending != 0,
                              d.unique != 0, d.compression};
    DumpPageOwner owner(params, options_.encrypted);
    uint32_t leftmost = d.root;
    for (int level = 1; leftmost != 0 && level <= kMaxLevels; ++level) {
      out_ << "  level " << level << ":\n";
      leftmost = DumpLevel(owner, leftmost);
    }
    DumpFreeChain(d.free_head);
  }

  // Loads the page at `offset` into `page`; false (with a note) when it cannot be.
  bool LoadPage(uint32_t offset, TPage& page) {
    if (!IsValidPageOffset(offset, end_)) {
      out_ << "    " << offset << ": not a page of this file\n";
      ok_ = false;
      return false;
    }
    if (!seen_.insert(offset).second) {
      out_ << "    " << offset << ": reached twice\n";
      ok_ = false;
      return false;
    }
    uint8_t image[kIndexPageSize] = {};
    if (offset < image_.size()) {
      std::memcpy(image, image_.data() + offset,
                  std::min<size_t>(kIndexPageSize, image_.size() - offset));
    }
    try {
      page.Unpack(image, false);
    } catch (const ETesseraEngineError&) {
      uint8_t plain[kIndexPageSize];
      std::memcpy(plain, image, kIndexPageSize);
      if (options_.encrypted) DecipherBuffer(plain, kIndexPageSize, kDataKeyA, kDataKeyB);
      out_ << "    " << offset << ": damaged page (type " << static_cast<int>(plain[kPageType])
           << ", count " << cl::GetU16LE(plain + kPageCount) << ", bytes in use "
           << cl::GetU16LE(plain + kPageBytesInUse) << ")\n";
      ok_ = false;
      return false;
    }
    return true;
  }

  // One level from its leftmost page along the right links; the next level's leftmost page.
  uint32_t DumpLevel(DumpPageOwner& owner, uint32_t leftmost) {
    uint32_t below = 0;
    uint32_t prev = 0;
    for (uint32_t offset = leftmost; offset != 0;) {
      TPage page(owner);
      if (!LoadPage(offset, page)) break;
      out_ << "    " << offset << ": " << PageTypeName(page.Type()) << ", " << page.Count()
           << " keys";
      if (page.IsCompressedLeaf()) out_ << ", " << page.BytesInUse() << " bytes in use";
      out_ << ", prev " << page.Prev() << ", next " << page.Next();
      if (page.Prev() != prev) {
        out_ << " (left link should be " << prev << ")";
        ok_ = false;
      }
      if (!page.IsLeaf()) out_ << ", total " << page.TotalCount();
      out_ << "\n";
      if (offset == leftmost && !page.IsLeaf() && page.Count() > 0) below = page.ValueAt(1);
      if (options_.entries) {
        for (uint16_t slot = 1; slot <= page.Count(); ++slot) {
          out_ << "      #" << slot << " " << Hex(page.KeyAt(slot), page.KeyLength());
          if (page.IsLeaf()) {
            out_ << " record " << page.ValueAt(slot) << "\n";
          } else {
            out_ << " child " << page.ValueAt(slot) << " count " << page.SubtreeCountAt(slot)
                 << "\n";
          }
        }
      }
      prev = offset;
      offset = page.Next();
    }
    return below;
  }

  void DumpFreeChain(uint32_t head) {
    out_ << "  free pages:";
    size_t count = 0;
    std::set<uint32_t> chain;
    for (uint32_t offset = head; offset != 0; ++count) {
      if (!IsValidPageOffset(offset, end_) || offset + kIndexPageSize > image_.size()) {
        out_ << " " << offset << " (not a page of this file)";
        ok_ = false;
        break;
      }
      if (!chain.insert(offset).second || !seen_.insert(offset).second) {
        out_ << " " << offset << " (reached twice)";
        ok_ = false;
        break;
      }
      out_ << " " << offset;
      uint8_t link[kPageEntries];
      std::memcpy(link, image_.data() + offset, kPageEntries);
      // The whole page passes through the cipher; its first bytes decipher on their own.
      if (options_.encrypted) DecipherBuffer(link, kPageEntries, kDataKeyA, kDataKeyB);
      offset = cl::GetU32LE(link + kPageNext);
    }
    out_ << (count == 0 ? " none" : "") << "\n";
  }

  const std::vector<uint8_t>& image_;
  const TDumpOptions& options_;
  std::ostream& out_;
  uint8_t header_[kIndexHeaderSize] = {};
  uint32_t end_ = 0;
  std::set<uint32_t> seen_;
  bool ok_ = true;
};

class BlobDumper {
 public:
  BlobDumper(const std::vector<uint8_t>& image, const TDumpOptions& options, std::ostream& out)
      : image_(image),
        options_(options),
        out_(out),
        block_size_(options.block_size == 0 ? kDefaultBlobBlockSize : options.block_size) {}

  bool Run() {
    if (block_size_ < kMinBlobBlockSize || block_size_ > kMaxBlobBlockSize) {
      out_ << "block size " << block_size_ << " is outside 64..65535\n";
      return false;
    }
    if (image_.size() < kBlobHeaderSize) {
      out_ << "blob file: " << FileSize() << " bytes, shorter than its header\n";
      return false;
    }
    uint8_t header[kBlobHeaderSize];
    std::memcpy(header, image_.data(), kBlobHeaderSize);
    if (options_.encrypted) DecipherBuffer(header, kBlobHeaderSize, kDataKeyA, kDataKeyB);
    end_ = cl::GetU32LE(header + kBlbEndOffset);
    const uint32_t free_head = cl::GetU32LE(header + kBlbFreeHead);
    out_ << "blob file: " << FileSize() << " bytes, block size " << block_size_ << " (payload "
         << block_size_ - kBlockHeaderSize << "), change counter "
         << cl::GetU32LE(header + kBlbChangeCounter) << ", version "
         << static_cast<int>(header[kBlbVersion]) << ", free head " << free_head << ", end offset "
         << end_ << "\n";
    if (header[kBlbVersion] != kBlobVersion) Damage("wrong version");
    if (end_ < kBlobHeaderSize || (end_ - kBlobHeaderSize) % block_size_ != 0) {
      Damage("the end offset is not on the block grid");
    }
    if (end_ > FileSize()) out_ << "note: the end offset lies past the end of the file\n";
    const uint32_t limit = std::min<uint64_t>(end_, image_.size()) > kBlobHeaderSize
                               ? static_cast<uint32_t>(std::min<uint64_t>(end_, image_.size()))
                               : static_cast<uint32_t>(kBlobHeaderSize);
    block_count_ = (limit - static_cast<uint32_t>(kBlobHeaderSize)) / block_size_;
    role_.assign(block_count_, 0);

    if (options_.entries) {
      for (uint32_t i = 0; i < block_count_; ++i) {
        const uint32_t at = OffsetOf(i);
        const TBlockHeader h = Header(at);
        out_ << "block " << at << ": prev " << h.previous << ", next " << h.next << ", used "
             << h.used << ", owner " << h.owner_record << ", total " << h.total_length << "\n";
      }
    }
    DumpFreeChain(free_head);
    out_ << "values:\n";
    for (uint32_t i = 0; i < block_count_; ++i) {
      if (role_[i] == 0 && Header(OffsetOf(i)).previous == 0) DumpValue(OffsetOf(i));
    }
    std::vector<uint32_t> unreached;
    for (uint32_t i = 0; i < block_count_; ++i) {
      if (role_[i] == 0) unreached.push_back(OffsetOf(i));
    }
    out_ << "blocks no chain reaches:";
    for (const uint32_t at : unreached) out_ << " " << at;
    out_ << (unreached.empty() ? " none" : "") << "\n";
    if (!unreached.empty()) ok_ = false;
    return ok_;
  }

 private:
  uint64_t FileSize() const { return FileSizeOf(image_, options_); }

  uint32_t OffsetOf(uint32_t index) const {
    return static_cast<uint32_t>(kBlobHeaderSize) + index * block_size_;
  }
  // The index of a block offset in the file, or -1.
  int64_t IndexOf(uint32_t offset) const {
    if (offset < kBlobHeaderSize || (offset - kBlobHeaderSize) % block_size_ != 0) return -1;
    const uint32_t index = (offset - static_cast<uint32_t>(kBlobHeaderSize)) / block_size_;
    return index < block_count_ ? static_cast<int64_t>(index) : -1;
  }
  TBlockHeader Header(uint32_t offset) const {
    uint8_t raw[kBlockHeaderSize];
    std::memcpy(raw, image_.data() + offset, kBlockHeaderSize);
    if (options_.encrypted) DecipherBuffer(raw, kBlockHeaderSize, kDataKeyA, kDataKeyB);
    return DecodeBlockHeader(raw);
  }
  void Damage(const std::string& what) {
    out_ << "damaged: " << what << "\n";
    ok_ = false;
  }

  // Writes the offset of the chain's next block and marks the block with `role`; false (with the
  // fault written) for an offset that is not a block of this file or a block reached before.
  bool Reach(uint32_t at, uint8_t role) {
    out_ << " " << at;
    const int64_t index = IndexOf(at);
    if (index < 0) {
      out_ << " (not a block of this file)";
      ok_ = false;
      return false;
    }
    if (role_[index] != 0) {
      out_ << " (reached twice)";
      ok_ = false;
      return false;
    }
    role_[index] = role;
    return true;
  }

  void DumpFreeChain(uint32_t head) {
    out_ << "free chain:";
    size_t count = 0;
    for (uint32_t at = head; at != 0; ++count) {
      if (!Reach(at, 1)) break;
      at = Header(at).next;
    }
    out_ << (count == 0 ? " none" : "") << " (" << count << " blocks)\n";
  }

  void DumpValue(uint32_t first) {
    const TBlockHeader head = Header(first);
    const uint32_t payload = block_size_ - static_cast<uint32_t>(kBlockHeaderSize);
    out_ << "  record " << head.owner_record << ": " << head.total_length << " bytes:";
    uint64_t held = 0;
    uint32_t prev = 0;
    size_t blocks = 0;
    for (uint32_t at = first; at != 0; ++blocks) {
      if (!Reach(at, 2)) break;
      const TBlockHeader h = Header(at);
      if (h.owner_record != head.owner_record) {
        out_ << " (owner " << h.owner_record << ")";
        ok_ = false;
      }
      if (h.previous != prev) {
        out_ << " (left link " << h.previous << ")";
        ok_ = false;
      }
      held += payload;
      prev = at;
      at = h.next;
    }
    out_ << " (" << blocks << " blocks)";
    if (held < head.total_length) {
      out_ << " (the chain is shorter than its length)";
      ok_ = false;
    }
    out_ << "\n";
  }

  const std::vector<uint8_t>& image_;
  const TDumpOptions& options_;
  std::ostream& out_;
  uint32_t block_size_;
  uint32_t end_ = 0;
  uint32_t block_count_ = 0;
  std::vector<uint8_t> role_;  // per block: 0 not reached, 1 free, 2 in a value
  bool ok_ = true;
};

}  // namespace

bool DumpIndexFile(const std::vector<uint8_t>& image, const TDumpOptions& options,
                   std::ostream& out) {
  return IndexDumper(image, options, out).Run();
}

bool DumpBlobFile(const std::vector<uint8_t>& image, const TDumpOptions& options,
                  std::ostream& out) {
  return BlobDumper(image, options, out).Run();
}

}  // namespace tessera
