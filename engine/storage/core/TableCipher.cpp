#include "engine/storage/core/TableCipher.h"

#include <algorithm>

#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/FilePaths.h"
#include "platform/FileNames.h"
#include "platform/OsFile.h"
#include "platform/ProcessInfo.h"

namespace tessera {
namespace {

bool DiskFileExists(const std::string& name) {
  return platform::FileExists(platform::ResolveFileName(cl::Cp1252ToUtf8(name)));
}

}  // namespace

void EncipherBuffer(uint8_t* buffer, size_t length, uint8_t key_a, uint8_t key_b) {
  uint8_t a = key_a;
  uint8_t b = key_b;
  for (size_t i = 0; i < length; ++i) {
    buffer[i] ^= static_cast<uint8_t>(a ^ b);
    ++a;
    --b;
  }
}

void DecipherBuffer(uint8_t* buffer, size_t length, uint8_t key_a, uint8_t key_b) {
  EncipherBuffer(buffer, length, key_a, key_b);
}

void PutEncipheredShortString(uint8_t* dst, size_t capacity, std::string_view text) {
  cl::PutShortString(dst, capacity, text);
  EncipherBuffer(dst + 1, capacity, kPasswordKeyA, kPasswordKeyB);
}

std::string GetEncipheredShortString(const uint8_t* src, size_t capacity) {
  std::string plain(reinterpret_cast<const char*>(src + 1), capacity);
  DecipherBuffer(reinterpret_cast<uint8_t*>(plain.data()), capacity, kPasswordKeyA, kPasswordKeyB);
  plain.resize(std::min<size_t>(src[0], capacity));
  return plain;
}

void CheckTablePassword(TFileSession& session, const uint8_t* stored_password,
                        std::string_view table_name, const TPasswordEvent& password_event) {
  const std::string password = GetEncipheredShortString(stored_password, 15);
  while (!session.HasPassword(password)) {
    if (!password_event || !password_event()) {
      RaiseEngineError(kErrPasswordRequired, table_name);
    }
  }
}

std::string MakeTempTableName(TFileSession& session, bool in_memory) {
  return MakeTempTableName(session, in_memory, platform::GetCurrentThreadId());
}

std::string MakeTempTableName(TFileSession& session, bool in_memory, int64_t thread_id) {
  std::string directory = session.PrivateDirectory();
  if (directory.empty() && !in_memory) directory = cl::Utf8ToCp1252(platform::GetCurrentDir());
  return MakeTempTableNameIn(session, in_memory, directory, thread_id);
}

std::string MakeTempTableNameIn(TFileSession& session, bool in_memory, std::string_view directory) {
  return MakeTempTableNameIn(session, in_memory, directory, platform::GetCurrentThreadId());
}

std::string MakeTempTableNameIn(TFileSession& session, bool in_memory, std::string_view where,
                                int64_t thread_id) {
  const std::string directory = AddTrailingBackslash(where);
  const uint64_t magnitude =
      thread_id < 0 ? 0 - static_cast<uint64_t>(thread_id) : static_cast<uint64_t>(thread_id);
  const std::string prefix = directory + std::to_string(magnitude).substr(0, 5);

  auto search = [&](auto exists) {
    for (uint64_t n = 0;; ++n) {
      std::string candidate = prefix + std::to_string(n) + ".DAT";
      if (!cl::FitsShort(candidate)) RaiseEngineError(kErrInvalidPath, candidate);
      if (!exists(candidate)) return candidate;
    }
  };
  if (in_memory) {
    platform::CriticalSectionGuard guard(FileCriticalSection());
    return search([&](const std::string& name) { return session.MemoryFiles().FileExists(name); });
  }
  return search(DiskFileExists);
}

}  // namespace tessera
