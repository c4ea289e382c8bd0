#include "engine/components/TTesseraBlobStream.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/Application.h"
#include "engine/components/TTesseraDataSet.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

using namespace cl;

namespace {

constexpr int64_t kMaxBlobPosition = std::numeric_limits<int32_t>::max();

int32_t ClampPosition(int64_t position) {
  return static_cast<int32_t>(std::clamp<int64_t>(position, 0, kMaxBlobPosition));
}

}  // namespace

// The dataset's factory lives here, beside the one stream class it makes.
std::unique_ptr<TStream> TTesseraDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TTesseraBlobStream>(this, field, mode);
}

TTesseraBlobStream::TTesseraBlobStream(TTesseraDataSet* dataset, TField* field,
                                       TBlobStreamMode mode)
    : dataset_(dataset), field_(field) {
  if (dynamic_cast<TBlobField*>(field) == nullptr) {
    DatabaseErrorFmt(SFieldAccessError, {field->DisplayName(), "BLOB"});
  }
  if (mode != bmRead) {
    if (field->ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
    if (dataset->State() != dsEdit && dataset->State() != dsInsert) DatabaseError(SNotEditing);
  }
  TDataFile* handle = dataset->Handle();
  record_ = dataset->SelectBuffer();
  if (handle == nullptr || record_ == nullptr || field->FieldNo() <= 0) return;
  field_no_ = static_cast<uint16_t>(field->FieldNo());
  CheckEngineResult(
      handle->OpenBlob(TFieldSet::kWorking, field_no_, static_cast<uint8_t>(mode), record_));
  opened_ = true;
  if (mode == bmWrite) {
    // Emptying a value that held something is a change the record must keep.
    if (BlobSize() > 0) modified_ = true;
    CheckEngineResult(handle->TruncateBlob(TFieldSet::kWorking, field_no_, 0, record_));
  }
}

TTesseraBlobStream::~TTesseraBlobStream() {
  if (!opened_) return;
  try {
    if (modified_) {
      static_cast<TBlobField*>(field_)->SetModified(true);
      dataset_->DataEvent(deFieldChange, field_);
    } else if (dataset_->Handle() != nullptr && !static_cast<TBlobField*>(field_)->Modified()) {
      // A value changed since the record was read stays open until the post or the cancel:
      // closing it here would drop the change.
      CheckEngineResult(dataset_->Handle()->CloseBlob(TFieldSet::kWorking, field_no_, record_));
    }
  } catch (...) {
    Application().HandleException(dataset_);
  }
}

int32_t TTesseraBlobStream::BlobSize() {
  if (!opened_) return 0;
  int32_t size = 0;
  CheckEngineResult(dataset_->Handle()->GetBlobSize(TFieldSet::kWorking, field_no_, size, record_));
  return size;
}

int32_t TTesseraBlobStream::Read(void* buffer, int32_t count) {
  if (!opened_ || count <= 0 || position_ >= kMaxBlobPosition) return 0;
  int32_t read = 0;
  uint16_t code = dataset_->Handle()->ReadBlob(TFieldSet::kWorking, field_no_, read, count, buffer,
                                               ClampPosition(position_), record_);
  if (code != 0 && code != kErrEndOfBlob) TesseraError(code);
  read = std::clamp(read, 0, count);
  position_ += read;
  return read;
}

int32_t TTesseraBlobStream::Write(const void* buffer, int32_t count) {
  if (!opened_ || count <= 0) return 0;
  if (position_ + count > kMaxBlobPosition) RaiseEngineError(kErrInvalidBlobLength);
  CheckEngineResult(dataset_->Handle()->WriteBlob(TFieldSet::kWorking, field_no_, count, buffer,
                                                  ClampPosition(position_), record_));
  position_ += count;
  modified_ = true;
  return count;
}

int64_t TTesseraBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soFromBeginning:
      position_ = offset;
      break;
    case soFromCurrent:
      position_ += offset;
      break;
    case soFromEnd:
      position_ = BlobSize() + offset;
      break;
  }
  position_ = std::max<int64_t>(position_, 0);
  return position_;
}

void TTesseraBlobStream::SetSize(int64_t size) {
  if (!opened_) return;
  CheckEngineResult(dataset_->Handle()->TruncateBlob(TFieldSet::kWorking, field_no_,
                                                     ClampPosition(size), record_));
  modified_ = true;
}

}  // namespace tessera
