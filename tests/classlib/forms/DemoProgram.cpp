#include "tests/classlib/forms/DemoProgram.h"

#include <cstdio>
#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"

namespace demo {
namespace {

std::string g_marker_file;

}  // namespace

void Start(int argc, char** argv) {
  g_marker_file = argv[1];
  cl::SetCommandLine(argc, argv);
  cl::Application().Initialize();
}

const std::string& MarkerFile() { return g_marker_file; }

void Mark(const std::string& line) {
  if (FILE* f = std::fopen(g_marker_file.c_str(), "ae")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// The icon file's own layout; see the graphics tests.
cl::TIcon StripedIcon() {
  std::vector<uint8_t> b(766, 0);
  cl::PutU16LE(&b[2], 1);
  cl::PutU16LE(&b[4], 1);
  b[6] = 32;
  b[7] = 32;
  b[8] = 16;
  cl::PutU16LE(&b[10], 1);
  cl::PutU16LE(&b[12], 4);
  cl::PutU32LE(&b[14], 744);
  cl::PutU32LE(&b[18], 22);
  cl::PutU32LE(&b[22], 40);
  cl::PutU32LE(&b[26], 32);
  cl::PutU32LE(&b[30], 64);
  cl::PutU16LE(&b[34], 1);
  cl::PutU16LE(&b[36], 4);
  cl::PutU32LE(&b[62 + 4], 0x0000FFFF);  // yellow
  cl::PutU32LE(&b[62 + 8], 0x00FF0000);  // red
  for (int row = 0; row < 32; ++row) {
    for (int col = 0; col < 16; ++col) b[126 + row * 16 + col] = (row + col) % 4 < 2 ? 0x11 : 0x22;
  }
  cl::TIcon icon;
  icon.LoadFromBytes(b);
  return icon;
}

}  // namespace demo
