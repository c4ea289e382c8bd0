// The process-wide engine state and the engine session.
//
// State machine (one per process):
//
//   not started --InitializeEngine--> started, default session current
//   started     --ShutdownEngine-->   not started, no session current
//
// While started, the session components may create further sessions (CreateFileSession) and make
// one current (SetEngineSession); all engine code works on whichever session is current.  The
// engine owns its default session and frees it at shutdown; other sessions belong to whoever
// created them and are freed with FreeFileSession.  The current session is process-wide, not
// per thread: one thread runs the engine.  The engine's two locks are in
// EngineCriticalSections.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TMemoryFile.h"
#include "engine/storage/core/TPasswordList.h"

namespace tessera {

// The engine state of one session: private directory, context of the last engine error,
// in-memory files and table passwords.  Owns both lists.
class TFileSession {
 public:
  TFileSession() = default;
  ~TFileSession() = default;  // frees the passwords, then the in-memory files
  TFileSession(const TFileSession&) = delete;
  TFileSession& operator=(const TFileSession&) = delete;

  // Directory for temporary tables; empty when none.
  const std::string& PrivateDirectory() const { return private_directory_; }
  void SetPrivateDirectory(std::string_view directory);

  // The context of the last engine error raised while this session was current, kept for later
  // queries (the error's own text already holds the names).
  uint16_t ErrorCode() const { return error_context_.code; }
  const std::string& ErrorDataFile() const { return error_context_.data_file; }
  const std::string& ErrorField() const { return error_context_.field; }
  const std::string& ErrorIndex() const { return error_context_.index; }
  const std::string& ErrorSql() const { return error_context_.sql; }
  // The strings are kept as ShortStrings (cut to 255 bytes).
  void SetErrorContext(uint16_t code, std::string_view data_file, std::string_view field,
                       std::string_view index, std::string_view sql);
  void ClearErrorContext();

  TMemoryFileList& MemoryFiles() { return memory_files_; }
  TPasswordList& Passwords() { return passwords_; }
  const TPasswordList& Passwords() const { return passwords_; }

  // Adds the password unless it is already held (or empty).
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  bool HasPassword(std::string_view password) const;

 private:
  // Points the raise path at the current session's error context.
  friend void SetEngineSession(TFileSession* session);

  std::string private_directory_;
  TEngineErrorContext error_context_;
  // Declared in this order so that the passwords go first.
  TMemoryFileList memory_files_;
  TPasswordList passwords_;
};

// Starts the engine with a new default session as the current one; nothing when started.
void InitializeEngine();

// Frees the engine's default session, whichever session is current, and leaves no session
// current; nothing when not started.  Sessions from CreateFileSession stay their creator's.
void ShutdownEngine();

// The current session.  Raises 10758 when the engine is not started.
TFileSession* GetEngineSession();

// The current session, or nullptr when the engine is not started.  Never raises: for the raise
// path itself, which must work before the engine starts.
TFileSession* PeekEngineSession();

// Makes `session` current (no check).
void SetEngineSession(TFileSession* session);

// A new session, stored in `session` and returned.  Raises 11016 when memory runs out.
TFileSession* CreateFileSession(TFileSession*& session);

// Frees a session from CreateFileSession; nullptr is ignored.  When it is current, the default
// session becomes current again.  The engine's default session is freed only by ShutdownEngine.
void FreeFileSession(TFileSession* session);

// Raise 10758 when the engine is not started; else set or read the current session's private
// directory.
void SetEnginePrivateDirectory(std::string_view directory);
std::string GetEnginePrivateDirectory();

}  // namespace tessera
