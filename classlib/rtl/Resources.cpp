#include "classlib/rtl/Resources.h"

#include <map>
#include <mutex>
#include <utility>

#include "classlib/rtl/AsciiText.h"

namespace cl {
namespace {

std::string Key(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = AsciiUpper(c);
  return key;
}

struct Table {
  std::mutex mutex;
  std::map<std::string, std::pair<const uint8_t*, size_t>> entries;
};

Table& Resources() {
  static Table table;
  return table;
}

}  // namespace

void RegisterResource(std::string_view name, const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> guard(Resources().mutex);
  Resources().entries[Key(name)] = {data, size};
}

bool ResourceExists(std::string_view name) {
  std::lock_guard<std::mutex> guard(Resources().mutex);
  return Resources().entries.count(Key(name)) != 0;
}

TResourceStream::TResourceStream(std::string_view name) {
  std::lock_guard<std::mutex> guard(Resources().mutex);
  auto it = Resources().entries.find(Key(name));
  if (it == Resources().entries.end()) {
    throw EResNotFound("Ressource " + std::string(name) + " introuvable");
  }
  SetPointer(const_cast<uint8_t*>(it->second.first), static_cast<int64_t>(it->second.second));
}

int32_t TResourceStream::Write(const void*, int32_t) {
  throw EStreamError(
      "Impossible d'\xE9"
      "crire dans un flux de ressource");
}

}  // namespace cl
