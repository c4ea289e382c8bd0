#include "platform/RegistryStore.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

using mirvel_test::ReadFileText;

RegValue Text(const std::string& s) {
  RegValue v;
  v.type = RegType::kString;
  v.data = s;
  return v;
}

RegValue Int(int32_t n) {
  RegValue v;
  v.type = RegType::kInteger;
  v.integer = n;
  return v;
}

RegValue Bytes(const std::string& s) {
  RegValue v;
  v.type = RegType::kBinary;
  v.data = s;
  return v;
}

bool Same(const RegValue& a, const RegValue& b) {
  return a.type == b.type && a.data == b.data && a.integer == b.integer;
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  mirvel_test::TempDirectory dir_{"regstore"};
  const std::string file_ = dir_.File("HKEY_CURRENT_USER.reg");
};

TEST_F(RegistryStoreTest, GoldenFileWithEscapes) {
  RegistryStore store(file_, "");
  ASSERT_EQ(store.SetValue("Software\\Ordelis\\Mirvel", "Database",
                           Text("C:\\Donn\xC3\xA9"
                                "es")),
            kErrorSuccess);
  ASSERT_EQ(store.SetValue("Software\\Ordelis\\Mirvel", "", Text("default")), kErrorSuccess);
  ASSERT_EQ(store.SetValue("Software\\Ordelis\\Mirvel", "@", Int(-7)), kErrorSuccess);
  ASSERT_EQ(store.SetValue("Software\\Ordelis\\Mirvel", "a=b", Text("50%\r\nnext")), kErrorSuccess);
  ASSERT_EQ(
      store.SetValue("\\Software\\\\Ordelis\\Mirvel\\", "[x;", Bytes(std::string("\0\xff", 2))),
      kErrorSuccess);
  ASSERT_EQ(store.SetValue("", ";root", Int(1)), kErrorSuccess);
  EXPECT_EQ(ReadFileText(file_),
            "[Software]\n"
            "\n[Software\\Ordelis]\n"
            "\n[Software\\Ordelis\\Mirvel]\n"
            "Database=s:C:\\Donn\xC3\xA9"
            "es\n"
            "@=s:default\n"
            "%40=d:-7\n"
            "a%3Db=s:50%25%0D%0Anext\n"
            "%5Bx;=b:00ff\n"
            "\n[]\n"
            "%3Broot=d:1\n");

  RegistryStore again(file_, "");
  RegValue v;
  ASSERT_EQ(again.GetValue("software\\ORDELIS\\mirvel", "A=B", &v), kErrorSuccess);
  EXPECT_TRUE(Same(v, Text("50%\r\nnext")));
  ASSERT_EQ(again.GetValue("Software\\Ordelis\\Mirvel", "", &v), kErrorSuccess);
  EXPECT_TRUE(Same(v, Text("default")));
  ASSERT_EQ(again.GetValue("Software\\Ordelis\\Mirvel", "@", &v), kErrorSuccess);
  EXPECT_TRUE(Same(v, Int(-7)));
  ASSERT_EQ(again.GetValue("Software\\Ordelis\\Mirvel", "[X;", &v), kErrorSuccess);
  EXPECT_TRUE(Same(v, Bytes(std::string("\0\xff", 2))));
  ASSERT_EQ(again.GetValue("", ";ROOT", &v), kErrorSuccess);
  EXPECT_TRUE(Same(v, Int(1)));

  // The user's settings stay private whatever the umask lets the database folder share.
  const std::string nested = dir_.File("config/mirvel/HKEY_CURRENT_USER.reg");
  ASSERT_EQ(RegistryStore(nested, "").SetValue("K", "x", Int(1)), kErrorSuccess);
  EXPECT_EQ(fs::status(fs::path(nested).parent_path()).permissions(), fs::perms::owner_all);
}

