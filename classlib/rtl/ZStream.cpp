#include "classlib/rtl/ZStream.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace cl {

struct TZDecompressionStream::State {
  z_stream z{};
  bool initialized = false;
  bool finished = false;
  std::vector<uint8_t> input = std::vector<uint8_t>(16384);

  ~State() {
    if (initialized) inflateEnd(&z);
  }
};

namespace {

[[noreturn]] void Fail(const z_stream& z, int code) {
  std::string detail = z.msg ? z.msg : ("code " + std::to_string(code));
  throw EZDecompressionError(
      "Erreur de d\xE9"
      "compression : " +
      detail);
}

}  // namespace

TZDecompressionStream::TZDecompressionStream(TStream& source)
    : source_(source), source_start_(source.Position()) {
  Restart();
}

TZDecompressionStream::~TZDecompressionStream() = default;

void TZDecompressionStream::Restart() {
  auto state = std::make_unique<State>();
  const int code = inflateInit(&state->z);
  if (code != Z_OK) Fail(state->z, code);
  state->initialized = true;
  state_ = std::move(state);
  position_ = 0;
}

int32_t TZDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || state_->finished) return 0;
  z_stream& z = state_->z;
  z.next_out = static_cast<Bytef*>(buffer);
  z.avail_out = static_cast<uInt>(count);
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      const int32_t n =
          source_.Read(state_->input.data(), static_cast<int32_t>(state_->input.size()));
      if (n <= 0) break;  // the compressed data ends early: a short read
      z.next_in = state_->input.data();
      z.avail_in = static_cast<uInt>(n);
    }
    const int code = inflate(&z, Z_NO_FLUSH);
    if (code == Z_STREAM_END) {
      state_->finished = true;
      break;
    }
    if (code != Z_OK && code != Z_BUF_ERROR) Fail(z, code);
  }
  const int32_t done = count - static_cast<int32_t>(z.avail_out);
  position_ += done;
  return done;
}

int32_t TZDecompressionStream::Write(const void*, int32_t) {
  throw EZDecompressionError(
      "Op\xE9"
      "ration de flux incorrecte");
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = -1;
  if (origin == soFromBeginning) target = offset;
  if (origin == soFromCurrent) target = position_ + offset;
  if (target < 0 || origin == soFromEnd) {
    throw EZDecompressionError(
        "Op\xE9"
        "ration de flux incorrecte");
  }
  if (target < position_) {
    source_.SetPosition(source_start_);
    Restart();
  }
  std::vector<uint8_t> skip(4096);
  while (position_ < target) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(target - position_, 4096));
    if (Read(skip.data(), n) == 0) break;
  }
  return position_;
}

}  // namespace cl
