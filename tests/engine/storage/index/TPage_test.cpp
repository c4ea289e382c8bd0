#include "engine/storage/index/TPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TableCipher.h"
#include "tests/engine/storage/StorageTestSupport.h"

namespace tessera {
namespace {

class FakeOwner : public TPageOwner {
 public:
  TIndexParams params;
  bool enciphered = false;
  std::string name = "Pages.DAT";

  TIndexParams CurrentIndexParams() const override { return params; }
  bool PagesEnciphered() const override { return enciphered; }
  const std::string& ErrorFileName() const override { return name; }
};

using testing::EngineCode;

using Key = std::vector<uint8_t>;
using Image = std::vector<uint8_t>;

void PutU16(Image& out, size_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Image& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The page format written out the plain way, entry by entry, as the layout table reads.
Image ReferenceLeaf(uint8_t mode, size_t k, bool suffix, uint8_t type, uint32_t prev, uint32_t next,
                    const std::vector<Key>& keys, const std::vector<uint32_t>& recs) {
  const size_t s = suffix ? 4 : 0;
  Image entries;
  for (size_t i = 0; i < keys.size(); ++i) {
    const Key& key = keys[i];
    size_t p = 0, t = 0;
    if ((mode == 1 || mode == 3) && i > 0) {
      while (p < k && keys[i - 1][p] == key[p]) ++p;
      if (mode == 3 && p > 255) p = 255;
    }
    if (mode == 2 || (mode == 3 && !(s != 0 && k - p < 5))) {
      const size_t low = mode == 3 ? p : 0;
      for (size_t j = k - s; j > low && key[j - 1] == 0 && t < 255; --j) ++t;
    }
    if (mode == 1) PutU16(entries, p);
    if (mode == 2) PutU16(entries, t);
    if (mode == 3) {
      entries.push_back(static_cast<uint8_t>(p));
      entries.push_back(static_cast<uint8_t>(t));
    }
    for (size_t j = p; j < k; ++j) {
      const bool left_out = t > 0 && j >= k - s - t && j < k - s;
      if (!left_out) entries.push_back(key[j]);
    }
    PutU32(entries, recs[i]);
  }
  Image page;
  page.push_back(type);
  PutU16(page, keys.size());
  PutU32(page, prev);
  PutU32(page, next);
  PutU16(page, mode == 0 ? 0 : entries.size());
  page.insert(page.end(), entries.begin(), entries.end());
  page.resize(kIndexPageSize, 0);
  return page;
}

// Keys that give every compression something to do: shared heads, zero tails, zero runs.
Key MakeKey(std::mt19937& rng, size_t k, const Key* prev) {
  Key key(k);
  size_t i = 0;
  if (prev != nullptr && rng() % 4 != 0) {
    const size_t shared = rng() % (k + 1);
    std::copy(prev->begin(), prev->begin() + static_cast<ptrdiff_t>(shared), key.begin());
    i = shared;
  }
  const size_t zero_tail = rng() % 3 == 0 ? 0 : rng() % (k + 1);
  for (; i < k; ++i) {
    if (i >= k - zero_tail)
      key[i] = 0;
    else
      key[i] = rng() % 3 == 0 ? 0 : static_cast<uint8_t>(rng());
  }
  if (rng() % 5 == 0) {  // a suffix that is not zero behind zero key bytes
    for (size_t j = k >= 4 ? k - 4 : 0; j < k; ++j) key[j] = static_cast<uint8_t>(rng() | 1);
  }
  return key;
}

struct Filled {
  std::vector<Key> keys;
  std::vector<uint32_t> recs;
};

// Appends random keys while the page is not over-full.
Filled FillLeaf(TPage& page, std::mt19937& rng, size_t max_keys) {
  Filled f;
  const size_t k = page.KeyLength();
  while (f.keys.size() < max_keys) {
    Key key = MakeKey(rng, k, f.keys.empty() ? nullptr : &f.keys.back());
    page.CurrentToLast();
    page.InsertAfterCurrent(key.data());
    const uint32_t rec = static_cast<uint32_t>(rng());
    page.SetCurrentValue(rec);
    page.Recompute();
    if (page.IsOverFull()) {
      page.DeleteCurrent();
      page.Recompute();
      break;
    }
    f.keys.push_back(key);
    f.recs.push_back(rec);
  }
  return f;
}

void ExpectSameEntries(const TPage& page, const Filled& f) {
  ASSERT_EQ(page.Count(), f.keys.size());
  for (uint16_t slot = 1; slot <= page.Count(); ++slot) {
    ASSERT_EQ(Key(page.KeyAt(slot), page.KeyAt(slot) + page.KeyLength()), f.keys[slot - 1])
        << "slot " << slot;
    ASSERT_EQ(page.ValueAt(slot), f.recs[slot - 1]) << "slot " << slot;
  }
}

// Every mode, with and without suffix, against the reference writer; then back again.
TEST(TPage, PackMatchesReferenceAndUnpackRestoresEveryMode) {
  std::mt19937 rng(77);
  const size_t lengths[] = {1, 2, 3, 4, 5, 6, 7, 9, 12, 20, 33, 64, 255, 256, 260, 300, 700, 1036};
  for (uint8_t mode = 0; mode <= 3; ++mode) {
    for (const bool suffix : {false, true}) {
      for (const size_t k : lengths) {
        if (suffix && k < 4) continue;
        for (int round = 0; round < 6; ++round) {
          FakeOwner owner;
          owner.params = {static_cast<uint16_t>(k), static_cast<uint8_t>(suffix ? 3 : 0), false,
                          false, mode};
          TPage page(owner);
          page.SetType(kPageLeaf);
          page.SetPrev(8192);
          page.SetNext(12288);
          const Filled f = FillLeaf(page, rng, 100000);
          ASSERT_FALSE(f.keys.empty());
          Image image(kIndexPageSize, 0xA5);  // Pack lays down every byte
          page.Pack(image.data());
          ASSERT_EQ(image, ReferenceLeaf(mode, k, suffix, kPageLeaf, 8192, 12288, f.keys, f.recs))
              << "mode " << int(mode) << " K " << k << " suffix " << suffix;
          EXPECT_FALSE(page.Dirty());

          TPage back(owner);
          back.Unpack(image.data(), false);
          ExpectSameEntries(back, f);
          EXPECT_EQ(back.Type(), kPageLeaf);
          EXPECT_EQ(back.Prev(), 8192u);
          EXPECT_EQ(back.Next(), 12288u);
          EXPECT_EQ(back.BytesInUse(), mode == 0 ? 0u : uint32_t(image[11] | image[12] << 8));
          Image again(kIndexPageSize, 0x5A);
          back.Pack(again.data());
          ASSERT_EQ(again, image);
        }
      }
    }
  }
}

// Counting only the inserted entry and its follower (or a deleted entry's follower) gives what
// counting every entry gives, anywhere in the page (first, middle, last), whatever the mode and
// suffix.
TEST(TPage, RecountAfterInsertOrDeleteMatchesFullRecompute) {
  std::mt19937 rng(19);
  for (uint8_t mode = 0; mode <= 3; ++mode) {
    for (const bool suffix : {false, true}) {
      for (const size_t k : {size_t{4}, size_t{9}, size_t{40}, size_t{300}}) {
        FakeOwner owner;
        owner.params = {static_cast<uint16_t>(k), static_cast<uint8_t>(suffix ? 3 : 0), false,
                        false, mode};
        TPage incremental(owner), full(owner);
        incremental.SetType(kPageLeaf);
        full.SetType(kPageLeaf);
        std::vector<Key> keys;
        for (int i = 0; i < 60; ++i) {
          Key key = MakeKey(rng, k, keys.empty() ? nullptr : &keys[rng() % keys.size()]);
          const uint16_t after = static_cast<uint16_t>(rng() % (keys.size() + 1));
          for (TPage* page : {&incremental, &full}) {
            page->SetCurrentSlot(after);
            const bool counted = page->CountsCurrent();
            page->InsertAfterCurrent(key.data());
            page->SetCurrentValue(static_cast<uint32_t>(i));
            if (page == &incremental) {
              page->RecountInserted(static_cast<uint16_t>(after + 1), counted);
            } else {
              page->Recompute();
            }
          }
          keys.insert(keys.begin() + after, key);
          if (i % 3 == 2) {
            const uint16_t gone = static_cast<uint16_t>(1 + rng() % keys.size());
            for (TPage* page : {&incremental, &full}) {
              page->SetCurrentSlot(gone);
              page->DeleteCurrent();
            }
            full.Recompute();
            keys.erase(keys.begin() + (gone - 1));
          }
          ASSERT_EQ(incremental.BytesInUse(), full.BytesInUse()) << "mode " << int(mode);
          if (full.IsOverFull()) break;
          for (uint16_t slot = 1; slot <= full.Count(); ++slot) {
            ASSERT_EQ(incremental.LeadingAt(slot), full.LeadingAt(slot)) << "slot " << slot;
            ASSERT_EQ(incremental.TrailingAt(slot), full.TrailingAt(slot)) << "slot " << slot;
          }
        }
      }
    }
  }
}

// Pages rewritten after every kind of change (inserts, deletes, new keys, record numbers and
// child counts, links, freeing, a read back from the written image) give, write after write,
// the image a plain writer gives for the entries as they stand.
TEST(TPage, ImagesWrittenAfterChangesMatchTheReferenceAndReportWhatChanged) {
  std::mt19937 rng(23);
  for (uint8_t mode = 0; mode <= 4; ++mode) {  // 4: an inner page
    for (const bool suffix : {false, true}) {
      for (const size_t k : {size_t{4}, size_t{9}, size_t{40}}) {
        SCOPED_TRACE("mode " + std::to_string(mode) + " K " + std::to_string(k));
        const bool inner = mode == 4;
        FakeOwner owner;
        owner.params = {static_cast<uint16_t>(k), static_cast<uint8_t>(suffix ? 3 : 0), false,
                        false, inner ? static_cast<uint8_t>(kCompressBoth) : mode};
        TPage page(owner);
        page.SetType(inner ? kPageInner : kPageLeaf);
        std::vector<Key> keys;
        std::vector<uint32_t> values, counts;
        Image file;  // the file's bytes at the page, once known
        auto reference = [&] {
          if (!inner) {
            return ReferenceLeaf(mode, k, suffix, kPageLeaf, page.Prev(), page.Next(), keys,
                                 values);
          }
          Image ref = ReferenceLeaf(0, k, false, kPageInner, page.Prev(), page.Next(), {}, {});
          ref[1] = static_cast<uint8_t>(keys.size());
          size_t at = kPageEntries;
          for (size_t i = 0; i < keys.size(); ++i, at += k + 8) {
            std::copy(keys[i].begin(), keys[i].end(), ref.begin() + static_cast<ptrdiff_t>(at));
            for (int b = 0; b < 4; ++b) {
              ref[at + k + b] = static_cast<uint8_t>(values[i] >> (8 * b));
              ref[at + k + 4 + b] = static_cast<uint8_t>(counts[i] >> (8 * b));
            }
          }
          return ref;
        };
        for (int step = 0; step < 400; ++step) {
          const uint32_t op = rng() % 10;
          const uint16_t n = page.Count();
          const uint16_t slot = static_cast<uint16_t>(1 + (n == 0 ? 0 : rng() % n));
          if (op < 3 && n < 40) {
            const uint16_t after = static_cast<uint16_t>(rng() % (n + 1));
            Key key = MakeKey(rng, k, after == 0 ? nullptr : &keys[after - 1]);
            page.SetCurrentSlot(after);
            const bool counted = page.CountsCurrent();
            page.InsertAfterCurrent(key.data());
            page.RecountInserted(static_cast<uint16_t>(after + 1), counted);
            keys.insert(keys.begin() + after, key);
            values.insert(values.begin() + after, 0);
            counts.insert(counts.begin() + after, 0);
          } else if (op == 3 && n > 0) {
            page.SetCurrentSlot(slot);
            page.DeleteCurrent();
            keys.erase(keys.begin() + (slot - 1));
            values.erase(values.begin() + (slot - 1));
            counts.erase(counts.begin() + (slot - 1));
          } else if (op == 4 && n > 0) {
            keys[slot - 1] = MakeKey(rng, k, slot > 1 ? &keys[slot - 2] : nullptr);
            page.SetKeyAt(slot, keys[slot - 1].data());
          } else if (op == 5 && n > 0) {
            values[slot - 1] = static_cast<uint32_t>(rng());
            page.SetValueAt(slot, values[slot - 1]);
          } else if (op == 6 && n > 0) {
            const uint32_t count = static_cast<uint32_t>(rng());
            if (inner) counts[slot - 1] = count;
            page.SetSubtreeCountAt(slot, count);
          } else if (op == 7) {
            page.SetPrev(static_cast<uint32_t>(rng() % 8) * 4096);
            page.SetNext(static_cast<uint32_t>(rng() % 8) * 4096);
          } else if (op == 8 && rng() % 8 == 0) {
            page.SetFree(true);
            Image image(kIndexPageSize, 0xA5);
            page.Pack(image.data());
            ASSERT_EQ(cl::GetU16LE(image.data() + kPageCount), 0u);
            ASSERT_TRUE(std::all_of(image.begin() + kPageEntries, image.end(),
                                    [](uint8_t x) { return x == 0; }));
            page.SetFree(false);
          }
          if (rng() % 3 != 0) continue;
          Image image(kIndexPageSize, static_cast<uint8_t>(rng()));
          page.Pack(image.data());
          ASSERT_EQ(image, reference()) << "step " << step << " op " << op;
          // Every byte outside the changes it reports is the file's, as last written or read
          // (a pack whose write failed leaves the file as it was).
          const auto [from, to] = page.UnwrittenChanges();
          if (file.empty()) {
            ASSERT_TRUE(from == 0 && to == kIndexPageSize) << "step " << step;
          } else {
            for (size_t b = 0; b < kIndexPageSize; ++b) {
              if (b < from || b >= to) {
                ASSERT_EQ(image[b], file[b]) << "step " << step << " @" << b;
              }
            }
          }
          if (rng() % 4 != 0) {
            page.ImageWritten();
            file = image;
          }
          if (rng() % 4 == 0) {
            // As read back from disk, with bytes past the entries that are not zero, from a
            // buffer of the caller's or into the page's own room (as the cache reads).
            if (rng() % 2 == 0) image[kIndexPageSize - 1 - rng() % 64] = 0x5A;
            if (rng() % 2 == 0) {
              page.Unpack(image.data(), false);
            } else {
              uint8_t* room = page.ReadRoom();
              std::copy(image.begin(), image.end(), room);
              page.Unpack(room, false);
            }
            file = image;
          } else if (rng() % 16 == 0) {
            // A read into the room that failed half-way: junk there, and the page reset (as
            // the cache does), must not leak into the next image.
            std::fill_n(page.ReadRoom(), kIndexPageSize / 2 + rng() % 2048, uint8_t{0xC3});
            page.Reset();
            page.SetType(inner ? kPageInner : kPageLeaf);
            keys.clear();
            values.clear();
            counts.clear();
            file.clear();
          }
        }
      }
    }
  }
}

TEST(TPage, InnerPageLayoutByHand) {
  FakeOwner owner;
  owner.params = {3, 0, false, false, kCompressBoth};  // inner pages are never compressed
  TPage page(owner);
  page.SetType(kPageRootInner);
  const uint8_t a[3] = {1, 0x41, 0}, b[3] = {1, 0x42, 0};
  page.CurrentToLast();
  page.InsertAfterCurrent(a);
  page.SetCurrentValue(0x2000);
  page.SetCurrentSubtreeCount(7);
  page.InsertAfterCurrent(b);
  page.SetCurrentValue(0x3000);
  page.SetCurrentSubtreeCount(0x01020304);
  EXPECT_EQ(page.TotalCount(), 7u + 0x01020304u);
  Image image(kIndexPageSize, 0xA5);
  page.Pack(image.data());
  // clang-format off
  const Image expect_head = {
      0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00,  // type 0, 2 keys, no links, 0 in use
      1, 0x41, 0, 0x00, 0x20, 0, 0, 7, 0, 0, 0,              // key, child 0x2000, count 7
      1, 0x42, 0, 0x00, 0x30, 0, 0, 4, 3, 2, 1};             // key, child 0x3000, count
  // clang-format on
  EXPECT_TRUE(std::equal(expect_head.begin(), expect_head.end(), image.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + expect_head.size(), image.end(),
                          [](uint8_t x) { return x == 0; }));
}

TEST(TPage, SpecialCompressionCases) {
  // Mode 2 without suffix: an all-zero key leaves only the count and the record number.
  {
    FakeOwner owner;
    owner.params = {10, 0, false, false, kCompressTrailing};
    TPage page(owner);
    page.SetType(kPageRootLeaf);
    const uint8_t zeros[10] = {};
    page.InsertAfterCurrent(zeros);
    page.SetCurrentValue(5);
    Image image(kIndexPageSize);
    page.Pack(image.data());
    EXPECT_EQ(page.BytesInUse(), 6u);
    const Image expect = {3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 10, 0, 5, 0, 0, 0};
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), image.begin()));
  }
  // Mode 3 with a 9-byte suffix key sharing 5 bytes: K - P = 4, so T = 0 and bytes 5..8 stay.
  {
    FakeOwner owner;
    owner.params = {9, 2, false, false, kCompressBoth};
    TPage page(owner);
    page.SetType(kPageLeaf);
    const uint8_t k1[9] = {1, 2, 3, 4, 5, 0x80, 0, 0, 1};
    const uint8_t k2[9] = {1, 2, 3, 4, 5, 0x80, 0, 0, 2};
    page.InsertAfterCurrent(k1);
    page.SetCurrentValue(1);
    page.InsertAfterCurrent(k2);
    page.SetCurrentValue(2);
    page.Recompute();
    EXPECT_EQ(page.LeadingAt(2), 8);
    EXPECT_EQ(page.TrailingAt(2), 0);
    const uint8_t k3[9] = {1, 2, 3, 4, 5, 0, 0, 0, 3};  // shares 5 bytes
    page.SetKeyAt(2, k3);
    page.Recompute();
    EXPECT_EQ(page.LeadingAt(2), 5);
    EXPECT_EQ(page.TrailingAt(2), 0) << "K - P < 5 keeps T at 0";
    Image image(kIndexPageSize);
    page.Pack(image.data());
    // First entry whole (its zeros stand behind byte 4, inside the suffix); the second holds
    // only bytes 5..8.
    // clang-format off
    const Image expect = {2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 25, 0,
                          0, 0, 1, 2, 3, 4, 5, 0x80, 0, 0, 1, 1, 0, 0, 0,
                          5, 0, 0, 0, 0, 3, 2, 0, 0, 0};
    // clang-format on
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), image.begin()));
  }
}

