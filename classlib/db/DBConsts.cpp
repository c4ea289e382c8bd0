#include "classlib/db/DBConsts.h"

#include "classlib/rtl/Exceptions.h"

namespace cl {

std::string DBFormat(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

void DatabaseError(std::string message) { throw EDatabaseError(std::move(message)); }

void DatabaseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args) {
  throw EDatabaseError(DBFormat(format, args));
}

}  // namespace cl
