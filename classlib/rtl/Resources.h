// The program's resources and TResourceStream, which reads one of them.
//
// Resources are byte blocks compiled into the program (the installer image, icon lists, the data
// of in-memory datasets...) and registered under a name before use; names compare without regard
// to case.  The registered bytes must live as long as the program
// (static data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "classlib/rtl/Streams.h"

namespace cl {

class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};

// Registers (or replaces) a resource.  REQUIRES: `data` lives until the program ends.
void RegisterResource(std::string_view name, const uint8_t* data, size_t size);
bool ResourceExists(std::string_view name);

// A read-only stream over a registered resource.
class TResourceStream : public TCustomMemoryStream {
 public:
  // Raises EResNotFound "Ressource <name> introuvable" when no such resource is registered.
  explicit TResourceStream(std::string_view name);

  // Raises EStreamError: resources cannot be written.
  int32_t Write(const void* buffer, int32_t count) override;
};

}  // namespace cl
