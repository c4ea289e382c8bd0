#include "engine/storage/core/TPasswordList.h"

#include <algorithm>
#include <new>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

void TPasswordList::Add(std::string_view password) {
  if (password.empty()) return;
  try {
    passwords_.push_back(cl::ToShort(password));
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory);
  }
}

void TPasswordList::Remove(std::string_view password) {
  const std::string key = cl::ToShort(password);
  auto it = std::find(passwords_.begin(), passwords_.end(), key);
  if (it != passwords_.end()) passwords_.erase(it);
}

void TPasswordList::Clear() { passwords_.clear(); }

bool TPasswordList::Contains(std::string_view password) const {
  const std::string key = cl::ToShort(password);
  return std::find(passwords_.begin(), passwords_.end(), key) != passwords_.end();
}

}  // namespace tessera