TEST_F(RegistryStoreTest, HandWrittenFilesAreReadLeniently) {
  std::ofstream(file_, std::ios::binary)
      << "; written by hand\r\n"
      << "top=s:before any key\r\n"
      << "[G\xC3\xA9n\xC3\xA9ral]\r\n"
      << "# another comment\r\n"
      << "ok=d:12\r\n"
      << "badint=d:12x\r\n"
      << "badhex=b:0g\r\n"
      << "oddhex=b:012\r\n"
      << "notype=x:1\r\n"
      << "no equal sign\r\n"
      << "[broken\r\n"
      << "[G\xC3\x89N\xC3\x89RAL]\r\n"  // the same key in capitals: merged
      << "later=s:%zz stays\r\n"
      << "[Deep\\Only\\Leaf]\r\n";
  RegistryStore store(file_, "");
  RegValue v;
  ASSERT_EQ(store.GetValue("", "TOP", &v), kErrorSuccess);
  EXPECT_EQ(v.data, "before any key");
  ASSERT_EQ(store.GetValue("g\xC3\xA9n\xC3\xA9ral", "OK", &v), kErrorSuccess);
  EXPECT_EQ(v.integer, 12);
  ASSERT_EQ(store.GetValue("G\xC3\xA9n\xC3\xA9ral", "later", &v), kErrorSuccess);
  EXPECT_EQ(v.data, "%zz stays");
  for (const char* bad : {"badint", "badhex", "oddhex", "notype", "no equal sign"}) {
    EXPECT_EQ(store.GetValue("G\xC3\xA9n\xC3\xA9ral", bad, &v), kErrorFileNotFound) << bad;
  }
  std::vector<std::string> names;
  ASSERT_EQ(store.GetValueNames("G\xC3\xA9n\xC3\xA9ral", &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"ok", "later"}));
  bool exists = false;
  ASSERT_EQ(store.KeyExists("deep\\only", &exists), kErrorSuccess);
  EXPECT_TRUE(exists) << "the parents of a listed key exist";
  ASSERT_EQ(store.GetKeyNames("", &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"G\xC3\xA9n\xC3\xA9ral", "Deep"}));

  // A write keeps every good entry and drops the bad lines.
  ASSERT_EQ(store.SetValue("Deep", "n", Int(1)), kErrorSuccess);
  const std::string rewritten = ReadFileText(file_);
  EXPECT_EQ(rewritten.find("badint"), std::string::npos);
  RegistryStore again(file_, "");
  ASSERT_EQ(again.GetValue("G\xC3\xA9n\xC3\xA9ral", "later", &v), kErrorSuccess);
  EXPECT_EQ(v.data, "%zz stays");
  ASSERT_EQ(again.KeyExists("Deep\\Only\\Leaf", &exists), kErrorSuccess);
  EXPECT_TRUE(exists);
}

TEST_F(RegistryStoreTest, FailuresAreNumbers) {
  RegistryStore store(file_, "");
  RegValue v;
  EXPECT_EQ(store.GetValue("Missing", "x", &v), kErrorFileNotFound);
  std::vector<std::string> names;
  EXPECT_EQ(store.GetKeyNames("Missing", &names), kErrorFileNotFound);
  EXPECT_EQ(store.DeleteKey("Missing"), kErrorFileNotFound);
  EXPECT_EQ(store.DeleteKey(""), kErrorAccessDenied);
  EXPECT_EQ(store.DeleteValue("", "x"), kErrorFileNotFound);
  EXPECT_EQ(store.SetValue("K", "x", RegValue()), kErrorInvalidParameter);
  EXPECT_FALSE(fs::exists(file_)) << "failed edits write nothing";

  // A store that cannot be read is an error, not an empty registry.
  fs::create_directory(file_);
  EXPECT_EQ(store.GetValue("K", "x", &v), kErrorAccessDenied);
  EXPECT_NE(store.SetValue("K", "x", Int(1)), kErrorSuccess);
}

