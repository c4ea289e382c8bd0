#include "classlib/rtl/Messages.h"

#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/TTimer.h"
#include "platform/MessageSocket.h"
#include "platform/ProcessInfo.h"

namespace cl {
namespace {

constexpr int kIndexBits = 10;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr size_t kDatagramSize = 16;

struct Slot {
  TWndMethod method;
  bool alive = false;
};

// The handle table and the queue of posted messages.  Leaked on purpose: handles are released by
// components that may die during static destruction.
struct Core {
  Core() {
    process_part = static_cast<uint32_t>(platform::GetCurrentProcessId()) << kIndexBits;
    for (uint32_t i = 1; i <= kIndexMask; ++i) free_indexes.push_back(i);
  }

  std::mutex mutex;
  uint32_t process_part;
  Slot slots[kIndexMask + 1];
  std::deque<uint32_t> free_indexes;  // oldest freed first
  std::deque<TMsg> queue;
  std::function<bool(TMsg&)> filter;
};

Core& TheCore() {
  static Core* core = new Core;
  return *core;
}

// REQUIRES: core.mutex held.  The live slot of `wnd`, or null.
Slot* LiveSlot(Core& core, HWND wnd) {
  if ((wnd & ~kIndexMask) != core.process_part) return nullptr;
  Slot& slot = core.slots[wnd & kIndexMask];
  return slot.alive ? &slot : nullptr;
}

// Delivers the oldest queued message; the loop calls it once per posted message (a removed
// message leaves one call with nothing, or an earlier turn, to do).
void DeliverOne() {
  Core& core = TheCore();
  TMsg msg;
  std::function<bool(TMsg&)> filter;
  {
    std::lock_guard<std::mutex> guard(core.mutex);
    if (core.queue.empty()) return;
    msg = core.queue.front();
    core.queue.pop_front();
    if (LiveSlot(core, msg.hwnd) == nullptr) return;
    filter = core.filter;
  }
  try {
    if (filter && filter(msg)) return;
    TWndMethod method;
    {
      std::lock_guard<std::mutex> guard(core.mutex);
      // OnMessage may have freed the handle.
      Slot* slot = LiveSlot(core, msg.hwnd);
      if (slot == nullptr) return;
      method = slot->method;
    }
    TMessage message{msg.message, msg.wParam, msg.lParam, 0};
    method(message);
  } catch (...) {
    Application().HandleException(nullptr);
  }
}

bool PostToOtherProcess(HWND wnd, uint32_t msg, WPARAM w_param, LPARAM l_param) {
  // The receiver drops any other number: refused here, the caller learns it was not delivered.
  if (msg < WM_USER || msg > kLastUserMessage) return false;
  uint8_t datagram[kDatagramSize];
  PutU32LE(datagram, wnd);
  PutU32LE(datagram + 4, msg);
  PutU32LE(datagram + 8, static_cast<uint32_t>(w_param));
  PutU32LE(datagram + 12, static_cast<uint32_t>(l_param));
  const int32_t pid = static_cast<int32_t>(wnd >> kIndexBits);
  return platform::SendMessageDatagram(pid, datagram, sizeof(datagram)) == 0;
}

struct Receiver {
  std::mutex mutex;  // serialises Start and Stop
  platform::MessageSocket socket;
  std::thread thread;
};

Receiver& TheReceiver() {
  static Receiver* receiver = new Receiver;
  return *receiver;
}

void ReceiveLoop(platform::MessageSocket* socket) {
  const uint32_t own = TheCore().process_part;
  std::vector<uint8_t> datagram;
  while (socket->Receive(datagram)) {
    if (datagram.size() != kDatagramSize) continue;
    const HWND wnd = GetU32LE(datagram.data());
    const uint32_t msg = GetU32LE(datagram.data() + 4);
    if (msg < WM_USER || msg > kLastUserMessage) continue;
    if ((wnd & ~kIndexMask) != own) continue;
    // A dead handle or no loop: PostMessage refuses, and the datagram is dropped.
    PostMessage(wnd, msg, GetU32LE(datagram.data() + 8),
                static_cast<LPARAM>(GetI32LE(datagram.data() + 12)));
  }
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  Core& core = TheCore();
  std::lock_guard<std::mutex> guard(core.mutex);
  if (core.free_indexes.empty())
    throw EOutOfResources(
        "Trop de fen\xEA"
        "tres ouvertes");
  const uint32_t index = core.free_indexes.front();
  core.free_indexes.pop_front();
  core.slots[index].method = std::move(method);
  core.slots[index].alive = true;
  return core.process_part | index;
}

void DeallocateHWnd(HWND wnd) {
  Core& core = TheCore();
  TWndMethod dropped;  // destroyed outside the lock: its captures may post or free handles
  std::lock_guard<std::mutex> guard(core.mutex);
  Slot* slot = LiveSlot(core, wnd);
  if (slot == nullptr) return;
  slot->alive = false;
  dropped.swap(slot->method);
  core.free_indexes.push_back(wnd & kIndexMask);
  std::erase_if(core.queue, [wnd](const TMsg& m) { return m.hwnd == wnd; });
}

bool IsWindow(HWND wnd) {
  Core& core = TheCore();
  std::lock_guard<std::mutex> guard(core.mutex);
  return LiveSlot(core, wnd) != nullptr;
}

bool IsForeignHandle(HWND wnd) {
  return (wnd & kIndexMask) != 0 && (wnd & ~kIndexMask) != TheCore().process_part;
}

bool PostMessage(HWND wnd, uint32_t msg, WPARAM w_param, LPARAM l_param) {
  if (IsForeignHandle(wnd)) return PostToOtherProcess(wnd, msg, w_param, l_param);
  TEventLoop* loop = CurrentEventLoop();
  if (loop == nullptr) return false;
  Core& core = TheCore();
  {
    std::lock_guard<std::mutex> guard(core.mutex);
    if (LiveSlot(core, wnd) == nullptr) return false;
    core.queue.push_back(TMsg{wnd, msg, w_param, l_param});
  }
  loop->Post(DeliverOne);
  return true;
}

LRESULT SendMessage(HWND wnd, uint32_t msg, WPARAM w_param, LPARAM l_param) {
  Core& core = TheCore();
  TWndMethod method;
  {
    std::lock_guard<std::mutex> guard(core.mutex);
    Slot* slot = LiveSlot(core, wnd);
    if (slot == nullptr) return 0;
    method = slot->method;
  }
  TMessage message{msg, w_param, l_param, 0};
  method(message);
  return message.Result;
}

bool RemovePendingMessage(HWND wnd, uint32_t msg) {
  if (msg == WM_QUIT) return false;
  Core& core = TheCore();
  std::lock_guard<std::mutex> guard(core.mutex);
  for (auto it = core.queue.begin(); it != core.queue.end(); ++it) {
    if (it->hwnd == wnd && it->message == msg) {
      core.queue.erase(it);
      return true;
    }
  }
  return false;
}

int PendingMessageCount() {
  Core& core = TheCore();
  std::lock_guard<std::mutex> guard(core.mutex);
  return static_cast<int>(core.queue.size());
}

void SetPostedMessageFilter(std::function<bool(TMsg& msg)> filter) {
  Core& core = TheCore();
  std::lock_guard<std::mutex> guard(core.mutex);
  core.filter = std::move(filter);
}

uint32_t StartMessageReceiver() {
  Receiver& receiver = TheReceiver();
  std::lock_guard<std::mutex> guard(receiver.mutex);
  if (receiver.thread.joinable()) return 0;
  if (const uint32_t error = receiver.socket.Open()) return error;
  receiver.thread = std::thread(ReceiveLoop, &receiver.socket);
  return 0;
}

void StopMessageReceiver() {
  Receiver& receiver = TheReceiver();
  std::lock_guard<std::mutex> guard(receiver.mutex);
  if (!receiver.thread.joinable()) return;
  receiver.socket.Shutdown();
  receiver.thread.join();
  receiver.socket.Close();
}

void TMessageObject::Dispatch(TMessage& message) {
  auto it = methods_.find(message.Msg);
  if (it == methods_.end()) {
    DefaultHandler(message);
    return;
  }
  TWndMethod method = it->second;  // a method may register others
  method(message);
}

void TMessageObject::DefaultHandler(TMessage& message) { message.Result = 0; }

void TMessageObject::SetMessageMethod(uint32_t msg, TMessageMethod method) {
  TWndMethod inherited;
  auto it = methods_.find(msg);
  if (it != methods_.end()) {
    inherited = std::move(it->second);
  } else {
    inherited = [this](TMessage& message) { DefaultHandler(message); };
  }
  methods_[msg] = [method = std::move(method), inherited = std::move(inherited)](
                      TMessage& message) { method(message, inherited); };
}

}  // namespace cl
