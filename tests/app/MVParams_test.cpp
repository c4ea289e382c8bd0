// The parameter store's life cycle: activation on demand, the wish recorded while loading, and
// auto-close at once or through the self-freeing timer on the manual event loop.
#include "app/MVParams.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/MVRegParams.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "tests/platform/TempDirectory.h"

namespace mirvel {
namespace {

class ParamStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MIRVEL_REGISTRY_DIR", dir_.Path().c_str(), 1);
    cl::SetEventLoop(&loop_);
  }
  void TearDown() override {
    cl::SetEventLoop(nullptr);
    unsetenv("MIRVEL_REGISTRY_DIR");
  }

  mirvel_test::TempDirectory dir_{"params"};
  cl::TManualEventLoop loop_;
};

TEST_F(ParamStoreTest, AutoActivationAndAutoClose) {
  struct Case {
    bool auto_close;
    uint32_t interval;
    bool active_after_get;       // right after GetParam
    bool active_after_interval;  // once the interval has passed
  };
  const Case cases[] = {
      {false, 0, true, true},
      {true, 0, false, false},
      {true, 250, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.auto_close << " " << c.interval);
    TRegParamDatabase store(nullptr);
    store.SetAutoClose(c.auto_close);
    store.SetAutoCloseInterval(c.interval);
    store.SetDefaultPath("Software\\Ordelis\\Mirvel");
    std::unique_ptr<TMVParam> param = store.GetParam("", "Database");
    EXPECT_EQ(param->Path(), "Software\\Ordelis\\Mirvel") << "the default path stands in";
    EXPECT_EQ(store.Active(), c.active_after_get);
    loop_.Advance(c.interval > 0 ? c.interval - 1 : 0);
    EXPECT_EQ(store.Active(), c.active_after_get);
    loop_.Advance(1);
    EXPECT_EQ(store.Active(), c.active_after_interval);
    EXPECT_EQ(loop_.TimerCount(), 0) << "the one-shot timer is gone";
    // The parameter outlives the store's activity.
    param->SetAsString("/srv/base");
    EXPECT_EQ(param->AsString(), "/srv/base");
  }
}

TEST_F(ParamStoreTest, ANewRequestCancelsThePendingAutoClose) {
  TRegParamDatabase store(nullptr);
  store.SetAutoCloseInterval(100);
  store.GetParam("A", "x");
  loop_.Advance(60);
  store.GetParam("B", "y");  // a fresh delay from here
  EXPECT_EQ(loop_.TimerCount(), 1);
  loop_.Advance(60);
  EXPECT_TRUE(store.Active());
  loop_.Advance(40);
  EXPECT_FALSE(store.Active());
}

TEST_F(ParamStoreTest, InactiveStoreRefusesAndRootKeyWaitsForInactivity) {
  TRegParamDatabase store(nullptr);
  store.SetAutoActive(false);
  try {
    store.GetParam("A", "x");
    FAIL() << "an inactive store gave a parameter";
  } catch (const EMVParamError& e) {
    EXPECT_EQ(e.Message(), "Base de param\xE8tres inactive. Op\xE9ration impossible.");
  }
  store.SetActive(true);
  try {
    store.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    FAIL() << "the root key changed while active";
  } catch (const EMVParamError& e) {
    EXPECT_EQ(e.Message(), "Base de param\xE8tres active. Op\xE9ration impossible.");
  }
  EXPECT_EQ(store.RootKey(), cl::HKEY_CURRENT_USER);
  store.SetActive(false);
  store.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  store.SetAutoActive(true);
  store.SetAutoClose(false);
  store.GetParam("Software\\Ordelis\\Mirvel", "Database")->SetAsString("/srv/base");
  cl::TRegistry reg;
  reg.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Ordelis\\Mirvel"));
  EXPECT_EQ(reg.ReadString("Database"), "/srv/base") << "the parameter took the store's root";
}

TEST_F(ParamStoreTest, ActiveSetWhileLoadingWaitsForLoaded) {
  cl::TComponent root(nullptr);
  TRegParamDatabase* store = nullptr;
  {
    cl::TLoader loader(&root);
    store = loader.Create<TRegParamDatabase>(&root, "RegParamApp");
    store->SetActive(true);
    EXPECT_FALSE(store->Active());
    loader.Finish();
  }
  EXPECT_TRUE(store->Active());
}

}  // namespace
}  // namespace mirvel
