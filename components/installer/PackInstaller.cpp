// Build step: packs the installer program into the form the self-update launcher carries.
//
//   PackInstaller <installer executable> <output file>
//
// Output: a zlib stream whose inflated bytes are [u32 little-endian N][N bytes of the program].
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <installer> <output>\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<unsigned char> plain(4);
  plain.insert(plain.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) return 1;
  const auto n = static_cast<uint32_t>(plain.size() - 4);
  for (int i = 0; i < 4; ++i) plain[i] = static_cast<unsigned char>(n >> (8 * i));
  uLongf packed_size = compressBound(static_cast<uLong>(plain.size()));
  std::vector<unsigned char> packed(packed_size);
  if (compress2(packed.data(), &packed_size, plain.data(), static_cast<uLong>(plain.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(packed.data()),
            static_cast<std::streamsize>(packed_size));
  return out.good() ? 0 : 1;
}