TEST(TPage, CapacitiesFollowTheKeyLength) {
  EXPECT_EQ(LeafCapacity(20), 157u);
  EXPECT_EQ(InnerCapacity(20), 136u);
  EXPECT_EQ(LeafCapacity(1036), 3u);
  EXPECT_EQ(InnerCapacity(1036), 3u);

  FakeOwner owner;
  owner.params = {20, 0, false, true, kCompressNone};
  TPage page(owner);
  page.SetType(kPageLeaf);
  uint8_t key[20] = {};
  for (int i = 0; i < 157; ++i) {
    key[19] = static_cast<uint8_t>(i);
    page.CurrentToLast();
    page.InsertAfterCurrent(key);
    EXPECT_FALSE(page.IsOverFull());
  }
  Image image(kIndexPageSize);
  page.Pack(image.data());
  page.InsertAfterCurrent(key);
  EXPECT_TRUE(page.IsOverFull()) << "the 158th key splits the leaf";
  EXPECT_EQ(EngineCode([&] { page.Pack(image.data()); }), kErrIndexPageCorrupt);
}

TEST(TPage, FreePageKeepsOnlyItsChainLink) {
  FakeOwner owner;
  owner.params = {4, 0, false, false, kCompressLeading};
  TPage page(owner);
  page.SetType(kPageLeaf);
  const uint8_t key[4] = {1, 2, 3, 4};
  page.InsertAfterCurrent(key);
  page.SetFree(true);
  page.SetNext(3 * 4096);
  Image image(kIndexPageSize, 0xA5);
  page.Pack(image.data());
  const Image expect = {2, 0, 0, 0, 0, 0, 0, 0, 0x30, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), image.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + 13, image.end(), [](uint8_t x) { return x == 0; }));
}

