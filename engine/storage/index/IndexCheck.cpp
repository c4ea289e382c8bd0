#include "engine/storage/index/IndexCheck.h"

#include <cstring>
#include <memory>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/TPage.h"

namespace tessera {
namespace {

constexpr size_t kMaxLevels = 64;

class CheckOwner : public TPageOwner {
 public:
  TIndexParams params;
  bool enciphered = false;
  std::string name = "index check";
  TIndexParams CurrentIndexParams() const override { return params; }
  bool PagesEnciphered() const override { return enciphered; }
  const std::string& ErrorFileName() const override { return name; }
};

struct ChildRef {
  uint32_t offset;
  std::vector<uint8_t> key;
  uint32_t count;
};

class Checker {
 public:
  Checker(const uint8_t* header, const TPageImageReader& read, bool enciphered,
          TIndexCheckReport& report)
      : read_(read), report_(report) {
    owner_.enciphered = enciphered;
    end_ = cl::GetU32LE(header + kIdxEndOffset);
    seen_.assign(end_ / kIndexPageSize, false);
  }

  bool Fail(int slot, uint32_t offset, const std::string& what) {
    if (report_.ok) {
      report_.ok = false;
      report_.problem =
          "slot " + std::to_string(slot) + ", page " + std::to_string(offset) + ": " + what;
    }
    return false;
  }

  bool Mark(int slot, uint32_t offset) {
    if (!IsValidPageOffset(offset, end_)) return Fail(slot, offset, "offset outside the file");
    if (seen_[offset / kIndexPageSize]) return Fail(slot, offset, "page reached twice");
    seen_[offset / kIndexPageSize] = true;
    return true;
  }

  bool Read(int slot, uint32_t offset, uint8_t* image) {
    try {
      read_(offset, image);
    } catch (const ETesseraEngineError& e) {
      return Fail(slot, offset, "read failed: " + std::string(e.what()));
    }
    return true;
  }

  bool CheckTree(int slot, const TIndexDescriptor& d, const TKeyOrder& order);
  bool CheckFreeChain(int slot, uint32_t head);

  size_t Unreached() const {
    size_t n = 0;
    for (size_t i = 1; i < seen_.size(); ++i) n += seen_[i] ? 0 : 1;
    return n;
  }

