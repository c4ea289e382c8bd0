// The datagram socket through which processes of one user post messages to each other.
//
// Each receiving process binds msg-<pid>.sock in the private directory (PrivateDirectory.h), so a
// sender needs only the receiver's process id.  The directory is 0700, which already keeps other
// users out; the receiver also asks the kernel for each sender's credentials (SO_PASSCRED) and
// drops datagrams from any other user id, in case the directory's mode is ever widened.  A socket
// file left by a process that died is replaced by the next process of that id, and a send to it
// meanwhile fails (connection refused), which is how "the process is gone" shows.
//
// What a datagram holds is the caller's business; this layer moves bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/OsError.h"

namespace platform {

// The receiving end of this process.  Receive may block on one thread while Shutdown is called
// from another; everything else belongs to the thread that opened it.
class MessageSocket {
 public:
  MessageSocket() = default;
  ~MessageSocket();
  MessageSocket(const MessageSocket&) = delete;
  MessageSocket& operator=(const MessageSocket&) = delete;

  // Binds this process's socket.  Returns 0 or a Win32-style error number.  REQUIRES: not open.
  OsError Open();
  // Waits for the next datagram of the same user (at most 512 bytes; longer ones arrive cut).
  // Returns false only once Shutdown has been called or the socket was closed; transient failures
  // (short of memory or buffers) are waited out.
  bool Receive(std::vector<uint8_t>& datagram);
  // Wakes a waiting Receive; any thread.
  void Shutdown();
  // Unbinds and closes.  REQUIRES: no Receive running.
  void Close();

  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string path_;
};

// Sends one datagram to the socket of process `pid` of the same user.  Returns 0, or a
// Win32-style error number (kErrorInvalidHandle when no such process listens).
OsError SendMessageDatagram(int32_t pid, const uint8_t* data, size_t size);

}  // namespace platform
