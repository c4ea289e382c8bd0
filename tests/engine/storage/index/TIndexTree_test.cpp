#include "engine/storage/index/TIndexTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "IndexTreeTestHost.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/values/KeyEncoding.h"
#include "platform/FaultyFile.h"

namespace tessera::testing {
namespace {

// ---- the reference model --------------------------------------------------------------------

struct ByOrder {
  TKeyOrder order;
  size_t k;
  bool operator()(const Bytes& a, const Bytes& b) const {
    return order.Compare(a.data(), b.data(), k) < 0;
  }
};
// Equal keys stay in insertion order, as in the tree.
using Model = std::multimap<Bytes, uint32_t, ByOrder>;

enum class Kind { kPrimary, kSuffix, kDescending, kWrap };

struct Config {
  uint16_t k;
  uint8_t mode;
  Kind kind;
};

std::string Name(const Config& c) {
  const char* kinds[] = {"Primary", "Suffix", "Descending", "Wrap"};
  return "K" + std::to_string(c.k) + "_Mode" + std::to_string(c.mode) + "_" +
         kinds[static_cast<int>(c.kind)];
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != 0 ? std::strtoull(v, nullptr, 10) : fallback;
}

class Sequence {
 public:
  Sequence(const Config& c, uint32_t seed)
      : c_(c), rng_(seed), suffix_(c.kind == Kind::kSuffix || c.kind == Kind::kWrap ? 4 : 0) {
    const size_t body = c.k - suffix_;
    stem_.resize(body);
    for (auto& b : stem_) b = static_cast<uint8_t>('a' + rng_() % 3);
  }

  // Keys with shared stems, short random middles and trailing zeros, so that every compression
  // mode meets long shared prefixes and long zero tails.
  Bytes Key(uint32_t record) {
    const size_t body = c_.k - suffix_;
    Bytes key(c_.k, 0);
    size_t pos = 0;
    if (rng_() % 2 == 0) {
      pos = rng_() % (body + 1);
      std::copy(stem_.begin(), stem_.begin() + static_cast<ptrdiff_t>(pos), key.begin());
    }
    const size_t extra = std::min<size_t>(body - pos, rng_() % (c_.k >= 20 ? 48 : 6));
    for (size_t i = 0; i < extra; ++i) {
      key[pos + i] = static_cast<uint8_t>(c_.k <= 3 ? rng_() % 256 : 'A' + rng_() % 4);
    }
    if (suffix_ != 0) {
      const int32_t seq =
          c_.kind == Kind::kWrap ? static_cast<int32_t>(rng_() % 6) : static_cast<int32_t>(record);
      EncodeInt32Key(seq, key.data() + body);
    }
    return key;
  }
  uint32_t Next(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

 private:
  Config c_;
  std::mt19937 rng_;
  size_t suffix_;
  Bytes stem_;
};

class BTreeModelTest : public TreeFixture, public ::testing::WithParamInterface<Config> {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }

  void MakeFor(const Config& c, size_t cache_pages) {
    TIndexDescriptor d =
        Descriptor(c.k, c.mode, c.kind == Kind::kDescending, c.kind == Kind::kDescending);
    const int slot = c.kind == Kind::kPrimary ? 0 : 1;
    if (slot == 0) d.name.clear();
    Make(slot, d, cache_pages);
  }

  // The whole index read through the cursor equals the model, in order.
  void ExpectSameContents(const Model& model) {
    std::vector<std::pair<Bytes, uint32_t>> seen;
    cursor_->First();
    Bytes key(GetParam().k);
    while (!cursor_->AtEnd() && !cursor_->AtBeginning()) {
      ASSERT_TRUE(cursor_->CurrentKey(key.data()));
      seen.emplace_back(key, cursor_->CurrentRecordNumber());
      ASSERT_LE(seen.size(), model.size()) << "more keys in the tree than in the model";
      cursor_->MoveBy(1);
    }
    ASSERT_EQ(seen.size(), model.size());
    size_t i = 0;
    for (const auto& [k, r] : model) {
      ASSERT_EQ(seen[i].first, k) << "key at position " << i + 1;
      ASSERT_EQ(seen[i].second, r) << "record at position " << i + 1;
      ++i;
    }
  }

