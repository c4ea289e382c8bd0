// libFuzzer target: any text as a date, a time or both.  The first byte chooses the format set
// (the workstation's "dd/MM/yyyy" or the fixed "M/d/yyyy" with 12-hour times).  What parses must
// be a date the calendar can show.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/DateTimeText.h"

namespace {

void Show(cl::TDateTime value, const cl::TFormatSettings& settings) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  cl::DecodeDate(value, year, month, day);
  cl::DecodeTime(value, hour, minute, second, millisecond);
  cl::DateTimeToStr(value, settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static const cl::TFormatSettings system = cl::SystemFormatSettings();
  static const cl::TFormatSettings english = [] {
    cl::TFormatSettings s = cl::SystemFormatSettings();
    s.ShortDateFormat = "M/d/yyyy";
    s.LongTimeFormat = "h:mm:ss AMPM";
    s.ShortTimeFormat = "h:mm AMPM";
    s.TimeAMString = "AM";
    s.TimePMString = "PM";
    return s;
  }();
  const cl::TFormatSettings& settings = (data[0] & 1) != 0 ? english : system;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  cl::TDateTime value = 0;
  if (cl::TryStrToDate(text, value, settings)) Show(value, settings);
  if (cl::TryStrToTime(text, value, settings)) Show(value, settings);
  if (cl::TryStrToDateTime(text, value, settings)) Show(value, settings);
  return 0;
}
