#include "app/MirvelLogin.h"

#include "classlib/rtl/Cp1252.h"
#include "components/data/Helpers.h"
#include "platform/Environment.h"

namespace mirvel {

std::string MirvelLogin() {
  const std::string given = platform::GetEnv("MIRVEL_LOGIN");
  if (!given.empty()) return cl::Utf8ToCp1252(given);
  return comp::UserName();
}

}  // namespace mirvel