TEST(TPage, SlotsInsertDeleteAndPins) {
  FakeOwner owner;
  owner.params = {1, 0, false, true, kCompressNone};
  TPage page(owner);
  page.SetType(kPageLeaf);
  EXPECT_EQ(page.CurrentSlot(), 1);
  const uint8_t a = 'a', b = 'b', c = 'c';
  page.SetCurrentSlot(0);
  page.InsertAfterCurrent(&b);  // [b]
  page.SetCurrentSlot(0);
  page.InsertAfterCurrent(&a);  // [a b], current 1
  EXPECT_EQ(page.CurrentSlot(), 1);
  page.CurrentToLast();
  page.InsertAfterCurrent(&c);  // [a b c], current 3
  EXPECT_EQ(*page.CurrentKey(), 'c');
  page.CurrentToSearch();
  page.SearchBack();
  EXPECT_EQ(*page.SearchKey(), 'b');
  page.DeleteCurrent();  // removed the last: current moves back to the new last
  EXPECT_EQ(page.CurrentSlot(), 2);
  EXPECT_EQ(*page.CurrentKey(), 'b');
  page.CurrentToFirst();
  page.DeleteCurrent();
  EXPECT_EQ(*page.CurrentKey(), 'b');
  EXPECT_EQ(page.Count(), 1);
  page.DeleteCurrent();
  EXPECT_EQ(page.Count(), 0);
  EXPECT_EQ(EngineCode([&] { page.DeleteCurrent(); }), kErrIndexPageCorrupt);
  EXPECT_EQ(EngineCode([&] { page.KeyAt(1); }), kErrIndexPageCorrupt);

  for (int i = 0; i < 64; ++i) page.Pin();
  EXPECT_EQ(EngineCode([&] { page.Pin(); }), kErrIndexPageCorrupt);
  EXPECT_EQ(page.PinCount(), 64);
  page.ClearPins();
  page.Unpin();
  EXPECT_EQ(page.PinCount(), 0);
}

