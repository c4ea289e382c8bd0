#include "classlib/rtl/Streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "tests/platform/TempDirectory.h"

namespace cl {
namespace {

namespace fs = std::filesystem;

using mirvel_test::TempDirectory;

// A stream over a caller's fixed block whose writes copy into it (a shared-memory view).
class TBlockStream : public TCustomMemoryStream {
 public:
  TBlockStream(void* block, int64_t size) { SetPointer(block, size); }
  int32_t Write(const void* buffer, int32_t count) override {
    std::memcpy(static_cast<uint8_t*>(Memory()) + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
  }
};

TEST(TMemoryStreamTest, RandomWritesSeeksAndResizesMatchAByteVector) {
  std::mt19937 random(99);
  TMemoryStream stream;
  std::vector<uint8_t> model;
  int64_t position = 0;
  for (int step = 0; step < 3000; ++step) {
    switch (random() % 5) {
      case 0:
      case 1: {
        std::vector<uint8_t> data(random() % 300);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        stream.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
        if (position + static_cast<int64_t>(data.size()) > static_cast<int64_t>(model.size())) {
          model.resize(static_cast<size_t>(position) + data.size());  // zero-filled gaps
        }
        std::copy(data.begin(), data.end(), model.begin() + position);
        position += static_cast<int64_t>(data.size());
        break;
      }
      case 2: {
        const int64_t offset = static_cast<int64_t>(random() % 200);
        const auto origin = static_cast<TSeekOrigin>(random() % 3);
        int64_t expected = origin == soFromBeginning ? offset
                           : origin == soFromCurrent ? position - offset / 2
                                                     : static_cast<int64_t>(model.size()) - offset;
        if (expected < 0) break;
        const int64_t arg = origin == soFromBeginning ? offset
                            : origin == soFromCurrent ? -(offset / 2)
                                                      : -offset;
        EXPECT_EQ(stream.Seek(arg, origin), expected);
        position = expected;
        break;
      }
      case 3: {
        std::vector<uint8_t> got(random() % 100);
        const int32_t n = stream.Read(got.data(), static_cast<int32_t>(got.size()));
        const int64_t available =
            std::max<int64_t>(0, static_cast<int64_t>(model.size()) - position);
        ASSERT_EQ(n, std::min<int64_t>(available, static_cast<int64_t>(got.size())));
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + position));
        position += n;
        break;
      }
      case 4:
        if (random() % 4 == 0) {
          const int64_t size = static_cast<int64_t>(random() % (model.size() + 50));
          stream.SetSize(size);
          model.resize(static_cast<size_t>(size));
          if (position > size) position = size;
        }
        break;
    }
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(model.size()));
    ASSERT_EQ(stream.Position(), position);
  }
  ASSERT_EQ(stream.Bytes(), model);
}

