// Sort keys of an index order: their byte order is the order's own comparison, in every shape of
// key a table or a query result indexes by.
#include "engine/storage/index/KeyCompare.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/engine/storage/index/IndexTreeTestHost.h"

namespace tessera::testing {
namespace {

struct KeyShape {
  const char* name;
  uint16_t language;
  bool descending;  // the whole index
  std::vector<TKeyField> fields;
  std::vector<bool> field_descending;
  size_t suffix;  // record-number bytes after the fields
};

TEST(KeyCompare, SortKeysOrderAsTheKeysCompare) {
  const KeyShape shapes[] = {
      {"collated string and number",
       0x040C,
       false,
       {{kFieldString, 8}, {kFieldInt32, 4}},
       {false, false},
       4},
      {"descending string field",
       0x040C,
       false,
       {{kFieldString, 8}, {kFieldInt16, 2}},
       {true, false},
       0},
      {"index descending as a whole",
       0x0409,
       true,
       {{kFieldInt32, 4}, {kFieldString, 6}},
       {false, false},
       4},
      {"two strings side by side",
       0x0407,
       false,
       {{kFieldString, 5}, {kFieldString, 4}},
       {false, true},
       0},
      {"no language: bytes", 0, true, {{kFieldString, 8}, {kFieldInt16, 2}}, {false, true}, 0},
  };
  // Few letters, so that texts differing only in case, accents, a ligature or a hyphen meet.
  const std::string letters = "aAe\xE9\xC9-'\xE6";
  std::mt19937 rng(7);
  for (const KeyShape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    TestHost host(::testing::TempDir() + "/keycompare.idx");
    host.language = shape.language;
    TIndexDescriptor d;
    d.descending = shape.descending ? 1 : 0;
    size_t length = shape.suffix;
    for (size_t f = 0; f < shape.fields.size(); ++f) {
      host.fields[static_cast<uint16_t>(f + 1)] = shape.fields[f];
      d.field_numbers[d.field_count] = static_cast<uint16_t>(f + 1);
      d.field_descending[d.field_count++] = shape.field_descending[f] ? 1 : 0;
      length += shape.fields[f].size + 1u;
    }
    d.key_length = static_cast<uint16_t>(length);
    const TKeyOrder order(host, 1, d);
    // Keys as the key builder makes them; NULL numbers keep stray value bytes, as keys of
    // earlier builds do.
    auto make_key = [&] {
      Bytes key;
      for (size_t f = 0; f < shape.fields.size(); ++f) {
        const TKeyField& field = shape.fields[f];
        const bool inverted = shape.field_descending[f] && !shape.descending;
        const bool null = rng() % 5 == 0;
        Bytes value(field.size, 0);
        if (field.type == kFieldString) {
          const size_t chars = null ? 0 : rng() % field.size;
          for (size_t c = 0; c < chars; ++c) value[c] = letters[rng() % letters.size()];
          if (inverted) {
            for (size_t c = 0; c + 1 < value.size(); ++c) value[c] = ~value[c];
          }
        } else if (!null || rng() % 2 == 0) {
          for (uint8_t& b : value) b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : rng() % 2);
        }
        key.push_back(static_cast<uint8_t>(null ? 0 : 1) ^ (inverted ? 0xFF : 0));
        key.insert(key.end(), value.begin(), value.end());
      }
      for (size_t s = 0; s < shape.suffix; ++s) key.push_back(static_cast<uint8_t>(rng() % 2));
      return key;
    };
    std::vector<Bytes> keys(150);
    std::vector<std::vector<uint8_t>> sort_keys(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      keys[i] = make_key();
      order.AppendSortKey(keys[i].data(), length, sort_keys[i]);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      for (size_t j = 0; j < keys.size(); ++j) {
        const int expected = order.Compare(keys[i].data(), keys[j].data(), length);
        const int got = sort_keys[i] < sort_keys[j] ? -1 : sort_keys[j] < sort_keys[i] ? 1 : 0;
        ASSERT_EQ(got, expected) << "keys " << i << " and " << j;
      }
    }
  }
}

}  // namespace
}  // namespace tessera::testing
