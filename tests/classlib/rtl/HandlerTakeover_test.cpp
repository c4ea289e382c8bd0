#include "classlib/rtl/HandlerTakeover.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/rtl/Classes.h"

namespace cl {
namespace {

// A component that takes over the target's handler, logs, and passes the call on.
struct Watcher {
  Watcher(std::string name, TNotifyEvent& target, std::vector<std::string>* log)
      : name_(std::move(name)), target_(target) {
    token_.Install(target, [this, log](TObject* sender) {
      log->push_back(name_);
      token_.CallPrevious(sender);
    });
    target = token_.Handler();
  }
  ~Watcher() { target_ = token_.Release(target_); }

  std::string name_;
  TNotifyEvent& target_;
  THandlerTakeover<TNotifyEvent> token_;
};

TEST(HandlerTakeoverTest, EveryOrderOfDeathGivesThePreviousHandlerBack) {
  // Two watchers over an original handler die in either order, with a third installed between
  // the deaths: the original always runs, and no call reaches a dead watcher.
  for (int order = 0; order < 2; ++order) {
    std::vector<std::string> log;
    TNotifyEvent target = [&log](TObject*) { log.push_back("original"); };
    auto a = std::make_unique<Watcher>("a", target, &log);
    auto b = std::make_unique<Watcher>("b", target, &log);
    target(nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "original"}));
    log.clear();
    if (order == 0) {
      a.reset();  // covered by b: becomes a pass-through
      target(nullptr);
      EXPECT_EQ(log, (std::vector<std::string>{"b", "original"}));
    } else {
      b.reset();  // on top: simply removed
      target(nullptr);
      EXPECT_EQ(log, (std::vector<std::string>{"a", "original"}));
    }
    log.clear();
    auto c = std::make_unique<Watcher>("c", target, &log);
    a.reset();
    b.reset();
    target(nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"c", "original"}));
    log.clear();
    c.reset();
    target(nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"original"}) << "order " << order;
  }
}

TEST(HandlerTakeoverTest, AnEmptyPreviousHandlerAndAForeignCurrentOne) {
  std::vector<std::string> log;
  TNotifyEvent target;
  THandlerTakeover<TNotifyEvent> token;
  token.Install(target, [&log](TObject*) { log.push_back("own"); });
  target = token.Handler();
  EXPECT_TRUE(token.IsOurs(target));
  EXPECT_FALSE(token.IsOurs([](TObject*) {}));
  target(nullptr);
  token.CallPrevious(nullptr);  // nothing to call
  EXPECT_EQ(log, std::vector<std::string>{"own"});
  EXPECT_FALSE(token.Release(target)) << "back to unassigned";
}

}  // namespace
}  // namespace cl
