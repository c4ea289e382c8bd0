#include "platform/FileTime.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace platform {

OsError GetFileLastWriteUtc(const std::string& path, CalendarTime& time) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return ErrnoToOsError(errno);
  struct tm fields;
  if (gmtime_r(&info.st_mtim.tv_sec, &fields) == nullptr) return kErrorInvalidParameter;
  const int year = fields.tm_year + 1900;
  if (year < 1 || year > 9999) return kErrorInvalidParameter;
  time.year = year;
  time.month = fields.tm_mon + 1;
  time.day = fields.tm_mday;
  time.hour = fields.tm_hour;
  time.minute = fields.tm_min;
  time.second = fields.tm_sec > 59 ? 59 : fields.tm_sec;
  time.millisecond = static_cast<int>(info.st_mtim.tv_nsec / 1000000);
  return kErrorSuccess;
}

}  // namespace platform
