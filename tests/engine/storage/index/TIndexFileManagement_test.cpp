#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/IndexCheck.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/values/KeyEncoding.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing::EngineCode;

class Owner : public TIndexFileOwner {
 public:
  std::string name = "Users.DAT";
  std::map<uint16_t, TKeyField> fields;
  uint32_t physical = 0;
  std::function<bool()> on_read;
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return false; }
  bool InExclusivePhase() const override { return false; }
  bool KeyFieldInfo(uint16_t number, TKeyField& field) const override {
    auto it = fields.find(number);
    if (it == fields.end()) return false;
    field = it->second;
    return true;
  }
  uint32_t PhysicalRecordCount() const override { return physical; }
  bool TakeReadLockChanged() override { return on_read ? on_read() : false; }
};

TIndexDescriptor Index(const std::string& name, uint16_t k = 9, uint8_t fields = 1) {
  TIndexDescriptor d;
  d.name = name;
  d.key_length = k;
  d.field_count = fields;
  for (int i = 0; i < fields && i < kMaxKeyFields; ++i)
    d.field_numbers[i] = static_cast<uint16_t>(i + 1);
  return d;
}

Bytes Key(uint32_t n, size_t k = 9) {
  Bytes key(k, 0);
  key[0] = 1;
  EncodeInt32Key(static_cast<int32_t>(n), key.data() + 1);
  return key;
}

class IndexManagementTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }
  void SetUp() override {
    owner_.fields[1] = {6, 4};   // a 32-bit integer
    owner_.fields[2] = {3, 10};  // a blob
  }
  std::unique_ptr<TIndexFile> Make(bool exclusive) {
    auto f = std::make_unique<TIndexFile>(owner_);
    f->SetExclusive(exclusive);
    f->SetFileName(dir_.File("Users"));
    return f;
  }
  std::unique_ptr<TIndexFile> NewFile() {
    auto f = Make(true);
    f->CreateNew();
    return f;
  }
  // As the data file commits a write: pages, then the header, forced.
  static void Save(TIndexFile& f) {
    f.WriteDirtyPages();
    f.WriteHeader(true);
  }
  static TIndexCheckReport Check(TIndexFile& f) {
    return CheckIndexFile(
        f.HeaderImage(), [&f](uint32_t offset, uint8_t* image) { f.ReadPageImage(offset, image); },
        nullptr, false);
  }

  mirvel_test::TempDirectory dir_{"btree-idx"};
  Owner owner_;
};

TEST_F(IndexManagementTest, SecondaryDefinitionsCheckInOrder) {
  auto shared = Make(false);
  {
    auto f = NewFile();
    f->WriteHeader(true);
  }
  shared->Open();
  EXPECT_EQ(EngineCode([&] { shared->AddSecondaryIndex(Index("")); }), kErrNeedExclusive)
      << "exclusive comes first, before the name";
  shared->Close();

  auto f = NewFile();
  TIndexDescriptor many = Index("Many");
  many.field_count = 17;
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(many); }), kErrIndexLimits);
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(Index("")); }), kErrIndexNameMissing);
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(Index("1st")); }), kErrInvalidIndexName);
  f->AddSecondaryIndex(Index("\xC9t\xE9"));  // "Été": a first byte of 0xC9 is a letter
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(Index("\xE9T\xC9")); }), kErrIndexExists)
      << "names compare ignoring case, accented letters too";
  TIndexDescriptor blob = Index("Notes");
  blob.field_numbers[0] = 2;
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(blob); }), kErrInvalidIndexFieldType);
  // Names cut to 30 characters: two that share them are the same index name.
  const std::string long_a(30, 'A');
  f->AddSecondaryIndex(Index(long_a + "First"));
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(Index(long_a + "Second")); }), kErrIndexExists);
  EXPECT_EQ(f->GetIndexDescriptor(2).name, long_a);
  for (int i = f->SecondaryCount(); i < 30; ++i)
    f->AddSecondaryIndex(Index("Ix" + std::to_string(i)));
  EXPECT_EQ(f->SecondaryCount(), 30);
  EXPECT_EQ(EngineCode([&] { f->AddSecondaryIndex(Index("")); }), kErrIndexLimits)
      << "a 31st index fails before its name is looked at";
  EXPECT_TRUE(f->HeaderChanged());
}

TEST_F(IndexManagementTest, PrimaryDefinition) {
  auto f = NewFile();
  TIndexDescriptor blob = Index("");
  blob.field_numbers[0] = 2;
  EXPECT_EQ(EngineCode([&] { f->DefinePrimaryIndex(blob); }), kErrInvalidIndexFieldType);
  TIndexDescriptor many = Index("");
  many.field_count = 17;
  EXPECT_EQ(EngineCode([&] { f->DefinePrimaryIndex(many); }), kErrIndexLimits);
  f->DefinePrimaryIndex(Index("Ignored"));
  EXPECT_EQ(f->GetIndexDescriptor(0).name, "") << "the primary index has no name";
  EXPECT_EQ(f->GetIndexDescriptor(0).key_length, 9);
  EXPECT_FALSE(f->NoPrimaryFields());
  EXPECT_EQ(EngineCode([&] { f->DefinePrimaryIndex(Index("")); }), kErrPrimaryIndexExists);
}

