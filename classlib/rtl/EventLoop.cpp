#include "classlib/rtl/EventLoop.h"

#include <atomic>

namespace cl {
namespace {

std::atomic<TEventLoop*> g_loop{nullptr};

}  // namespace

void SetEventLoop(TEventLoop* loop) { g_loop.store(loop); }

TEventLoop* CurrentEventLoop() { return g_loop.load(); }

}  // namespace cl
