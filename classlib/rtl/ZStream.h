// TZDecompressionStream: reads the inflated bytes of a zlib stream held in another stream.
//
// Used for the resources the program carries compressed (the self-update installer image).
// Only reading is possible.  Running out of compressed input before the zlib stream ends gives a
// short read (ReadBuffer then raises EReadError); damaged data raises EZDecompressionError.
// Seeking supports querying the position, skipping forward (by reading) and going back to the
// start (which restarts the inflation at the source position the stream began at).
#pragma once

#include <cstdint>
#include <memory>

#include "classlib/rtl/Streams.h"

namespace cl {

class EZDecompressionError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class TZDecompressionStream : public TStream {
 public:
  // `source` is read from its current position and must outlive this stream.
  explicit TZDecompressionStream(TStream& source);
  ~TZDecompressionStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  // Raises EZDecompressionError for a write.
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  struct State;

  void Restart();

  TStream& source_;
  int64_t source_start_;
  int64_t position_ = 0;
  std::unique_ptr<State> state_;
};

}  // namespace cl
