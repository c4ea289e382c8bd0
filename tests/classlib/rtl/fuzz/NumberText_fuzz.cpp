// libFuzzer target: any text as an integer or floating-point number.  The first byte chooses the
// format set (the workstation's, with a decimal comma, or one with a point).  What parses must
// print as a text that parses again to the same integer, or to a number again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "classlib/rtl/NumberText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static const cl::TFormatSettings comma = cl::SystemFormatSettings();
  static const cl::TFormatSettings point = [] {
    cl::TFormatSettings s = cl::SystemFormatSettings();
    s.DecimalSeparator = '.';
    s.ThousandSeparator = ',';
    return s;
  }();
  const cl::TFormatSettings& settings = (data[0] & 1) != 0 ? point : comma;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  int64_t wide = 0;
  if (cl::TryStrToInt64(text, wide)) {
    int64_t again = 0;
    if (!cl::TryStrToInt64(cl::IntToStr(wide), again) || again != wide) std::abort();
  }
  int32_t narrow = 0;
  if (cl::TryStrToInt(text, narrow) && (!cl::TryStrToInt64(text, wide) || wide != narrow)) {
    std::abort();
  }
  double value = 0;
  if (cl::TryStrToFloat(text, value, settings) && std::isfinite(value)) {
    double again = 0;
    if (!cl::TryStrToFloat(cl::FloatToStr(value, settings), again, settings)) std::abort();
  }
  cl::TDecimalDigits digits;
  cl::ScanDecimalText(text, settings.DecimalSeparator, digits);
  return 0;
}
