#include "platform/RegistryStore.h"

#include <charconv>
#include <string_view>
#include <utility>

#include "platform/ConfigFile.h"
#include "platform/Environment.h"
#include "platform/FileNames.h"

namespace platform {
namespace {

using Path = std::vector<std::string>;

struct Value {
  std::string name;
  RegValue value;
};

struct Key {
  Path path;
  std::vector<Value> values;
};

struct Hive {
  std::vector<Key> keys;
};

Path SplitPath(const std::string& key) {
  Path path;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('\\', start);
    if (end == std::string::npos) end = key.size();
    if (end > start) path.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return path;
}

bool SamePrefix(const Path& prefix, const Path& path) {
  if (prefix.size() > path.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!SameNameIgnoringCase(prefix[i], path[i])) return false;
  }
  return true;
}

bool SamePath(const Path& a, const Path& b) { return a.size() == b.size() && SamePrefix(a, b); }

// ---- escaping -------------------------------------------------------------------------------------

void AppendHex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  out.push_back('%');
  out.push_back(kDigits[c >> 4]);
  out.push_back(kDigits[c & 15]);
}

std::string EscapeText(std::string_view text, bool is_name) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool special_first = i == 0 && (c == '[' || c == ';' || c == '#');
    if (c == '%' || c == '\r' || c == '\n' || (is_name && (c == '=' || special_first))) {
      AppendHex(out, static_cast<unsigned char>(c));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string EscapeName(std::string_view name) {
  if (name.empty()) return "@";
  if (name == "@") return "%40";
  return EscapeText(name, true);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A "%" not followed by two hex digits stays as written.
std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string UnescapeName(std::string_view text) { return text == "@" ? "" : Unescape(text); }

// ---- parsing and writing --------------------------------------------------------------------------

Key& AddKey(Hive& hive, Path path) {
  for (Key& k : hive.keys) {
    if (SamePath(k.path, path)) return k;
  }
  hive.keys.push_back(Key{std::move(path), {}});
  return hive.keys.back();
}

void PutValue(Key& key, Value value) {
  for (Value& v : key.values) {
    if (SameNameIgnoringCase(v.name, value.name)) {
      v.value = std::move(value.value);
      return;
    }
  }
  key.values.push_back(std::move(value));
}

bool ParseValue(std::string_view payload, RegValue* value) {
  if (payload.size() < 2 || payload[1] != ':') return false;
  const std::string_view data = payload.substr(2);
  switch (payload[0]) {
    case 's':
      value->type = RegType::kString;
      value->data = Unescape(data);
      return true;
    case 'd': {
      int32_t n = 0;
      auto [end, ec] = std::from_chars(data.data(), data.data() + data.size(), n);
      if (ec != std::errc() || end != data.data() + data.size() || data.empty()) return false;
      value->type = RegType::kInteger;
      value->integer = n;
      return true;
    }
    case 'b': {
      if (data.size() % 2 != 0) return false;
      std::string bytes;
      for (size_t i = 0; i < data.size(); i += 2) {
        const int hi = HexValue(data[i]);
        const int lo = HexValue(data[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
      }
      value->type = RegType::kBinary;
      value->data = std::move(bytes);
      return true;
    }
    default:
      return false;
  }
}

Hive Parse(const std::string& text) {
  Hive hive;
  Key* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string_view::npos || close == 0) continue;
      Path path;
      for (const std::string& segment : SplitPath(std::string(line.substr(1, close - 1)))) {
        path.push_back(Unescape(segment));
      }
      current = &AddKey(hive, std::move(path));
      continue;
    }
    const size_t equal = line.find('=');
    if (equal == std::string_view::npos) continue;
    Value value;
    value.name = UnescapeName(line.substr(0, equal));
    if (!ParseValue(line.substr(equal + 1), &value.value)) continue;
    if (current == nullptr) current = &AddKey(hive, Path());
    PutValue(*current, std::move(value));
  }
  return hive;
}

std::string Serialize(const Hive& hive) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const Key& key : hive.keys) {
    if (!out.empty()) out += '\n';
    out += '[';
    for (size_t i = 0; i < key.path.size(); ++i) {
      if (i > 0) out += '\\';
      out += EscapeText(key.path[i], false);
    }
    out += "]\n";
    for (const Value& v : key.values) {
      out += EscapeName(v.name);
      switch (v.value.type) {
        case RegType::kString:
          out += "=s:" + EscapeText(v.value.data, false);
          break;
        case RegType::kInteger:
          out += "=d:" + std::to_string(v.value.integer);
          break;
        case RegType::kBinary:
        case RegType::kNone:
          out += "=b:";
          for (unsigned char c : v.value.data) {
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 15]);
          }
          break;
      }
      out += '\n';
    }
  }
  return out;
}

