#include "engine/storage/TIndexTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/EngineSession.h"
#include "engine/storage/KeyEncoding.h"
#include "IndexTreeTestHost.h"

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
      const int32_t seq = c_.kind == Kind::kWrap ? static_cast<int32_t>(rng_() % 6)
                                                 : static_cast<int32_t>(record);
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
    TIndexDescriptor d = Descriptor(c.k, c.mode, c.kind == Kind::kDescending,
                                    c.kind == Kind::kDescending);
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
    SCOPED_TRACE(Name(c) + " seed " + std::to_string(seed) + " (replay: BTREE_SEED=" +
                 std::to_string(seed) + ")");
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
  const int ops = static_cast<int>(EnvNumber("BTREE_OPS", c.k <= 20 ? 2400 : c.k <= 255 ? 1200 : 500));
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

}  // namespace
}  // namespace tessera::testing
