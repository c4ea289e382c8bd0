// Index management on TIndexFile: defining the indexes of a new table, choosing the current
// index, emptying the file, and the cache and page hooks of the trees (see TIndexFile.h).
#include <algorithm>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/values/EngineStrings.h"
#include "engine/storage/values/FieldTypes.h"

namespace tessera {

void TIndexFile::ResetTreeState() {
  cache_.Invalidate();
  cache_.ClearStatistics();
  tree_.BumpVersion();
  cursor_.CancelRange();
  cursor_.SetBitMapMode(false);
  cursor_.VisibleMap().clear();
  cursor_.SetVisibleCount(0);
  cursor_.Reset();
}

uint32_t TIndexFile::PhysicalRecordCount() const {
  // The header counts live records only; the data file knows the slots of deleted ones too.
  return std::max(owner_.PhysicalRecordCount(), RecordCount());
}

void TIndexFile::ReadPageImage(uint32_t offset, uint8_t* image) {
  // A page appended inside a transaction (or on an exclusive file) may not be on disk yet.
  const bool allow_short = Exclusive() || owner_.InExclusivePhase();
  const int32_t got = ReadAt(offset, image, kIndexPageSize, allow_short);
  std::memset(image + got, 0, kIndexPageSize - static_cast<size_t>(got));
}

void TIndexFile::WritePageImages(uint32_t offset, const uint8_t* images, size_t count,
                                 std::span<const TWriteBehindFile::Range> changed) {
  // Where every page read lies whole in the file (no short read is allowed), a page or a run of
  // them goes down as the span of its changed bytes, or not at all: the rest is the file's
  // already (a new page counts as changed whole, so the file still ends on a page).
  if (!Exclusive() && !owner_.InExclusivePhase()) {
    if (changed.empty()) return;
    const int64_t from = changed.front().from;
    WriteChangedAt(from, images + (from - offset), static_cast<int32_t>(changed.back().to - from),
                   changed);
    return;
  }
  WriteChangedAt(offset, images, static_cast<int32_t>(count), changed);
}

void TIndexFile::InvalidateCache() {
  cache_.Invalidate();
  tree_.BumpVersion();
}

void TIndexFile::IncRecordCount() {
  cl::PutU32LE(header_ + kIdxRecordCount, RecordCount() + 1);
  header_changed_ = true;
}

void TIndexFile::DecRecordCount() {
  if (RecordCount() > 0) cl::PutU32LE(header_ + kIdxRecordCount, RecordCount() - 1);
  header_changed_ = true;
}

std::string TIndexFile::CurrentIndexName() const {
  if (current_slot_ >= kIndexSlotCount) return {};
  return GetIndexDescriptor(current_slot_).name;
}

void TIndexFile::SelectIndexByName(std::string_view name) {
  if (current_slot_ < kIndexSlotCount && cl::AnsiSameText(name, CurrentIndexName())) return;
  SelectIndex(0);
  if (name.empty()) return;
  for (int slot = 1; slot <= SecondaryCount(); ++slot) {
    if (cl::AnsiSameText(name, GetIndexDescriptor(slot).name)) {
      SelectIndex(static_cast<uint8_t>(slot));
      return;
    }
  }
}

void TIndexFile::DefinePrimaryIndex(const TIndexDescriptor& descriptor) {
  if (!Exclusive()) RaiseData(kErrNeedExclusive);
  if (cl::GetU16LE(header_ + DescriptorOffset(0) + kDescKeyLength) != 0) {
    RaiseData(kErrPrimaryIndexExists);
  }
  if (descriptor.field_count > kMaxKeyFields) RaiseData(kErrIndexLimits);
  if (descriptor.field_count == 0) {
    header_[kIdxNoPrimaryFields] = 1;
    std::memset(header_ + DescriptorOffset(0), 0, kIndexDescriptorSize);
    header_changed_ = true;
    return;
  }
  for (int i = 0; i < descriptor.field_count; ++i) {
    TKeyField field;
    if (owner_.KeyFieldInfo(descriptor.field_numbers[i], field) && field.type == kFieldBlob) {
      RaiseData(kErrInvalidIndexFieldType);
    }
  }
  header_[kIdxNoPrimaryFields] = 0;
  TIndexDescriptor primary = descriptor;
  primary.name.clear();
  primary.root = 0;
  primary.free_head = 0;
  EncodeIndexDescriptor(primary, header_ + DescriptorOffset(0));
  header_changed_ = true;
}

void TIndexFile::AddSecondaryIndex(const TIndexDescriptor& descriptor) {
  if (!Exclusive()) RaiseData(kErrNeedExclusive);
  if (SecondaryCount() >= kMaxSecondaryIndexes) RaiseData(kErrIndexLimits);
  if (descriptor.field_count > kMaxKeyFields) RaiseData(kErrIndexLimits);
  // The stored name is at most 30 characters: cut first, so that the duplicate check compares
  // what will be stored and every index stays selectable by its name.
  const std::string name = descriptor.name.substr(0, kIndexNameMax);
  if (name.empty()) RaiseData(kErrIndexNameMissing);
  if (!IsNameLetter(name[0]))
    RaiseEngineError(kErrInvalidIndexName, owner_.DataFileName(), {}, name);
  for (int slot = 1; slot <= SecondaryCount(); ++slot) {
    if (cl::AnsiSameText(name, GetIndexDescriptor(slot).name)) {
      RaiseEngineError(kErrIndexExists, owner_.DataFileName(), {}, name);
    }
  }
  for (int i = 0; i < descriptor.field_count; ++i) {
    TKeyField field;
    if (owner_.KeyFieldInfo(descriptor.field_numbers[i], field) && field.type == kFieldBlob) {
      RaiseData(kErrInvalidIndexFieldType);
    }
  }
  const int slot = SecondaryCount() + 1;
  header_[kIdxSecondaryCount] = static_cast<uint8_t>(slot);
  TIndexDescriptor secondary = descriptor;
  secondary.name = name;
  secondary.root = 0;
  secondary.free_head = 0;
  EncodeIndexDescriptor(secondary, header_ + DescriptorOffset(slot));
  header_changed_ = true;
}

void TIndexFile::ClearIndexDescriptor(int slot) {
  if (!Exclusive()) RaiseData(kErrNeedExclusive);
  if (slot < 0 || slot >= kIndexSlotCount) RaiseData(kErrIndexPageCorrupt);
  std::memset(header_ + DescriptorOffset(slot), 0, kIndexDescriptorSize);
  header_changed_ = true;
}

void TIndexFile::EmptyIndexes() {
  TruncateAt(kIndexPageSize);
  header_[kIdxVersion] = kIndexVersion;
  cl::PutU32LE(header_ + kIdxEndOffset, kIndexPageSize);
  cl::PutU32LE(header_ + kIdxRecordCount, 0);
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    if (slot > SecondaryCount() && slot < kSysDeletedSlot) continue;
    cl::PutU32LE(header_ + DescriptorOffset(slot) + kDescRoot, 0);
    cl::PutU32LE(header_ + DescriptorOffset(slot) + kDescFreeHead, 0);
  }
  header_changed_ = true;
  cache_.Invalidate();
  tree_.BumpVersion();
  cursor_.Reset();
}

}  // namespace tessera