// ---- queries on a hive ----------------------------------------------------------------------------

const Key* FindKey(const Hive& hive, const Path& path) {
  for (const Key& k : hive.keys) {
    if (SamePath(k.path, path)) return &k;
  }
  return nullptr;
}

// A key exists when it is listed or when a listed key lies below it; the root always exists.
bool HasKey(const Hive& hive, const Path& path) {
  if (path.empty()) return true;
  for (const Key& k : hive.keys) {
    if (SamePrefix(path, k.path)) return true;
  }
  return false;
}

const Value* FindValue(const Hive& hive, const Path& path, const std::string& name) {
  const Key* key = FindKey(hive, path);
  if (key == nullptr) return nullptr;
  for (const Value& v : key->values) {
    if (SameNameIgnoringCase(v.name, name)) return &v;
  }
  return nullptr;
}

void AddName(std::vector<std::string>* names, const std::string& name) {
  for (const std::string& n : *names) {
    if (SameNameIgnoringCase(n, name)) return;
  }
  names->push_back(name);
}

// Makes the key and every parent explicit, so that the file lists them all.
Key& EnsureKey(Hive& hive, const Path& path) {
  for (size_t n = 1; n < path.size(); ++n) AddKey(hive, Path(path.begin(), path.begin() + n));
  return AddKey(hive, path);
}

OsError Load(const std::string& file, Hive* hive) {
  *hive = Hive();
  if (file.empty()) return kErrorSuccess;
  std::string text;
  bool exists = false;
  const OsError error = ReadConfigFile(file, &text, &exists);
  if (error != kErrorSuccess) return error;
  *hive = Parse(text);
  return kErrorSuccess;
}

// The user's file, then the fallback (an empty hive when there is none).
OsError LoadHives(const std::string& file, const std::string& fallback, Hive* user, Hive* system) {
  const OsError error = Load(file, user);
  return error != kErrorSuccess ? error : Load(fallback, system);
}

// Hands the user's hive, then the fallback, to `collect` for a listing under `key`;
// kErrorFileNotFound when neither holds the key.
template <class Collect>
OsError ListUnderKey(const std::string& file, const std::string& fallback, const std::string& key,
                     Collect collect) {
  const Path path = SplitPath(key);
  Hive user, system;
  const OsError error = LoadHives(file, fallback, &user, &system);
  if (error != kErrorSuccess) return error;
  if (!HasKey(user, path) && !HasKey(system, path)) return kErrorFileNotFound;
  collect(user, path);
  collect(system, path);
  return kErrorSuccess;
}

// Applies `edit` to the user's file under its lock; `edit` returns an error number, and the file
// is rewritten only on success.
template <class Edit>
OsError Update(const std::string& file, Edit edit) {
  OsError result = kErrorSuccess;
  const OsError io = UpdateConfigFile(file, [&](std::string& content) {
    Hive hive = Parse(content);
    result = edit(hive);
    if (result != kErrorSuccess) return false;
    content = Serialize(hive);
    return true;
  });
  return io != kErrorSuccess ? io : result;
}

}  // namespace

RegistryStore::RegistryStore(std::string file, std::string fallback)
    : file_(std::move(file)), fallback_(std::move(fallback)) {}

std::string RegistryStore::RegistryDirectory() {
  const std::string dir = GetEnv("MIRVEL_REGISTRY_DIR");
  if (!dir.empty()) return dir;
  return UserConfigDirectory() + "/registry";
}

RegistryStore RegistryStore::ForRoot(const std::string& root_name) {
  const std::string dir = RegistryDirectory();
  std::string fallback;
  if (root_name == "HKEY_LOCAL_MACHINE") {
    const std::string system_dir = GetEnv("MIRVEL_REGISTRY_DIR").empty()
                                       ? SystemConfigDirectory() + "/registry"
                                       : dir + "/system";
    fallback = system_dir + "/" + root_name + ".reg";
  }
  return RegistryStore(dir + "/" + root_name + ".reg", fallback);
}

