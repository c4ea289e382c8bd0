#include "engine/storage/core/EngineSession.h"

#include <new>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {
namespace {

bool g_started = false;
// The session the engine created and must free; the current one may be another.
TFileSession* g_default_session = nullptr;
TFileSession* g_current_session = nullptr;

TFileSession* NewSession() {
  try {
    return new TFileSession();
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory);
  }
}

}  // namespace

void TFileSession::SetPrivateDirectory(std::string_view directory) {
  // A cut directory would put temporary tables somewhere else.
  if (!cl::FitsShort(directory)) RaiseEngineError(kErrInvalidPath, cl::ToShort(directory));
  private_directory_.assign(directory);
}

void TFileSession::SetErrorContext(uint16_t code, std::string_view data_file,
                                   std::string_view field, std::string_view index,
                                   std::string_view sql) {
  error_context_ = TEngineErrorContext{code, cl::ToShort(data_file), cl::ToShort(field),
                                       cl::ToShort(index), cl::ToShort(sql)};
}

void TFileSession::ClearErrorContext() { error_context_ = TEngineErrorContext{}; }

void TFileSession::AddPassword(std::string_view password) {
  if (!passwords_.Contains(password)) passwords_.Add(password);
}

void TFileSession::RemovePassword(std::string_view password) { passwords_.Remove(password); }

void TFileSession::RemoveAllPasswords() { passwords_.Clear(); }

bool TFileSession::HasPassword(std::string_view password) const {
  return passwords_.Contains(password);
}

void InitializeEngine() {
  if (g_started) return;
  g_default_session = NewSession();
  g_started = true;
  SetEngineSession(g_default_session);
}

void ShutdownEngine() {
  if (!g_started) return;
  g_started = false;
  SetEngineSession(nullptr);
  delete g_default_session;
  g_default_session = nullptr;
}

TFileSession* GetEngineSession() {
  if (!g_started || g_current_session == nullptr) RaiseEngineError(kErrNotInitialized);
  return g_current_session;
}

TFileSession* PeekEngineSession() { return g_started ? g_current_session : nullptr; }

void SetEngineSession(TFileSession* session) {
  g_current_session = session;
  // Errors raised while the engine is stopped keep no context, as GetEngineSession would refuse.
  SetCurrentErrorContext(g_started && session != nullptr ? &session->error_context_ : nullptr);
}

TFileSession* CreateFileSession(TFileSession*& session) {
  session = NewSession();
  return session;
}

void FreeFileSession(TFileSession* session) {
  if (session == nullptr || session == g_default_session) return;
  if (session == g_current_session) SetEngineSession(g_default_session);
  delete session;
}

void SetEnginePrivateDirectory(std::string_view directory) {
  GetEngineSession()->SetPrivateDirectory(directory);
}

std::string GetEnginePrivateDirectory() { return GetEngineSession()->PrivateDirectory(); }

}  // namespace tessera
