#include "engine/storage/index/TIndexFile.h"

#include <cstring>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {

TIndexFile::TIndexFile(TIndexFileOwner& owner) : owner_(owner) {}

TIndexFile::~TIndexFile() {
  try {
    Close();
  } catch (...) {
    // Destructors never throw.
  }
}

void TIndexFile::RaiseData(uint16_t code) const {
  RaiseEngineError(code, cl::ToShort(owner_.DataFileName()));
}

std::string TIndexFile::MakeFileName(std::string_view table_name) {
  const std::string stem = RemoveFileExtension(table_name);
  if (cl::SameAsciiText(table_name.substr(stem.size()), ".IDX")) return std::string(table_name);
  return std::string(table_name) + ".IDX";
}

uint32_t TIndexFile::EndOffset() const { return cl::GetU32LE(header_ + kIdxEndOffset); }
uint8_t TIndexFile::SecondaryCount() const { return header_[kIdxSecondaryCount]; }
uint32_t TIndexFile::RecordCount() const { return cl::GetU32LE(header_ + kIdxRecordCount); }
bool TIndexFile::NoPrimaryFields() const { return header_[kIdxNoPrimaryFields] != 0; }

TIndexDescriptor TIndexFile::GetIndexDescriptor(int slot) const {
  if (slot < 0 || slot >= kIndexSlotCount) RaiseData(kErrIndexPageCorrupt);
  return DecodeIndexDescriptor(header_ + DescriptorOffset(slot));
}

void TIndexFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
    // Pages reach the disk before the header that counts them, so an end past the file's length
    // is damage: trusted, the first new page would be written out there.
    if (EndOffset() > static_cast<uint32_t>(Size())) RaiseData(kErrIndexPageCorrupt);
    current_slot_ = 0;
    ResetTreeState();
    if (!owner_.InRepairMode()) cursor_.First();
  } catch (...) {
    ResetTreeState();
    TFileHandler::Close();
    throw;
  }
  current_slot_ = 0;
}

void TIndexFile::Close() {
  ForgetHeaderInFile();
  current_slot_ = 0;
  ResetTreeState();
  TFileHandler::Close();
}

void TIndexFile::CreateNew() {
  TFileHandler::CreateNew();
  InitNewIndexHeader(header_);
  header_changed_ = true;
  current_slot_ = 0;
}

void TIndexFile::ReadHeader() {
  ForgetHeaderInFile();
  uint8_t image[kIndexHeaderSize];
  ReadHeaderImage(image, kIndexHeaderSize, owner_.Encrypted());
  // Nothing of a damaged header is kept.
  switch (CheckIndexHeader(image)) {
    case TIndexHeaderFault::kVersion:
      RaiseData(kErrWrongVersion);
    case TIndexHeaderFault::kCorrupt:
      RaiseData(kErrIndexPageCorrupt);
    case TIndexHeaderFault::kNone:
      break;
  }
  std::memcpy(header_, image, kIndexHeaderSize);
  KeepHeaderInFile();
  header_changed_ = false;
}

bool TIndexFile::HeaderEnciphered() const { return owner_.Encrypted(); }

void TIndexFile::ReadPage(uint32_t offset, TPage& page) {
  if (!IsValidPageOffset(offset, EndOffset())) RaiseData(kErrIndexPageCorrupt);
  page.Reset();
  uint8_t image[kIndexPageSize];
  // A page appended inside a transaction (or on an exclusive file) may not be on disk yet.
  const bool allow_short = Exclusive() || owner_.InExclusivePhase();
  const int32_t got = ReadAt(offset, image, kIndexPageSize, allow_short);
  std::memset(image + got, 0, kIndexPageSize - static_cast<size_t>(got));
  page.Unpack(image, false);
  page.SetOffset(offset);
}

void TIndexFile::WritePage(TPage& page) {
  const uint32_t offset = page.Offset();
  if (!IsValidPageOffset(offset, EndOffset())) RaiseData(kErrIndexPageCorrupt);
  uint8_t image[kIndexPageSize];
  page.Pack(image);
  WriteAt(offset, image, kIndexPageSize);
}

void TIndexFile::SelectIndex(uint8_t slot) {
  // Slots past the secondary count were not checked when the header was read.
  if (slot != kRecordOrderSlot &&
      (slot >= kIndexSlotCount || (slot > SecondaryCount() && slot < kSysDeletedSlot))) {
    RaiseData(kErrIndexPageCorrupt);
  }
  current_slot_ = slot;
}

TIndexParams TIndexFile::CurrentIndexParams() const {
  if (current_slot_ != kRecordOrderSlot) return IndexParamsOf(header_, current_slot_);
  TIndexParams params;
  params.slot = current_slot_;
  params.key_length = 4;  // the record number
  params.unique = true;
  return params;
}

}  // namespace tessera
