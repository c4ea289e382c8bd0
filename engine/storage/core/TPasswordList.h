// The table passwords an engine session has been given.
//
// Owned by TFileSession.  Passwords are ShortStrings (cut to 255 bytes) compared byte for byte,
// case-sensitively: "Secret" does not open a table whose password is "secret".  Used by one
// thread at a time, like the session that owns it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessera {

class TPasswordList {
 public:
  // Appends the password; an empty one is ignored.  Duplicates are allowed here (the session's
  // AddPassword refuses them).
  void Add(std::string_view password);
  // Removes the first equal entry; nothing when there is none.
  void Remove(std::string_view password);
  void Clear();
  bool Contains(std::string_view password) const;
  int Count() const { return static_cast<int>(passwords_.size()); }

 private:
  std::vector<std::string> passwords_;
};

}  // namespace tessera