OsError RegistryStore::KeyExists(const std::string& key, bool* exists) const {
  *exists = false;
  const Path path = SplitPath(key);
  Hive user, system;
  const OsError error = LoadHives(file_, fallback_, &user, &system);
  if (error != kErrorSuccess) return error;
  *exists = HasKey(user, path) || (!fallback_.empty() && HasKey(system, path));
  return kErrorSuccess;
}

OsError RegistryStore::CreateKey(const std::string& key) {
  const Path path = SplitPath(key);
  return Update(file_, [&](Hive& hive) {
    if (!path.empty()) EnsureKey(hive, path);
    return kErrorSuccess;
  });
}

OsError RegistryStore::DeleteKey(const std::string& key) {
  const Path path = SplitPath(key);
  if (path.empty()) return kErrorAccessDenied;
  Hive system;
  OsError error = Load(fallback_, &system);
  if (error != kErrorSuccess) return error;
  const bool in_fallback = !fallback_.empty() && HasKey(system, path);
  bool in_user = false;
  error = Update(file_, [&](Hive& hive) {
    in_user = HasKey(hive, path);
    if (!in_user) return in_fallback ? kErrorAccessDenied : kErrorFileNotFound;
    std::vector<Key> kept;
    for (Key& k : hive.keys) {
      if (!SamePrefix(path, k.path)) kept.push_back(std::move(k));
    }
    hive.keys = std::move(kept);
    return kErrorSuccess;
  });
  if (error == kErrorSuccess && in_fallback) return kErrorAccessDenied;
  return error;
}

OsError RegistryStore::GetKeyNames(const std::string& key, std::vector<std::string>* names) const {
  names->clear();
  return ListUnderKey(file_, fallback_, key, [names](const Hive& hive, const Path& path) {
    for (const Key& k : hive.keys) {
      if (k.path.size() > path.size() && SamePrefix(path, k.path)) {
        AddName(names, k.path[path.size()]);
      }
    }
  });
}

OsError RegistryStore::GetValueNames(const std::string& key,
                                     std::vector<std::string>* names) const {
  names->clear();
  return ListUnderKey(file_, fallback_, key, [names](const Hive& hive, const Path& path) {
    if (const Key* k = FindKey(hive, path)) {
      for (const Value& v : k->values) AddName(names, v.name);
    }
  });
}

OsError RegistryStore::GetValue(const std::string& key, const std::string& name,
                                RegValue* value) const {
  *value = RegValue();
  const Path path = SplitPath(key);
  Hive user, system;
  const OsError error = LoadHives(file_, fallback_, &user, &system);
  if (error != kErrorSuccess) return error;
  const Value* found = FindValue(user, path, name);
  if (found == nullptr) found = FindValue(system, path, name);
  if (found == nullptr) return kErrorFileNotFound;
  *value = found->value;
  return kErrorSuccess;
}

OsError RegistryStore::SetValue(const std::string& key, const std::string& name,
                                const RegValue& value) {
  if (value.type == RegType::kNone) return kErrorInvalidParameter;
  const Path path = SplitPath(key);
  return Update(file_, [&](Hive& hive) {
    PutValue(EnsureKey(hive, path), Value{name, value});
    return kErrorSuccess;
  });
}

OsError RegistryStore::DeleteValue(const std::string& key, const std::string& name) {
  const Path path = SplitPath(key);
  Hive system;
  OsError error = Load(fallback_, &system);
  if (error != kErrorSuccess) return error;
  const bool in_fallback = FindValue(system, path, name) != nullptr;
  error = Update(file_, [&](Hive& hive) {
    for (Key& k : hive.keys) {
      if (!SamePath(k.path, path)) continue;
      for (auto it = k.values.begin(); it != k.values.end(); ++it) {
        if (SameNameIgnoringCase(it->name, name)) {
          k.values.erase(it);
          return kErrorSuccess;
        }
      }
    }
    return in_fallback ? kErrorAccessDenied : kErrorFileNotFound;
  });
  if (error == kErrorSuccess && in_fallback) return kErrorAccessDenied;
  return error;
}

}  // namespace platform
