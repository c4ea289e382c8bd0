// libFuzzer target: any bytes as a zlib stream, inflated (at most 1 MB of it: a small input may
// inflate to gigabytes).  Damage and truncation come out as the class library's stream errors
// only.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "classlib/rtl/Streams.h"
#include "classlib/rtl/ZStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  cl::TMemoryStream source;
  source.Write(data, static_cast<int32_t>(size));
  source.Seek(0, cl::soFromBeginning);
  try {
    cl::TZDecompressionStream inflated(source);
    std::vector<uint8_t> chunk(4096);
    for (int total = 0; total < 1 << 20;) {
      const int32_t n = inflated.Read(chunk.data(), static_cast<int32_t>(chunk.size()));
      if (n <= 0) break;
      total += n;
    }
    inflated.Seek(0, cl::soFromBeginning);
    inflated.Read(chunk.data(), static_cast<int32_t>(chunk.size()));
  } catch (const cl::EStreamError&) {
  }
  return 0;
}