TEST(TPage, EncipheredImagesRoundTrip) {
  FakeOwner plain_owner;
  plain_owner.params = {6, 1, false, false, kCompressBoth};
  FakeOwner cipher_owner = plain_owner;
  cipher_owner.enciphered = true;
  std::mt19937 rng(5);
  TPage plain(plain_owner), ciphered(cipher_owner);
  plain.SetType(kPageRootLeaf);
  ciphered.SetType(kPageRootLeaf);
  const Filled f = FillLeaf(plain, rng, 40);
  for (size_t i = 0; i < f.keys.size(); ++i) {
    ciphered.CurrentToLast();
    ciphered.InsertAfterCurrent(f.keys[i].data());
    ciphered.SetCurrentValue(f.recs[i]);
  }
  Image a(kIndexPageSize), b(kIndexPageSize);
  plain.Pack(a.data());
  ciphered.Pack(b.data());
  EXPECT_NE(a, b);
  EncipherBuffer(a.data(), kIndexPageSize, kDataKeyA, kDataKeyB);
  EXPECT_EQ(a, b) << "the whole page passes through the cipher once";
  TPage back(cipher_owner);
  back.Unpack(b.data(), false);
  ExpectSameEntries(back, f);
}

// Hand-made damage at named offsets.
TEST(TPage, DamagedImagesRaiseIndexCorrupt) {
  FakeOwner owner;
  owner.params = {8, 1, false, false, kCompressLeading};
  std::mt19937 rng(9);
  TPage page(owner);
  page.SetType(kPageLeaf);
  FillLeaf(page, rng, 30);
  Image good(kIndexPageSize);
  page.Pack(good.data());

  auto damaged = [&](auto change) {
    Image image = good;
    change(image);
    TPage probe(owner);
    return EngineCode([&] { probe.Unpack(image.data(), false); });
  };
  EXPECT_EQ(damaged([](Image&) {}), 0);
  EXPECT_EQ(damaged([](Image& i) { i[kPageType] = 4; }), kErrIndexPageCorrupt);
  EXPECT_EQ(damaged([](Image& i) { i[kPageCount] = i[kPageCount + 1] = 0xFF; }),
            kErrIndexPageCorrupt);
  EXPECT_EQ(damaged([](Image& i) { i[kPageBytesInUse] = 0x88, i[kPageBytesInUse + 1] = 0x13; }),
            kErrIndexPageCorrupt);  // 5000
  EXPECT_EQ(damaged([](Image& i) { i[kPageEntries] = 1; }), kErrIndexPageCorrupt)
      << "the first entry shares nothing";
  // The second entry's P beyond K (the first entry takes K - 0 + 6 = 14 bytes).
  EXPECT_EQ(damaged([](Image& i) { i[kPageEntries + 14] = 9; }), kErrIndexPageCorrupt);

  // An uncompressed leaf or inner page with more keys than it can hold.
  owner.params.compression = kCompressNone;
  TPage inner(owner);
  inner.SetType(kPageInner);
  Image image(kIndexPageSize);
  inner.Pack(image.data());
  image[kPageCount] = static_cast<uint8_t>(InnerCapacity(8) + 1);
  EXPECT_EQ(EngineCode([&] { inner.Unpack(image.data(), false); }), kErrIndexPageCorrupt);
  EXPECT_EQ(inner.Count(), 0) << "a rejected image leaves the page empty";
  image[kPageCount] = static_cast<uint8_t>(InnerCapacity(8));
  EXPECT_EQ(EngineCode([&] { inner.Unpack(image.data(), false); }), 0);
  EXPECT_EQ(EngineCode([&] { inner.Unpack(image.data(), true); }), 0);
  EXPECT_EQ(inner.Count(), 0) << "a new page takes only the header";

  // Mode 2 with a suffix: T may not reach into the suffix.
  owner.params = {8, 1, false, false, kCompressTrailing};
  TPage trailing(owner);
  trailing.SetType(kPageLeaf);
  const uint8_t key[8] = {1, 0, 0, 0, 0x80, 0, 0, 1};
  trailing.InsertAfterCurrent(key);
  trailing.Pack(image.data());
  EXPECT_EQ(image[kPageEntries], 3);
  EXPECT_EQ(EngineCode([&] { trailing.Unpack(image.data(), false); }), 0);
  image[kPageEntries] = 5;
  EXPECT_EQ(EngineCode([&] { trailing.Unpack(image.data(), false); }), kErrIndexPageCorrupt);
}