 private:
  const TPageImageReader& read_;
  TIndexCheckReport& report_;
  CheckOwner owner_;
  uint32_t end_ = 0;
  std::vector<bool> seen_;
};

bool Checker::CheckTree(int slot, const TIndexDescriptor& d, const TKeyOrder& order) {
  owner_.params = {d.key_length, static_cast<uint8_t>(slot), d.descending != 0, d.unique != 0,
                   d.compression};
  const size_t k = d.key_length;
  const bool strict = slot == 0 || d.unique != 0;
  std::vector<ChildRef> level;
  if (d.root == 0) return true;
  level.push_back({d.root, {}, 0});
  uint8_t image[kIndexPageSize];
  for (size_t depth = 0; !level.empty(); ++depth) {
    if (depth >= kMaxLevels) return Fail(slot, d.root, "tree too deep");
    std::vector<ChildRef> next_level;
    std::vector<uint8_t> previous_key;
    bool leaves = false;
    for (size_t i = 0; i < level.size(); ++i) {
      const ChildRef& ref = level[i];
      if (!Mark(slot, ref.offset) || !Read(slot, ref.offset, image)) return false;
      ++report_.tree_pages;
      auto page = std::make_unique<TPage>(owner_);
      try {
        page->Unpack(image, false);
      } catch (const ETesseraEngineError&) {
        return Fail(slot, ref.offset, "damaged page");
      }
      const uint8_t type = page->Type();
      if (depth == 0 ? (type != kPageRootInner && type != kPageRootLeaf)
                     : (type != kPageInner && type != kPageLeaf)) {
        return Fail(slot, ref.offset, "wrong page type " + std::to_string(type));
      }
      if (i == 0) leaves = page->IsLeaf();
      if (page->IsLeaf() != leaves) return Fail(slot, ref.offset, "leaves at different depths");
      if (page->Count() == 0) return Fail(slot, ref.offset, "empty page");
      const uint32_t want_prev = i == 0 ? 0 : level[i - 1].offset;
      const uint32_t want_next = i + 1 == level.size() ? 0 : level[i + 1].offset;
      if (page->Prev() != want_prev || page->Next() != want_next) {
        return Fail(slot, ref.offset, "neighbour links out of order");
      }
      if (page->IsLeaf() ? (d.compression == kCompressNone && page->Count() > LeafCapacity(k))
                         : page->Count() > InnerCapacity(k)) {
        return Fail(slot, ref.offset, "page over capacity");
      }
      if (depth > 0) {
        if (std::memcmp(page->KeyAt(1), ref.key.data(), k) != 0) {
          return Fail(slot, ref.offset, "parent key is not the page's first key");
        }
        if (page->TotalCount() != ref.count) {
          return Fail(slot, ref.offset,
                      "parent count " + std::to_string(ref.count) + " but " +
                          std::to_string(page->TotalCount()) + " keys below");
        }
      }
      for (uint16_t s = 1; s <= page->Count(); ++s) {
        const uint8_t* key = page->KeyAt(s);
        if (!previous_key.empty()) {
          const int c = order.Compare(previous_key.data(), key, k);
          if (c > 0 || (strict && c == 0)) {
            return Fail(slot, ref.offset, "keys out of order at slot " + std::to_string(s));
          }
        }
        previous_key.assign(key, key + k);
        if (!page->IsLeaf()) {
          next_level.push_back(
              {page->ValueAt(s), std::vector<uint8_t>(key, key + k), page->SubtreeCountAt(s)});
        }
      }
      if (depth == 0) report_.keys[slot] = static_cast<uint32_t>(page->TotalCount());
    }
    level = std::move(next_level);
  }
  return true;
}

bool Checker::CheckFreeChain(int slot, uint32_t head) {
  uint8_t image[kIndexPageSize];
  for (uint32_t offset = head; offset != 0;) {
    if (!Mark(slot, offset) || !Read(slot, offset, image)) return false;
    ++report_.free_pages;
    if (owner_.enciphered) DecipherBuffer(image, kIndexPageSize, kDataKeyA, kDataKeyB);
    if (cl::GetU16LE(image + kPageCount) != 0) {
      return Fail(slot, offset, "page on the free chain holds entries");
    }
    offset = cl::GetU32LE(image + kPageNext);
  }
  return true;
}

}  // namespace

TIndexCheckReport CheckIndexFile(const uint8_t* header, const TPageImageReader& read,
                                 const TKeyOrderForSlot& order_for_slot, bool enciphered,
                                 bool require_every_page) {
  TIndexCheckReport report;
  if (CheckIndexHeader(header) != TIndexHeaderFault::kNone) {
    report.ok = false;
    report.problem = "damaged header";
    return report;
  }
  Checker checker(header, read, enciphered, report);
  const int secondary = header[kIdxSecondaryCount];
  for (int slot = 0; slot < kIndexSlotCount && report.ok; ++slot) {
    if (slot > secondary && slot < kSysDeletedSlot) continue;
    const TIndexDescriptor d = DecodeIndexDescriptor(header + DescriptorOffset(slot));
    if (d.key_length == 0) {
      if (d.root != 0 || d.free_head != 0) checker.Fail(slot, d.root, "unused slot owns pages");
      continue;
    }
    const TKeyOrder order =
        order_for_slot ? order_for_slot(slot, d) : TKeyOrder::WithoutTable(slot, d);
    if (checker.CheckTree(slot, d, order)) checker.CheckFreeChain(slot, d.free_head);
  }
  if (report.ok && require_every_page && checker.Unreached() != 0) {
    report.ok = false;
    report.problem = std::to_string(checker.Unreached()) + " pages reached from no tree or chain";
  }
  return report;
}

}  // namespace tessera
