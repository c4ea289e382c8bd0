// libFuzzer target: any bytes as a file for tessera-dump's readers.  The first byte chooses the
// reader (data file, index file, blob file, index check) and the options; for a blob file the
// next two give the block size.  The readers report damage in their account and never throw.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <vector>

#include "tools/DataFileDump.h"
#include "tools/IndexImageCheck.h"
#include "tools/TesseraDump.h"

namespace {

// An output stream that keeps nothing.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 1 << 20) return 0;
  NullBuffer buffer;
  std::ostream out(&buffer);
  tessera::TDumpOptions options;
  options.encrypted = (data[0] & 4) != 0;
  options.entries = (data[0] & 8) != 0;
  options.block_size = static_cast<uint32_t>(data[1] | data[2] << 8);
  const std::vector<uint8_t> image(data + 3, data + size);
  switch (data[0] & 3) {
    case 0:
      tessera::DumpDataFile(image, out);
      break;
    case 1:
      tessera::DumpIndexFile(image, options, out);
      break;
    case 2:
      tessera::DumpBlobFile(image, options, out);
      break;
    case 3:
      tessera::CheckIndexImage(image, options.encrypted, out);
      break;
  }
  return 0;
}