// Thousands of mutated images: each is either rejected with 8965 or yields a page that packs
// and reads back to the same entries.  Run under the sanitizers, this shows that no damage
// reaches past the image or the entries.
TEST(TPage, MutatedImagesNeverEscapeTheBuffers) {
  std::mt19937 rng(2024);
  int rejected = 0, accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    FakeOwner owner;
    const uint16_t k = static_cast<uint16_t>(rng() % 2 ? 4 + rng() % 12 : 4 + rng() % 300);
    owner.params = {k, static_cast<uint8_t>(rng() % 3), false, rng() % 2 == 0,
                    static_cast<uint8_t>(rng() % 4)};
    TPage page(owner);
    page.SetType(static_cast<uint8_t>(rng() % 4));
    if (page.IsLeaf()) {
      FillLeaf(page, rng, 1 + rng() % 200);
    } else {
      for (size_t i = 0, n = 1 + rng() % InnerCapacity(k); i < n; ++i) {
        Key key = MakeKey(rng, k, nullptr);
        page.CurrentToLast();
        page.InsertAfterCurrent(key.data());
        page.SetCurrentSubtreeCount(static_cast<uint32_t>(rng()));
      }
    }
    Image image(kIndexPageSize);
    page.Pack(image.data());
    size_t used = kIndexPageSize;
    while (used > 13 && image[used - 1] == 0) --used;
    used = std::min(kIndexPageSize, used + 64);
    for (int m = 0, n = 1 + static_cast<int>(rng() % 6); m < n; ++m) {
      const size_t at = rng() % 3 == 0 ? rng() % 13 : rng() % used;
      image[at] = rng() % 4 == 0 ? static_cast<uint8_t>(image[at] ^ (1u << (rng() % 8)))
                                 : static_cast<uint8_t>(rng());
    }
    TPage probe(owner);
    const int code = EngineCode([&] { probe.Unpack(image.data(), false); });
    if (code != 0) {
      ASSERT_EQ(code, kErrIndexPageCorrupt);
      ++rejected;
      continue;
    }
    ++accepted;
    Filled seen;
    for (uint16_t slot = 1; slot <= probe.Count(); ++slot) {
      seen.keys.emplace_back(probe.KeyAt(slot), probe.KeyAt(slot) + k);
      seen.recs.push_back(probe.ValueAt(slot));
    }
    Image repacked(kIndexPageSize);
    ASSERT_EQ(EngineCode([&] { probe.Pack(repacked.data()); }), 0);
    TPage again(owner);
    again.Unpack(repacked.data(), false);
    ExpectSameEntries(again, seen);
  }
  EXPECT_GT(rejected, 100);
  EXPECT_GT(accepted, 100);
}

}  // namespace
}  // namespace tessera
