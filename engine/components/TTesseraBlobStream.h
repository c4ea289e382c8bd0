// A stream over one blob, memo or graphic field of the record buffer that the dataset's state
// selects, through the engine's blob calls on that buffer.
//
// Opening for writing requires an editing dataset and a field that is not read-only; bmWrite
// empties the value first.  Every engine result is checked: a failed write, truncation or read
// raises the engine error instead of letting a Post store a value that was never written.  A
// read past the end of the value returns the bytes there are.
//
// The written value stays open in the record buffer until the record is posted or cancelled
// (the dataset's CloseBlob ends it then); a stream that wrote nothing ends its access when it is
// destroyed.  Lifetime: shorter than the dataset's open cursor and the record it reads.
#pragma once

#include <cstdint>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Streams.h"

namespace cl {
class TField;
}

namespace tessera {

class TTesseraDataSet;

class TTesseraBlobStream : public cl::TStream {
 public:
  TTesseraBlobStream(TTesseraDataSet* dataset, cl::TField* field, cl::TBlobStreamMode mode);
  // A modified stream marks its field modified and signals the field change; errors there go to
  // the application's handler.
  ~TTesseraBlobStream() override;
  TTesseraBlobStream(const TTesseraBlobStream&) = delete;
  TTesseraBlobStream& operator=(const TTesseraBlobStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, cl::TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

 private:
  int32_t BlobSize();

  TTesseraDataSet* dataset_;
  cl::TField* field_;
  uint8_t* record_ = nullptr;
  uint16_t field_no_ = 0;
  bool opened_ = false;
  bool modified_ = false;
  int64_t position_ = 0;
};

}  // namespace tessera
