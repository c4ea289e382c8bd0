// Keeping one running instance per executable (or per chosen identifier) and user.
//
// The first instance publishes a window handle in a named 4-byte block (TFileMapStream over the
// platform's shared mapping, whose first holder is decided by a lock, so a crashed first instance
// never blocks later starts).  A later instance reads the handle, hands over through OnAppRunning
// (the application posts WM_USER+128 there) and ends at once with exit code 0, before it shows
// anything.  Block layout: 4 bytes, little-endian, the running instance's handle (the
// application's, then the main window's once SetHandle has run).
//
// Restoring and raising the first instance's window: a handle of another process is reached
// only by posted user messages here, so those two steps are left to the receiver of the message
// that OnAppRunning posts.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Messages.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TComponent.h"
#include "platform/SharedMapping.h"

namespace comp {

class EFileMapError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

// A stream over a named shared block of a fixed size.  Name: the requested name without
// backslashes, at most 260 characters.  Reads and seeks as any memory stream; a write that would
// pass the end of the block raises EWriteError and writes nothing.  Destruction unmaps the block
// and, for its creator, gives up the first place.
class TFileMapStream : public cl::TCustomMemoryStream {
 public:
  // Raises EFileMapError "Erreur <code> : \r\nImpossible de créer un FileMapping nommé "<name>" !!!"
  // when the block cannot be opened.
  TFileMapStream(const std::string& name, int32_t size);

  int32_t Write(const void* buffer, int32_t count) override;

  const std::string& Name() const { return name_; }
  // True when this stream created the block (no live holder had it open).
  bool Created() const { return mapping_.Created(); }

 private:
  std::string name_;
  platform::SharedMapping mapping_;
};

using TAppRunningEvent = std::function<void(cl::TObject* sender, cl::HWND handle)>;

class TSingleInstance : public cl::TComponent {
 public:
  explicit TSingleInstance(cl::TComponent* owner);
  ~TSingleInstance() override;

  const std::string& AppIdentifier() const { return app_identifier_; }
  // Outside loading, opens the block of the new identifier at once (see OpenInstanceMap).
  void SetAppIdentifier(const std::string& identifier);
  const TAppRunningEvent& OnAppRunning() const { return on_app_running_; }
  void SetOnAppRunning(TAppRunningEvent handler) { on_app_running_ = std::move(handler); }

  // Publishes `handle` as the running instance's.  REQUIRES: the block is open.
  void SetHandle(cl::HWND handle);

  // Frees the current block and opens `name`: the first instance writes the application's
  // handle; any other hands over to the running one and halts the process (exit code 0).
  void OpenInstanceMap(const std::string& name);

  // The block, while open (tests and the application's restart read it).
  TFileMapStream* Stream() const { return stream_.get(); }

 protected:
  // Opens the block of AppIdentifier, or of the upper-cased executable path when it is empty,
  // before loading completes.
  void Loaded() override;

 private:
  cl::HWND ReadRunningHandle();

  std::string app_identifier_;
  TAppRunningEvent on_app_running_;
  std::unique_ptr<TFileMapStream> stream_;
};

}  // namespace comp
