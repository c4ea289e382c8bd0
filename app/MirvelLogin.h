// The login under which this workstation's user connects and under which the database creation
// tool records the first user.
#pragma once

#include <string>

namespace mirvel {

// The environment variable MIRVEL_LOGIN when set and not empty (several workstations under one
// account, for tests and demonstrations), else the system's login name; Windows-1252.  Empty when
// neither tells: an empty login never identifies a user.
std::string MirvelLogin();

}  // namespace mirvel
