#include "engine/storage/core/EngineCriticalSections.h"

namespace tessera {

platform::CriticalSection& FileCriticalSection() {
  static platform::CriticalSection section;
  return section;
}

platform::CriticalSection& FormatCriticalSection() {
  static platform::CriticalSection section;
  return section;
}

}  // namespace tessera