TEST(TMemoryStreamTest, ShortReadsAndTheirErrors) {
  TMemoryStream stream;
  const char text[] = "abcdef";
  stream.WriteBuffer(text, 6);
  stream.SetPosition(4);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  stream.SetPosition(4);
  try {
    stream.ReadBuffer(buffer, 3);
    FAIL() << "read past the end accepted";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Erreur de lecture de flux");
  }
  stream.SetPosition(-3);
  EXPECT_EQ(stream.Read(buffer, 1), 0);
  EXPECT_EQ(stream.Write(buffer, 1), 0);
  EXPECT_THROW(stream.WriteBuffer(buffer, 1), EWriteError);
  stream.SetPosition(6);
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(TMemoryStreamTest, ForeignBlockTakesWritesInPlace) {
  uint8_t block[4] = {0, 0, 0, 0};
  TBlockStream view(block, sizeof block);
  uint8_t handle[4];
  PutU32LE(handle, 0x00012345);
  view.WriteBuffer(handle, 4);
  EXPECT_EQ(GetU32LE(block), 0x00012345u);
  view.SetPosition(0);
  uint8_t back[4];
  view.ReadBuffer(back, 4);
  EXPECT_EQ(GetU32LE(back), 0x00012345u);
  EXPECT_EQ(view.Size(), 4);
}

TEST(TFileStreamTest, RoundTripsThroughFilesAndCopies) {
  TempDirectory dir("streams");
  const std::string name = dir.File(
      "donn\xE9"
      "es.bin");  // a Windows-1252 name
  TMemoryStream data;
  for (int i = 0; i < 100000; ++i) {
    const uint8_t b = static_cast<uint8_t>(i * 7);
    data.WriteBuffer(&b, 1);
  }
  data.SaveToFile(name);
  EXPECT_TRUE(
      fs::exists(dir.File("donn\xC3\xA9"
                          "es.bin")))
      << "the name reaches the disk as UTF-8";
  TMemoryStream back;
  back.LoadFromFile(name);
  EXPECT_EQ(back.Bytes(), data.Bytes());

  {
    TFileStream file(name, fmOpenReadWrite | fmShareDenyNone);
    EXPECT_EQ(file.Size(), 100000);
    file.Seek(-10, soFromEnd);
    file.WriteBuffer("0123456789ABC", 13);
    EXPECT_EQ(file.Size(), 100003);
    file.SetSize(50);
    EXPECT_EQ(file.Position(), 50);
    EXPECT_EQ(file.Seek(-60, soFromCurrent), -1);
    EXPECT_EQ(file.Position(), 50);
  }
  {
    TFileStream file(name, fmOpenRead);
    TMemoryStream copy;
    file.SetPosition(10);
    EXPECT_EQ(copy.CopyFrom(file, 0), 50) << "a count of 0 copies everything from the start";
    EXPECT_EQ(std::vector<uint8_t>(copy.Bytes().begin(), copy.Bytes().end()),
              std::vector<uint8_t>(data.Bytes().begin(), data.Bytes().begin() + 50));
    file.SetPosition(45);
    EXPECT_THROW(copy.CopyFrom(file, 10), EReadError);
    EXPECT_EQ(file.Write("x", 1), 0) << "a file opened for reading takes no writes";
  }
}

TEST(TFileStreamTest, ModesAndErrors) {
  TempDirectory dir("streams");
  const std::string missing = dir.File("absent.dat");
  try {
    TFileStream file(missing, fmOpenRead);
    FAIL() << "a missing file opened";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Impossible d'ouvrir le fichier " + missing + " (erreur 2)");
  }
  try {
    TFileStream file(dir.File("no/such/dir.dat"), fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message().rfind("Impossible de cr\xE9"
                                "er le fichier ",
                                0),
              0u);
  }

  const std::string log = dir.File("ERROR.LOG");
  {
    TFileStream create(log, fmCreate);
    create.WriteBuffer("first\r\n", 7);
    // Created exclusively: nobody else may open it meanwhile.
    EXPECT_THROW(TFileStream(log, fmOpenRead | fmShareDenyNone), EFOpenError);
  }
  {
    TFileStream writer(log, fmOpenReadWrite | fmShareDenyWrite);
    writer.Seek(0, soFromEnd);
    writer.WriteBuffer("second\r\n", 8);
    EXPECT_THROW(TFileStream(log, fmOpenReadWrite | fmShareDenyWrite), EFOpenError);
  }
  {
    TFileStream a(log, fmOpenRead | fmShareDenyNone);
    TFileStream b(log, fmOpenRead | fmShareDenyNone);  // shared opens coexist
    EXPECT_EQ(a.Size(), 15);
    EXPECT_THROW(TFileStream(log, fmCreate), EFCreateError) << "an open file is not replaced";
  }
  TFileStream replace(log, fmCreate);
  EXPECT_EQ(replace.Size(), 0);
}

TEST(TStreamTest, HandleStreamSharesTheCallersFile) {
  TempDirectory dir("streams");
  const std::string path = dir.File("h.bin");
  platform::OsFile file;
  ASSERT_EQ(file.CreateNew(path, false), platform::kErrorSuccess);
  {
    THandleStream stream(&file);
    stream.WriteBuffer("hello", 5);
    EXPECT_EQ(stream.Handle(), &file);
  }
  EXPECT_TRUE(file.IsOpen()) << "a handle stream does not close what it does not own";
  int64_t size = 0;
  file.GetSize(&size);
  EXPECT_EQ(size, 5);
}

}  // namespace
}  // namespace cl
