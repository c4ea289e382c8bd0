#include "engine/storage/core/TableCipher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "classlib/rtl/Cp1252.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "platform/ProcessInfo.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

TEST(TableCipher, KeyBytesAreFileFormatConstants) {
  // Changing any of these makes every encrypted table unreadable.
  EXPECT_EQ(kDataKeyA, 0xA7);
  EXPECT_EQ(kDataKeyB, 0x3C);
  EXPECT_EQ(kPasswordKeyA, 0x6D);
  EXPECT_EQ(kPasswordKeyB, 0xD2);
}

TEST(TableCipher, RoundTripsAndMatchesTheKeystream) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{65535}, size_t{86 * 768}, size_t{200000}}) {
    const Bytes plain = RandomBytes(n, static_cast<uint32_t>(n));
    Bytes b = plain;
    EncipherBuffer(b.data(), b.size(), kDataKeyA, kDataKeyB);
    // Every byte, also past 65,535, is XORed with the running pair.
    uint8_t a = kDataKeyA, k = kDataKeyB;
    for (size_t i = 0; i < n; ++i, ++a, --k) {
      ASSERT_EQ(b[i], plain[i] ^ a ^ k) << "byte " << i << " of " << n;
    }
    DecipherBuffer(b.data(), b.size(), kDataKeyA, kDataKeyB);
    EXPECT_EQ(b, plain) << n;
  }
}

TEST(TableCipher, FirstBytesAndWrap) {
  Bytes b(3, 0);
  EncipherBuffer(b.data(), b.size(), 0x12, 0x34);
  EXPECT_EQ(b, (Bytes{0x12 ^ 0x34, 0x13 ^ 0x33, 0x14 ^ 0x32}));
  b.assign(3, 0);
  EncipherBuffer(b.data(), b.size(), 255, 0);  // A wraps to 0, B to 255
  EXPECT_EQ(b, (Bytes{255 ^ 0, 0 ^ 255, 1 ^ 254}));
  b.assign(3, 0);
  EncipherBuffer(b.data(), b.size(), 255, 7);
  EXPECT_EQ(b, (Bytes{0xF8, 0x06, 0x04}));
  // Each call starts again from the key bytes: pieces enciphered apart match one another.
  Bytes p(4, 0x55), q(4, 0x55);
  EncipherBuffer(p.data(), 2, 9, 9);
  EncipherBuffer(p.data() + 2, 2, 9, 9);
  EXPECT_EQ(p[0], p[2]);
  EXPECT_EQ(p[1], p[3]);
  EncipherBuffer(q.data(), 4, 9, 9);
  EXPECT_NE(q[2], p[2]);
}

TEST(TableCipher, StoredShortStrings) {
  uint8_t field[16];
  PutEncipheredShortString(field, 15, "Secret");
  EXPECT_EQ(field[0], 6);  // the length byte stays plain
  EXPECT_EQ(field[1], 'S' ^ kPasswordKeyA ^ kPasswordKeyB);
  EXPECT_EQ(field[15], 0 ^ ((kPasswordKeyA + 14) & 0xFF) ^ ((kPasswordKeyB - 14) & 0xFF));
  EXPECT_EQ(GetEncipheredShortString(field, 15), "Secret");
  PutEncipheredShortString(field, 15, "a password far too long");
  EXPECT_EQ(GetEncipheredShortString(field, 15), "a password far ");
  field[0] = 200;  // damaged length byte
  EXPECT_EQ(GetEncipheredShortString(field, 15).size(), 15u);
}

class TableCipherSession : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    session_ = GetEngineSession();
  }
  void TearDown() override { ShutdownEngine(); }

  static uint16_t ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const ETesseraEngineError& e) {
      return static_cast<uint16_t>(e.GetError(0).ErrorCode());
    }
    return 0;
  }

  TFileSession* session_ = nullptr;
};

TEST_F(TableCipherSession, PasswordProtocol) {
  uint8_t stored[16];
  PutEncipheredShortString(stored, 15, "Secret");

  EXPECT_EQ(ErrorOf([&] { CheckTablePassword(*session_, stored, "T", nullptr); }),
            kErrPasswordRequired);

  int calls = 0;
  auto gives_up = [&] {
    ++calls;
    session_->AddPassword("secret");  // wrong case: not the password
    return calls < 3;
  };
  EXPECT_EQ(ErrorOf([&] { CheckTablePassword(*session_, stored, "T", gives_up); }),
            kErrPasswordRequired);
  EXPECT_EQ(calls, 3);

  calls = 0;
  auto supplies = [&] {
    ++calls;
    session_->AddPassword("Secret");
    return true;
  };
  EXPECT_EQ(ErrorOf([&] { CheckTablePassword(*session_, stored, "T", supplies); }), 0);
  EXPECT_EQ(calls, 1);
  // Held already: the event is not called.
  EXPECT_EQ(ErrorOf([&] { CheckTablePassword(*session_, stored, "T", nullptr); }), 0);
}

TEST_F(TableCipherSession, TempTableNames) {
  namespace fs = std::filesystem;
  const mirvel_test::TempDirectory temp("tmpnames");
  const fs::path dir = temp.Path();
  const std::string d = dir.string() + "/";
  session_->SetPrivateDirectory(dir.string());

  EXPECT_EQ(MakeTempTableName(*session_, false, 1234567), d + "123450.DAT");
  EXPECT_EQ(MakeTempTableName(*session_, false, -1234567), d + "123450.DAT");
  EXPECT_EQ(MakeTempTableName(*session_, false, 42), d + "420.DAT");
  std::ofstream(dir / "123450.DAT").put('x');
  std::ofstream(dir / "123451.DAT").put('x');
  std::ofstream(dir / "123453.DAT").put('x');
  EXPECT_EQ(MakeTempTableName(*session_, false, 1234567), d + "123452.DAT");
  // A name in another case is the same file for the engine.
  std::ofstream(dir / "420.dat").put('x');
  EXPECT_EQ(MakeTempTableName(*session_, false, 42), d + "421.DAT");

  // In memory only the session's in-memory files count.
  EXPECT_EQ(MakeTempTableName(*session_, true, 1234567), d + "123450.DAT");
  TMemoryFile* file = nullptr;
  ASSERT_GE(session_->MemoryFiles().CreateFile(d + "123450.DAT", file), 0);
  EXPECT_EQ(MakeTempTableName(*session_, true, 1234567), d + "123451.DAT");

  // Without a private directory: the current directory on disk, none in memory.
  session_->SetPrivateDirectory("");
  const std::string cwd = cl::Utf8ToCp1252(platform::GetCurrentDir());
  const std::string name = MakeTempTableName(*session_, false, 98765);
  EXPECT_EQ(name.substr(0, cwd.size() + 6), (cwd == "/" ? "/" : cwd + "/") + "98765");
  EXPECT_EQ(MakeTempTableName(*session_, true, 98765), "987650.DAT");
  // The thread's own id gives the same form.
  const std::string own = MakeTempTableName(*session_, true);
  EXPECT_EQ(own, std::to_string(platform::GetCurrentThreadId()).substr(0, 5) + "0.DAT");

  // A directory too long for a ShortString name is refused, not cut.
  session_->SetPrivateDirectory("/" + std::string(250, 'd'));
  EXPECT_EQ(ErrorOf([&] { MakeTempTableName(*session_, false, 42); }), kErrInvalidPath);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tessera