// Random edits with names in random letter case, against a reference that folds case.
TEST_F(RegistryStoreTest, BehavesLikeACaseBlindMapUnderRandomEdits) {
  const std::vector<std::string> keys = {"A", "A\\B", "A\\B\\C", "D", "\xC3\xA9t\xC3\xA9"};
  const std::vector<std::string> names = {"", "x", "Y", "z\xC3\xA9"};
  auto fold = [](std::string s) {
    for (char& c : s) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (s.find("\xC3\xA9") != std::string::npos) {
      size_t at;
      while ((at = s.find("\xC3\xA9")) != std::string::npos) s.replace(at, 2, "\xC3\x89");
    }
    return s;
  };
  auto variant = [](std::mt19937& random, std::string s) {
    for (char& c : s) {
      if (random() % 2 == 0) {
        if (c >= 'a' && c <= 'z')
          c = static_cast<char>(c - 32);
        else if (c >= 'A' && c <= 'Z')
          c = static_cast<char>(c + 32);
      }
    }
    return s;
  };
  std::mt19937 random(2024);
  RegistryStore store(file_, "");
  std::map<std::string, std::map<std::string, RegValue>> model;  // folded key -> folded name
  std::set<std::string> model_keys;
  auto add_key = [&](const std::string& key) {  // with its parents
    for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
      model_keys.insert(fold(key.substr(0, at)));
    }
    model_keys.insert(fold(key));
  };
  for (int step = 0; step < 300; ++step) {
    const std::string key = keys[random() % keys.size()];
    const std::string name = names[random() % names.size()];
    const std::string key_as_written = variant(random, key);
    const std::string name_as_written = variant(random, name);
    switch (random() % 6) {
      case 0:
      case 1:
      case 2: {
        const RegValue value =
            random() % 2 ? Int(static_cast<int32_t>(random())) : Text(std::to_string(step));
        ASSERT_EQ(store.SetValue(key_as_written, name_as_written, value), kErrorSuccess);
        model[fold(key)][fold(name)] = value;
        add_key(key);
        break;
      }
      case 3: {
        const bool present = model.count(fold(key)) && model[fold(key)].count(fold(name));
        EXPECT_EQ(store.DeleteValue(key_as_written, name_as_written),
                  present ? kErrorSuccess : kErrorFileNotFound);
        if (present) model[fold(key)].erase(fold(name));
        break;
      }
      case 4: {
        const bool present = model_keys.count(fold(key)) != 0;
        EXPECT_EQ(store.DeleteKey(key_as_written), present ? kErrorSuccess : kErrorFileNotFound);
        for (auto it = model_keys.begin(); it != model_keys.end();) {
          const bool below = *it == fold(key) || it->rfind(fold(key) + "\\", 0) == 0;
          if (below) {
            model.erase(*it);
            it = model_keys.erase(it);
          } else {
            ++it;
          }
        }
        break;
      }
      case 5:
        ASSERT_EQ(store.CreateKey(key_as_written), kErrorSuccess);
        add_key(key);
        break;
    }
    for (const std::string& k : keys) {
      bool exists = false;
      ASSERT_EQ(store.KeyExists(k, &exists), kErrorSuccess);
      ASSERT_EQ(exists, model_keys.count(fold(k)) != 0) << k << " at step " << step;
      for (const std::string& n : names) {
        RegValue got;
        const OsError error = store.GetValue(k, n, &got);
        const bool present = model.count(fold(k)) && model[fold(k)].count(fold(n));
        ASSERT_EQ(error, present ? kErrorSuccess : kErrorFileNotFound) << k << "/" << n;
        if (present) {
          ASSERT_TRUE(Same(got, model[fold(k)][fold(n)]));
        }
      }
    }
  }
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  std::vector<pid_t> children;
  for (const char* prefix : {"A", "B"}) {
    char path[] = MIRVEL_REGISTRY_WRITER;
    std::string file = file_;
    std::string who = prefix;
    std::string count = "200";
    char* argv[] = {path, file.data(), who.data(), count.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, path, nullptr, nullptr, argv, environ), 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  RegistryStore store(file_, "");
  std::vector<std::string> names;
  ASSERT_EQ(store.GetValueNames("Software\\Ordelis\\Mirvel\\Concurrency", &names), kErrorSuccess);
  EXPECT_EQ(names.size(), 400u);
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < 200; ++i) {
      RegValue v;
      ASSERT_EQ(
          store.GetValue("Software\\Ordelis\\Mirvel\\Concurrency", prefix + std::to_string(i), &v),
          kErrorSuccess)
          << prefix << i;
      if (i % 2 == 0) {
        EXPECT_TRUE(Same(v, Text(prefix + std::string(" value ") + std::to_string(i) + " =%\n")));
      } else {
        EXPECT_TRUE(Same(v, Int(i)));
      }
    }
  }
  EXPECT_FALSE(fs::exists(file_ + ".tmp"));
}

TEST_F(RegistryStoreTest, FallbackIsReadNeverWritten) {
  const std::string fallback = dir_.File("system.reg");
  const std::string preset = "[Software\\Ordelis\\Mirvel]\nDatabase=s:/srv/mirvel\nPort=d:5\n";
  std::ofstream(fallback, std::ios::binary) << preset;
  RegistryStore store(file_, fallback);
  RegValue v;
  ASSERT_EQ(store.GetValue("software\\ordelis\\mirvel", "DATABASE", &v), kErrorSuccess);
  EXPECT_EQ(v.data, "/srv/mirvel");
  ASSERT_EQ(store.SetValue("Software\\Ordelis\\Mirvel", "Port", Int(6)), kErrorSuccess);
  ASSERT_EQ(store.GetValue("Software\\Ordelis\\Mirvel", "Port", &v), kErrorSuccess);
  EXPECT_EQ(v.integer, 6);
  std::vector<std::string> names;
  ASSERT_EQ(store.GetValueNames("Software\\Ordelis\\Mirvel", &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"Port", "Database"}));
  EXPECT_EQ(store.DeleteValue("Software\\Ordelis\\Mirvel", "Database"), kErrorAccessDenied);
  EXPECT_EQ(store.DeleteKey("Software"), kErrorAccessDenied);
  ASSERT_EQ(store.GetValue("Software\\Ordelis\\Mirvel", "Database", &v), kErrorSuccess);
  EXPECT_EQ(ReadFileText(fallback), preset);
}

}  // namespace
}  // namespace platform