TEST_F(IndexManagementTest, TableWithoutPrimaryFieldsRunsInRecordOrder) {
  {
    auto f = NewFile();
    f->DefinePrimaryIndex(Index("", 0, 0));
    f->IncRecordCount();
    f->IncRecordCount();
    f->IncRecordCount();
    f->WriteHeader(false);
    Bytes slot0(kIndexDescriptorSize, 0);
    EXPECT_EQ(Bytes(f->HeaderImage() + DescriptorOffset(0),
                    f->HeaderImage() + DescriptorOffset(0) + kIndexDescriptorSize),
              slot0);
    EXPECT_EQ(f->HeaderImage()[kIdxNoPrimaryFields], 1);
  }
  owner_.physical = 5;  // two deleted records beyond the live count are still reachable
  auto f = Make(true);
  f->Open();
  EXPECT_TRUE(f->InRecordOrder());
  EXPECT_EQ(f->CurrentRecordNumber(), 1u) << "the cursor is on the first record after Open";
  f->Last();
  EXPECT_EQ(f->CurrentRecordNumber(), 5u);
  EXPECT_EQ(f->RangeCount(), 5u);
}

TEST_F(IndexManagementTest, SelectionByName) {
  auto f = NewFile();
  f->DefinePrimaryIndex(Index(""));
  f->AddSecondaryIndex(Index("ByName"));
  f->AddSecondaryIndex(Index("ByDate"));
  f->SelectIndexByName("bydate");
  EXPECT_EQ(f->CurrentSlot(), 2);
  EXPECT_EQ(f->CurrentIndexName(), "ByDate");
  f->SelectIndexByName("Nothing");
  EXPECT_EQ(f->CurrentSlot(), 0);
  f->SelectIndexByName("BYNAME");
  EXPECT_EQ(f->CurrentSlot(), 1);
  f->SelectIndexByName("");
  EXPECT_EQ(f->CurrentSlot(), 0);
}

TEST_F(IndexManagementTest, TreesSurviveCloseAndEmptyIndexesLeavesAHeaderOnly) {
  {
    auto f = NewFile();
    f->DefinePrimaryIndex(Index(""));
    f->AddSecondaryIndex(Index("Second", 13));
    for (uint32_t n = 1; n <= 2000; ++n) {
      f->SelectIndex(0);
      f->InsertKey(Key(n).data(), n);
      f->SelectIndex(1);
      Bytes k2 = Key(5000 - n, 13);
      EncodeInt32Key(static_cast<int32_t>(n), k2.data() + 9);
      f->InsertKey(k2.data(), n);
      f->IncRecordCount();
    }
    Save(*f);
  }
  auto f = Make(true);
  f->Open();
  EXPECT_EQ(f->CurrentRecordNumber(), 1u);
  f->Last();
  EXPECT_EQ(f->CurrentRecordNumber(), 2000u);
  f->SelectIndex(1);
  f->First();
  EXPECT_EQ(f->CurrentRecordNumber(), 2000u) << "the second index runs the other way";
  TIndexCheckReport report = Check(*f);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.keys[0], 2000u);
  EXPECT_EQ(report.keys[1], 2000u);

  f->EmptyIndexes();
  f->WriteHeader(false);
  EXPECT_EQ(f->Size(), 4096);
  EXPECT_EQ(f->EndOffset(), 4096u);
  EXPECT_EQ(f->RecordCount(), 0u);
  EXPECT_TRUE(f->Cursor().AtBeginning() && f->Cursor().AtEnd());
  for (int slot : {0, 1, 31}) {
    EXPECT_EQ(f->GetIndexDescriptor(slot).root, 0u);
    EXPECT_EQ(f->GetIndexDescriptor(slot).free_head, 0u);
  }
  f->SelectIndex(0);
  f->InsertKey(Key(7).data(), 7);
  EXPECT_EQ(f->RootPage(), 4096u) << "pages start again right behind the header";
  Save(*f);
  report = Check(*f);
  EXPECT_TRUE(report.ok) << report.problem;
}

// Another handle's write is seen at the next read from disk: the read lock's change check drops
// the cache and the operation starts again from the root.
TEST_F(IndexManagementTest, AnotherHandlesChangeRestartsTheOperation) {
  {
    auto f = NewFile();
    f->DefinePrimaryIndex(Index(""));
    for (uint32_t n = 1; n <= 3000; n += 2) f->InsertKey(Key(n).data(), n);
    Save(*f);
  }
  auto writer = Make(false);
  writer->Open();
  Owner reader_owner = owner_;
  auto reader = std::make_unique<TIndexFile>(reader_owner);
  reader->SetFileName(dir_.File("Users"));
  reader->Open();
  int restarts = 0;
  reader_owner.on_read = [&] {
    if (!reader->CheckChanged()) return false;
    reader->InvalidateCache();
    ++restarts;
    return true;
  };
  EXPECT_FALSE(reader->FindKey(Key(1000).data(), false));

  writer->InsertKey(Key(1000).data(), 1000);
  Save(*writer);
  EXPECT_TRUE(reader->CheckChanged());
  reader->InvalidateCache();
  EXPECT_TRUE(reader->FindKey(Key(1000).data(), false));
  EXPECT_EQ(reader->Cursor().CurrentPosition(), 501u);

  // Now a change lands while the reader's cache is warm: its next disk read notices it.
  reader->PageCache().SetListCapacity(1);
  writer->DeleteKey(Key(1000).data(), 1000);
  writer->InsertKey(Key(2).data(), 2);
  Save(*writer);
  EXPECT_TRUE(reader->FindKey(Key(2).data(), false));
  EXPECT_EQ(reader->Cursor().CurrentPosition(), 2u);
  EXPECT_FALSE(reader->Tree().Contains(Key(1000).data()));
  EXPECT_EQ(restarts, 1);
}

}  // namespace
}  // namespace tessera