  void ExpectPositions(const Model& model, Sequence& seq) {
    if (model.empty()) return;
    std::vector<uint32_t> records;
    for (const auto& kv : model) records.push_back(kv.second);
    for (int i = 0; i < 4; ++i) {
      const uint32_t p = 1 + seq.Next(static_cast<uint32_t>(model.size()));
      cursor_->GotoPosition(p);
      ASSERT_EQ(cursor_->CurrentPosition(), p);
      ASSERT_EQ(cursor_->CurrentRecordNumber(), records[p - 1]) << "position " << p;
    }
  }

  void Run(uint32_t seed, int ops) {
    const Config c = GetParam();
    SCOPED_TRACE(Name(c) + " seed " + std::to_string(seed) +
                 " (replay: BTREE_SEED=" + std::to_string(seed) + ")");
    const size_t cache_pages = seed % 2 == 0 ? 3 : TPageCache::kListCapacity;
    MakeFor(c, cache_pages);
    Sequence seq(c, seed);
    Model model(ByOrder{TKeyOrder::Bytes(c.kind == Kind::kDescending), c.k});
    const bool unique = c.kind == Kind::kPrimary || c.kind == Kind::kDescending;
    uint32_t next_record = 1;
    uint32_t max_pages = 0;
    auto random_entry = [&] {
      auto it = model.begin();
      std::advance(it, seq.Next(static_cast<uint32_t>(model.size())));
      return it;
    };
    for (int op = 0; op < ops; ++op) {
      // Growing first, so that small keys split pages too; then mostly changes.
      const uint32_t r = seq.Next(100) - (op < ops / 2 ? 25u : 0u);
      if (static_cast<int32_t>(r) < 55 || model.empty()) {
        const uint32_t record = next_record++;
        const Bytes key = seq.Key(record);
        const bool duplicate = unique && model.count(key) != 0;
        const int code = EngineCode([&] {
          tree_->CheckKeyViolation(key.data());
          tree_->InsertKey(key.data(), record);
        });
        ASSERT_EQ(code, duplicate ? kErrKeyViolation : 0) << "insert, op " << op;
        // The tree itself refuses the duplicate too, before it changes anything.
        if (duplicate) {
          ASSERT_EQ(EngineCode([&] { tree_->InsertKey(key.data(), record); }), kErrKeyViolation);
        } else {
          model.emplace(key, record);
        }
      } else if (r < 78) {
        const auto it = random_entry();
        ASSERT_EQ(EngineCode([&] { tree_->DeleteKey(it->first.data(), it->second); }), 0)
            << "delete, op " << op;
        model.erase(it);
      } else if (r < 84) {
        // An absent entry: a new key, or an existing key under another record number.
        const Bytes key = seq.Next(2) == 0 ? seq.Key(next_record) : random_entry()->first;
        ASSERT_EQ(EngineCode([&] { tree_->DeleteKey(key.data(), next_record + 7); }),
                  kErrKeyNotFound)
            << "absent delete, op " << op;
      } else if (r < 92) {
        const auto it = random_entry();
        const Bytes old_key = it->first;
        const uint32_t record = it->second;
        const Bytes new_key = seq.Key(record);
        const bool clash = unique && model.count(new_key) != 0 &&
                           model.key_comp()(old_key, new_key) != model.key_comp()(new_key, old_key);
        ASSERT_EQ(EngineCode([&] { tree_->ModifyKey(old_key.data(), new_key.data(), record); }),
                  clash ? kErrKeyViolation : 0)
            << "modify, op " << op;
        if (!clash) {
          model.erase(it);
          model.emplace(new_key, record);
        }
      } else {
        const Bytes key = seq.Next(2) == 0 ? seq.Key(next_record) : random_entry()->first;
        ASSERT_EQ(tree_->Contains(key.data()), model.count(key) != 0) << "find, op " << op;
        const bool found = cursor_->FindKey(key.data(), true);
        ASSERT_EQ(found, model.count(key) != 0);
        const auto lb = model.lower_bound(key);
        if (lb == model.end()) {
          ASSERT_TRUE(cursor_->AtEnd());
        } else {
          ASSERT_EQ(cursor_->CurrentPosition(),
                    static_cast<uint32_t>(std::distance(model.begin(), lb)) + 1);
          ASSERT_EQ(cursor_->CurrentRecordNumber(), lb->second);
        }
      }
      ASSERT_EQ(tree_->KeyCount(), model.size()) << "op " << op;
      if (op < 60 || op % 15 == 0) {
        const TIndexCheckReport report = Check();
        ASSERT_TRUE(report.ok) << report.problem << " after op " << op;
        ASSERT_EQ(report.keys[c.kind == Kind::kPrimary ? 0 : 1], model.size());
        max_pages = std::max(max_pages, report.tree_pages);
      }
      if (op % 50 == 0) {
        ExpectPositions(model, seq);
        if (::testing::Test::HasFatalFailure()) return;
      }
      if (op % 100 == 99) {
        ExpectSameContents(model);
        if (::testing::Test::HasFatalFailure()) return;
        Reopen(cache_pages);
        const TIndexCheckReport report = Check();
        ASSERT_TRUE(report.ok) << report.problem << " after reopening at op " << op;
      }
    }
    ExpectSameContents(model);
    if (::testing::Test::HasFatalFailure()) return;
    // The sequence grew the tree past one page: splits, merges and new roots took part.
    if (c.mode == kCompressNone || c.k >= 20) {
      EXPECT_GT(max_pages, 2u);
    }
    // Emptying the index leaves no page outside the free chain.
    while (!model.empty()) {
      const auto it = random_entry();
      ASSERT_EQ(EngineCode([&] { tree_->DeleteKey(it->first.data(), it->second); }), 0);
      model.erase(it);
    }
    Reopen(cache_pages);
    const TIndexCheckReport report = Check();
    ASSERT_TRUE(report.ok) << report.problem;
    EXPECT_EQ(IndexRoot(*host_, c.kind == Kind::kPrimary ? 0 : 1), 0u);
    EXPECT_EQ(report.tree_pages, 0u);
  }
};

TEST_P(BTreeModelTest, RandomSequencesMatchTheModel) {
  const uint64_t replay = EnvNumber("BTREE_SEED", 0);
  const uint64_t seeds = EnvNumber("BTREE_SEEDS", 2);
  const Config c = GetParam();
  const int ops = static_cast<int>(EnvNumber("BTREE_OPS", c.k <= 20    ? 2400
                                                          : c.k <= 255 ? 1200
                                                                       : 500));
  if (replay != 0) return Run(static_cast<uint32_t>(replay), ops);
  for (uint32_t s = 1; s <= seeds && !HasFatalFailure(); ++s) {
    Run(s * 7919u + c.k * 31u + c.mode * 7u + static_cast<uint32_t>(c.kind), ops);
    TearDown();
    SetUp();
  }
}

std::vector<Config> AllConfigs() {
  std::vector<Config> out;
  for (uint16_t k : {3, 9, 20, 255, 1036}) {
    for (uint8_t mode = 0; mode <= 3; ++mode) {
      out.push_back({k, mode, Kind::kPrimary});
      out.push_back({k, mode, Kind::kDescending});
      if (k >= 5) {
        out.push_back({k, mode, Kind::kSuffix});
        out.push_back({k, mode, Kind::kWrap});
      }
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(AllShapes, BTreeModelTest, ::testing::ValuesIn(AllConfigs()),
                         [](const auto& info) { return Name(info.param); });

// ---- edge cases -----------------------------------------------------------------------------

class BTreeTest : public TreeFixture {
 protected:
  static void SetUpTestSuite() { InitializeEngine(); }

  static Bytes NumberKey(uint32_t n, size_t k = 20) {
    Bytes key(k, 0);
    key[0] = 1;
    EncodeInt32Key(static_cast<int32_t>(n), key.data() + 1);
    return key;
  }
  // The page image at an offset, as on disk after a flush.
  Bytes DiskPage(uint32_t offset) {
    cache_->Flush();
    Bytes image(kIndexPageSize);
    host_->File().ReadAt(offset, image.data(), kIndexPageSize);
    return image;
  }
  Bytes WholeFile() {
    cache_->Flush();
    host_->WriteHeader();
    const int32_t size = host_->File().Size();
    Bytes bytes(static_cast<size_t>(size));
    host_->File().ReadAt(0, bytes.data(), size);
    return bytes;
  }
  static uint16_t PageCount(const Bytes& page) { return cl::GetU16LE(page.data() + kPageCount); }
  void ExpectSound() {
    const TIndexCheckReport report = Check();
    EXPECT_TRUE(report.ok) << report.problem;
  }
};

TEST_F(BTreeTest, AscendingInsertsSplitInHalvesAndMakeANewRoot) {
  Make(0, Descriptor(20, kCompressNone));
  for (uint32_t n = 1; n <= 157; ++n) tree_->InsertKey(NumberKey(n).data(), n);
  const uint32_t first_root = IndexRoot(*host_, 0);
  Bytes root = DiskPage(first_root);
  EXPECT_EQ(root[kPageType], kPageRootLeaf);
  EXPECT_EQ(PageCount(root), 157) << "an uncompressed leaf with K = 20 holds 157 keys";

  tree_->InsertKey(NumberKey(158).data(), 158);
  const uint32_t new_root = IndexRoot(*host_, 0);
  ASSERT_NE(new_root, first_root);
  root = DiskPage(new_root);
  EXPECT_EQ(root[kPageType], kPageRootInner);
  ASSERT_EQ(PageCount(root), 2);
  // Entry 1: key, child, count; the old page keeps ceil(158/2), the new one floor(158/2).
  const uint8_t* e1 = root.data() + kPageEntries;
  const uint8_t* e2 = e1 + 20 + 8;
  EXPECT_EQ(cl::GetU32LE(e1 + 20), first_root);
  EXPECT_EQ(cl::GetU32LE(e1 + 24), 79u);
  EXPECT_EQ(cl::GetU32LE(e2 + 24), 79u);
  EXPECT_EQ(Bytes(e2, e2 + 20), NumberKey(80)) << "the new page's first key goes up";
  const Bytes left = DiskPage(first_root);
  const Bytes right = DiskPage(cl::GetU32LE(e2 + 20));
  EXPECT_EQ(left[kPageType], kPageLeaf);
  EXPECT_EQ(cl::GetU32LE(left.data() + kPageNext), cl::GetU32LE(e2 + 20));
  EXPECT_EQ(cl::GetU32LE(right.data() + kPagePrev), first_root);
  ExpectSound();
}

TEST_F(BTreeTest, EmptiedRootLeafIsFreedAndReused) {
  Make(0, Descriptor(20, kCompressNone));
  tree_->InsertKey(NumberKey(5).data(), 5);
  const uint32_t page = IndexRoot(*host_, 0);
  tree_->DeleteKey(NumberKey(5).data(), 5);
  EXPECT_EQ(IndexRoot(*host_, 0), 0u);
  EXPECT_EQ(IndexFreeHead(*host_, 0), page);
  const Bytes freed = DiskPage(page);
  EXPECT_EQ(PageCount(freed), 0);
  EXPECT_EQ(cl::GetU32LE(freed.data() + kPageNext), 0u) << "the chain was empty before";
  ExpectSound();
  const uint32_t end = IndexEndOffset(*host_);
  tree_->InsertKey(NumberKey(6).data(), 6);
  EXPECT_EQ(IndexRoot(*host_, 0), page) << "the next insert takes the page from the chain";
  EXPECT_EQ(IndexFreeHead(*host_, 0), 0u);
  EXPECT_EQ(IndexEndOffset(*host_), end);
  ExpectSound();
}

TEST_F(BTreeTest, RootWithOneEntryLeftHandsOverToItsChild) {
  Make(0, Descriptor(20, kCompressNone));
  for (uint32_t n = 1; n <= 158; ++n) tree_->InsertKey(NumberKey(n).data(), n);
  ASSERT_EQ(DiskPage(IndexRoot(*host_, 0))[kPageType], kPageRootInner);
  // Deleting from the right leaf until it falls below half: it merges into the left one.
  uint32_t n = 158;
  while (DiskPage(IndexRoot(*host_, 0))[kPageType] == kPageRootInner) {
    tree_->DeleteKey(NumberKey(n).data(), n);
    --n;
    ASSERT_GT(n, 100u);
  }
  const Bytes root = DiskPage(IndexRoot(*host_, 0));
  EXPECT_EQ(root[kPageType], kPageRootLeaf);
  EXPECT_EQ(cl::GetU32LE(root.data() + kPagePrev), 0u);
  EXPECT_EQ(cl::GetU32LE(root.data() + kPageNext), 0u);
  EXPECT_EQ(PageCount(root), n);
  EXPECT_EQ(tree_->KeyCount(), n);
  ExpectSound();
}

TEST_F(BTreeTest, DuplicatesNameTheIndex) {
  Make(0, Descriptor(20, kCompressNone));
  tree_->InsertKey(NumberKey(1).data(), 1);
  try {
    tree_->CheckKeyViolation(NumberKey(1).data());
    FAIL() << "no violation";
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrKeyViolation);
    EXPECT_NE(e.Message().find("index Primary"), std::string::npos) << e.Message();
  }
  TIndexDescriptor d = Descriptor(20, kCompressTrailing, true);
  d.name = "ByName";
  Make(1, d);
  tree_->InsertKey(NumberKey(1).data(), 1);
  try {
    tree_->InsertKey(NumberKey(1).data(), 2);
    FAIL() << "no violation";
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), kErrKeyViolation);
    EXPECT_NE(e.Message().find("index ByName"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(tree_->KeyCount(), 1u);
  // Equal fields in a non-unique index differ by their record-number suffix: both are kept.
  Make(1, Descriptor(9, kCompressBoth));
  Bytes a(9, 0), b(9, 0);
  a[0] = b[0] = 1;
  EncodeInt32Key(1, a.data() + 5);
  EncodeInt32Key(2, b.data() + 5);
  tree_->CheckKeyViolation(a.data());
  tree_->InsertKey(a.data(), 1);
  tree_->CheckKeyViolation(b.data());
  tree_->InsertKey(b.data(), 2);
  EXPECT_EQ(tree_->KeyCount(), 2u);
}

TEST_F(BTreeTest, RefusedChangesLeaveEveryByteAsItWas) {
  Make(0, Descriptor(20, kCompressNone), 4);
  for (uint32_t n = 1; n <= 2000; n += 2) tree_->InsertKey(NumberKey(n).data(), n);
  const Bytes before = WholeFile();
  EXPECT_EQ(EngineCode([&] { tree_->DeleteKey(NumberKey(2).data(), 2); }), kErrKeyNotFound);
  EXPECT_EQ(EngineCode([&] { tree_->DeleteKey(NumberKey(3).data(), 4); }), kErrKeyNotFound)
      << "the key is there, but not for this record";
  EXPECT_EQ(EngineCode([&] { tree_->InsertKey(NumberKey(999).data(), 1); }), kErrKeyViolation);
  EXPECT_EQ(EngineCode([&] { tree_->ModifyKey(NumberKey(1).data(), NumberKey(3).data(), 1); }),
            kErrKeyViolation);
  EXPECT_EQ(EngineCode([&] { tree_->ModifyKey(NumberKey(2).data(), NumberKey(4).data(), 2); }),
            kErrKeyNotFound);
  EXPECT_EQ(WholeFile(), before);
}

// A change whose new entry cannot be read in puts the old entry back; when the old entry's page
// cannot be read either, the entry is lost and the index reports itself damaged rather than
// passing the loss off as a refused change.
TEST_F(BTreeTest, AModifyThatCannotRestoreTheOldEntryReportsADamagedIndex) {
  const struct {
    size_t cache_pages;  // 1: fetching the new entry's leaf evicts the old entry's
    int code;
    bool old_kept;
  } cases[] = {{TPageCache::kListCapacity, kErrReadFailure, true},
               {1, kErrIndexPageCorrupt, false}};
  for (const auto& c : cases) {
    Make(1, Descriptor(20, kCompressNone));  // not unique: the new key is not looked up first
    for (uint32_t n = 1; n <= 400; ++n) tree_->InsertKey(NumberKey(n).data(), n);
    Reopen(c.cache_pages);
    ASSERT_TRUE(tree_->Contains(NumberKey(10).data()));  // the old entry's pages in memory
    auto faults = std::make_shared<platform::FileFaults>();
    faults->read_error = platform::kErrorIoDevice;
    host_->File().InjectFaults(faults);
    EXPECT_EQ(
        EngineCode([&] { tree_->ModifyKey(NumberKey(10).data(), NumberKey(1000).data(), 10); }),
        c.code)
        << c.cache_pages;
    *faults = platform::FileFaults();
    EXPECT_EQ(tree_->Contains(NumberKey(10).data()), c.old_kept) << c.cache_pages;
    EXPECT_FALSE(tree_->Contains(NumberKey(1000).data()));
    EXPECT_EQ(tree_->KeyCount(), c.old_kept ? 400u : 399u);
    ExpectSound();
  }
}

TEST_F(BTreeTest, FullFileRefusesASplitAndKeepsTheTree) {
  Make(0, Descriptor(20, kCompressNone));
  for (uint32_t n = 1; n <= 157; ++n) tree_->InsertKey(NumberKey(n).data(), n);
  // The next page would start past 2,000,000,000 bytes.
  SetIndexEndOffset(*host_, 488281 * 4096);
  EXPECT_EQ(EngineCode([&] { tree_->InsertKey(NumberKey(500).data(), 500); }), kErrDataFileFull);
  EXPECT_EQ(IndexEndOffset(*host_), 488281u * 4096);
  EXPECT_EQ(tree_->KeyCount(), 157u);
  EXPECT_FALSE(tree_->Contains(NumberKey(500).data()));
  const Bytes root = DiskPage(IndexRoot(*host_, 0));
  EXPECT_EQ(PageCount(root), 157);
  // A key that fits needs no page.
  tree_->DeleteKey(NumberKey(1).data(), 1);
  tree_->InsertKey(NumberKey(500).data(), 500);
  EXPECT_TRUE(Check(false).ok);
}

// A damaged free chain that runs back to its head would hand one page out twice to a change that
// takes three pages; the change is refused and the tree kept.
TEST_F(BTreeTest, FreeChainRunningBackOnItselfIsRefused) {
  // Three keys a page: after 7 ascending keys the root holds 3 leaves and the last leaf is full,
  // so the 8th splits the leaf, the root and makes a new root.
  Make(0, Descriptor(1036, kCompressNone));
  for (uint32_t n = 1; n <= 7; ++n) tree_->InsertKey(NumberKey(n, 1036).data(), n);
  const uint32_t a = IndexEndOffset(*host_);
  const uint32_t b = a + kIndexPageSize;
  for (const auto& [page, next] : {std::pair{a, b}, std::pair{b, a}}) {
    Bytes image(kIndexPageSize, 0);
    cl::PutU32LE(image.data() + kPageNext, next);
    host_->File().WriteAt(page, image.data(), kIndexPageSize);
  }
  SetIndexEndOffset(*host_, b + kIndexPageSize);
  SetIndexFreeHead(*host_, 0, a);
  EXPECT_EQ(EngineCode([&] { tree_->InsertKey(NumberKey(8, 1036).data(), 8); }),
            kErrIndexPageCorrupt);
  EXPECT_EQ(IndexFreeHead(*host_, 0), a);
  EXPECT_EQ(tree_->KeyCount(), 7u);
  for (uint32_t n = 1; n <= 7; ++n) EXPECT_TRUE(tree_->Contains(NumberKey(n, 1036).data())) << n;
  EXPECT_FALSE(tree_->Contains(NumberKey(8, 1036).data()));
  // Only the chain is damaged: the tree itself still checks whole.
  SetIndexFreeHead(*host_, 0, 0);
  EXPECT_TRUE(Check(false).ok);
}

// A read that fails at any point of an insert or delete leaves a sound tree holding either the
// old or the new contents, never a mix.
TEST_F(BTreeTest, ReadFailuresAtAnyPointLeaveTheTreeWhole) {
  Make(1, Descriptor(24, kCompressNone), 2);
  std::map<uint32_t, bool> present;
  for (uint32_t n = 1; n <= 1500; ++n) {
    tree_->InsertKey(NumberKey(n * 2, 24).data(), n);
    present[n] = true;
  }
  std::mt19937 rng(5);
  int failed = 0;
  for (int round = 0; round < 120; ++round) {
    Reopen(2);
    const uint32_t n = 1 + rng() % 1600;
    const bool insert = !present[n];
    host_->fail_reads_after = host_->disk_reads + rng() % 6;
    const int code = EngineCode([&] {
      if (insert) {
        tree_->InsertKey(NumberKey(n * 2, 24).data(), n);
      } else {
        tree_->DeleteKey(NumberKey(n * 2, 24).data(), n);
      }
    });
    host_->fail_reads_after = -1;
    ASSERT_TRUE(code == 0 || code == kErrReadFailure) << code;
    if (code == 0) present[n] = insert;
    failed += code != 0 ? 1 : 0;
    ASSERT_EQ(tree_->Contains(NumberKey(n * 2, 24).data()), present[n]) << "round " << round;
    size_t expected = 0;
    for (const auto& [key, there] : present) expected += there ? 1 : 0;
    ASSERT_EQ(tree_->KeyCount(), expected);
    const TIndexCheckReport report = Check();
    ASSERT_TRUE(report.ok) << report.problem << " in round " << round;
  }
  EXPECT_GT(failed, 20);
  EXPECT_LT(failed, 100);
}

// Damaged pages on disk give 8965 (or another engine code), never a crash or a hang.
TEST_F(BTreeTest, DamagedPagesAnswerWithTheEngineCode) {
  Make(0, Descriptor(12, kCompressLeading));
  for (uint32_t n = 1; n <= 3000; ++n) tree_->InsertKey(NumberKey(n * 3, 12).data(), n);
  const Bytes good = WholeFile();
  const size_t pages = good.size() / kIndexPageSize;
  std::mt19937 rng(11);
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    Bytes bad = good;
    const size_t page = 1 + rng() % (pages - 1);
    uint8_t* p = bad.data() + page * kIndexPageSize;
    switch (round % 4) {
      case 0:  // the key count
        cl::PutU16LE(p + kPageCount, static_cast<uint16_t>(rng()));
        break;
      case 1:  // a neighbour link
        cl::PutU32LE(p + (rng() % 2 ? kPagePrev : kPageNext),
                     static_cast<uint32_t>(rng() % 64) * 4096);
        break;
      case 2:  // an entry byte (child offsets and counts of inner pages among them)
        p[kPageEntries + rng() % 200] ^= static_cast<uint8_t>(1 + rng() % 255);
        break;
      default:  // the page type
        p[kPageType] = static_cast<uint8_t>(rng() % 6);
        break;
    }
    host_->Close();
    {
      std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bad.data()),
                static_cast<std::streamsize>(bad.size()));
    }
    host_->Open();
    Attach(3);
    const int code = EngineCode([&] {
      cursor_->First();
      for (int i = 0; i < 4000 && !cursor_->AtEnd(); ++i) cursor_->MoveBy(1);
      cursor_->GotoPosition(1 + rng() % 3000);
      cursor_->FindKey(NumberKey(3 * (1 + rng() % 3000), 12).data(), true);
      tree_->InsertKey(NumberKey(1 + 3 * (rng() % 3000), 12).data(), 9999);
      tree_->DeleteKey(NumberKey(3 * (1 + rng() % 3000), 12).data());
    });
    if (code != 0) {
      ++refused;
      EXPECT_TRUE(code == kErrIndexPageCorrupt || code == kErrKeyNotFound ||
                  code == kErrKeyViolation)
          << "round " << round << ": " << code;
    }
  }
  EXPECT_GT(refused, 30) << "most damage is noticed";
}

}  // namespace
}  // namespace tessera::testing
