// A second process for the message tests: posts one message to a handle of another process.
//   MessageHelper <hwnd> <msg> <wParam>     exit code 0 when PostMessage returned true, else 1
#include <cstdlib>

#include "classlib/rtl/Messages.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const auto number = [](const char* text) { return std::strtoul(text, nullptr, 10); };
  const bool posted = cl::PostMessage(static_cast<cl::HWND>(number(argv[1])),
                                      static_cast<uint32_t>(number(argv[2])), number(argv[3]), 0);
  return posted ? 0 : 1;
}
