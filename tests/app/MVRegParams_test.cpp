// Registry parameters: reads that never fail, the key-creation and read-only rules of writes,
// Exists, and the refused stream methods.
#include "app/MVRegParams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "classlib/rtl/Streams.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace mirvel {
namespace {

constexpr const char* kKey = "Software\\Ordelis\\Mirvel";

class RegParamTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("MIRVEL_REGISTRY_DIR", dir_.Path().c_str(), 1); }
  void TearDown() override { unsetenv("MIRVEL_REGISTRY_DIR"); }

  std::unique_ptr<TMVParam> Param(TRegParamDatabase& store, const char* name = "Database") {
    store.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    return store.GetParam(kKey, name);
  }
  bool KeyExists() {
    cl::TRegistry reg;
    reg.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    return reg.KeyExists(std::string("\\") + kKey);
  }
  std::string StoreFile() {
    const std::string path = dir_.File("HKEY_LOCAL_MACHINE.reg");
    return std::filesystem::exists(path) ? mirvel_test::ReadFileText(path) : "";
  }

  mirvel_test::TempDirectory dir_{"regparams"};
};

// Reads of a missing key or value give "", 0, 0.0; the key is created on the way only when the
// store may create it.
TEST_F(RegParamTest, ReadsNeverFailAndCreateTheKeyOnlyWhenAllowed) {
  struct Case {
    bool read_only;
    bool auto_create;
    bool key_created;
  };
  for (const Case& c :
       {Case{false, true, true}, Case{true, true, false}, Case{false, false, false}}) {
    SCOPED_TRACE(testing::Message() << c.read_only << c.auto_create);
    std::filesystem::remove(dir_.File("HKEY_LOCAL_MACHINE.reg"));
    TRegParamDatabase store(nullptr);
    store.SetReadOnly(c.read_only);
    store.SetAutoCreateParam(c.auto_create);
    auto param = Param(store);
    EXPECT_FALSE(param->Exists());
    EXPECT_FALSE(KeyExists()) << "Exists creates nothing";
    EXPECT_EQ(param->AsString(), "");
    EXPECT_EQ(param->AsInteger(), 0);
    EXPECT_EQ(param->AsFloat(), 0.0);
    EXPECT_EQ(KeyExists(), c.key_created);
  }
}

TEST_F(RegParamTest, WritesFollowTheReadOnlyAndCreationRules) {
  {
    TRegParamDatabase store(nullptr);
    store.SetReadOnly(true);
    auto param = Param(store);
    try {
      param->SetAsInteger(3);
      FAIL() << "a read-only store wrote";
    } catch (const EMVParamError& e) {
      EXPECT_EQ(e.Message(), "Base de param\xE8tres en lecture seule. Ecriture impossible");
    }
    EXPECT_EQ(StoreFile(), "") << "refused before the registry was touched";
  }
  {
    TRegParamDatabase store(nullptr);
    store.SetAutoCreateParam(false);
    for (auto* write :
         {+[](TMVParam& p) { p.SetAsString("x"); }, +[](TMVParam& p) { p.SetAsInteger(1); },
          +[](TMVParam& p) { p.SetAsFloat(1.5); }}) {
      auto param = Param(store);
      try {
        write(*param);
        FAIL() << "a missing key was created";
      } catch (const EMVRegParamError& e) {
        EXPECT_EQ(e.Message(),
                  "Erreur \xE0 la cr\xE9"
                  "ation de la clef");
      }
    }
  }
  // Created once, a value may be rewritten without AutoCreateParam, but a new one may not.
  TRegParamDatabase creating(nullptr);
  Param(creating)->SetAsString(
      "C:\\Donn\xE9"
      "es");
  Param(creating, "Compteur")->SetAsInteger(-7);
  Param(creating, "Taux")->SetAsFloat(0.125);
  TRegParamDatabase strict(nullptr);
  strict.SetAutoCreateParam(false);
  auto param = Param(strict);
  EXPECT_TRUE(param->Exists());
  EXPECT_EQ(param->AsString(),
            "C:\\Donn\xE9"
            "es");
  param->SetAsString("/srv/base");
  EXPECT_EQ(Param(strict)->AsString(), "/srv/base");
  EXPECT_EQ(Param(strict, "Compteur")->AsInteger(), -7);
  EXPECT_EQ(Param(strict, "Taux")->AsFloat(), 0.125);
  EXPECT_THROW(Param(strict, "Nouveau")->SetAsInteger(1), EMVRegParamError);
  // The key already open under another spelling is the same key.
  auto upper = strict.GetParam("SOFTWARE\\ordelis\\MIRVEL", "Database");
  EXPECT_EQ(upper->AsString(), "/srv/base");
}

TEST_F(RegParamTest, StreamsAreRefused) {
  TRegParamDatabase store(nullptr);
  auto param = Param(store);
  cl::TMemoryStream stream;
  try {
    param->SaveToStream(stream);
    FAIL();
  } catch (const EMVRegParamError& e) {
    EXPECT_EQ(e.Message(),
              "M\xE9thode SaveToStream non impl\xE9ment\xE9"
              "e");
  }
  try {
    param->LoadFromStream(stream);
    FAIL();
  } catch (const EMVRegParamError& e) {
    EXPECT_EQ(e.Message(),
              "M\xE9thode LoadFromStream non impl\xE9ment\xE9"
              "e");
  }
}

}  // namespace
}  // namespace mirvel
