#include "engine/storage/values/KeyEncoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/storage/values/MoneyStorage.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;

template <class T, class Encode>
Bytes Encoded(T value, size_t size, Encode encode) {
  Bytes out(size, 0xEE);
  encode(value, out.data());
  return out;
}

Bytes I16(int16_t v) { return Encoded(v, kInt16KeySize, EncodeInt16Key); }
Bytes I32(int32_t v) { return Encoded(v, kInt32KeySize, EncodeInt32Key); }
Bytes I64(int64_t v) { return Encoded(v, kInt64KeySize, EncodeInt64Key); }
Bytes Word(uint16_t v) { return Encoded(v, kWordKeySize, EncodeWordKey); }
Bytes Float(double v) { return Encoded(v, kFloatKeySize, EncodeFloatKey); }

int ByteOrder(const Bytes& a, const Bytes& b) {
  int r = std::memcmp(a.data(), b.data(), a.size());
  return (r > 0) - (r < 0);
}

template <class T>
int ValueOrder(T a, T b) {
  return (a > b) - (a < b);
}

TEST(KeyEncoding, VectorsWrittenFromTheFormatTable) {
  EXPECT_EQ(I32(-1), (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(I32(0), (Bytes{0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(I32(1), (Bytes{0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(I32(INT32_MIN), (Bytes{0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(I32(0x12345678), (Bytes{0x92, 0x34, 0x56, 0x78}));
  EXPECT_EQ(I16(-32768), (Bytes{0x00, 0x00}));
  EXPECT_EQ(I16(32767), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(I16(-2), (Bytes{0x7F, 0xFE}));
  EXPECT_EQ(I64(12502), (Bytes{0x80, 0, 0, 0, 0, 0, 0x30, 0xD6}));
  EXPECT_EQ(I64(-72), (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xB8}));
  EXPECT_EQ(Word(0x1234), (Bytes{0x12, 0x34}));
  EXPECT_EQ(Word(1), (Bytes{0x00, 0x01}));  // boolean True after False
  EXPECT_EQ(Float(0.0), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Float(-0.0), Float(0.0));
  EXPECT_EQ(Float(1.0), (Bytes{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Float(-1.0), (Bytes{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(KeyEncoding, DocumentedOrders) {
  const std::vector<double> floats = {-1.0, -0.5, 0.0, 0.5};
  for (size_t i = 1; i < floats.size(); ++i) {
    EXPECT_EQ(ByteOrder(Float(floats[i - 1]), Float(floats[i])), -1) << floats[i];
  }
  EXPECT_EQ(ByteOrder(Float(-0.0), Float(0.0)), 0);
  // Money as stored: -0.07 (-72) < 0 (2) < 12.5 (12502), all with two decimals.
  EXPECT_EQ(ByteOrder(I64(-72), I64(2)), -1);
  EXPECT_EQ(ByteOrder(I64(2), I64(12502)), -1);
}

template <class T, class Gen>
void CheckOrder(const std::vector<T>& extremes, Gen gen, Bytes (*encode)(T)) {
  std::mt19937_64 rng(77);
  std::vector<T> values = extremes;
  for (int i = 0; i < 20000; ++i) values.push_back(gen(rng));
  for (size_t i = 0; i < values.size(); ++i) {
    // Each value against a random one, and against its neighbour in the list.
    const T a = values[i];
    const T b = values[rng() % values.size()];
    const T c = values[(i + 1) % values.size()];
    ASSERT_EQ(ByteOrder(encode(a), encode(b)), ValueOrder(a, b)) << +a << " " << +b;
    ASSERT_EQ(ByteOrder(encode(a), encode(c)), ValueOrder(a, c)) << +a << " " << +c;
  }
}

TEST(KeyEncoding, ByteOrderIsValueOrderForEveryType) {
  CheckOrder<int16_t>(
      {INT16_MIN, INT16_MIN + 1, -1, 0, 1, INT16_MAX - 1, INT16_MAX},
      [](auto& r) { return static_cast<int16_t>(r()); }, I16);
  CheckOrder<int32_t>(
      {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX},
      [](auto& r) { return static_cast<int32_t>(r()); }, I32);
  CheckOrder<int64_t>(
      {INT64_MIN, INT64_MIN + 1, -1, 0, 1, INT64_MAX - 1, INT64_MAX},
      [](auto& r) { return static_cast<int64_t>(r() >> (r() % 64)); }, I64);
  CheckOrder<uint16_t>(
      {0, 1, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF}, [](auto& r) { return static_cast<uint16_t>(r()); },
      Word);
  using L = std::numeric_limits<double>;
  CheckOrder<double>(
      {-L::infinity(), -L::max(), -1e300, -1.0, -L::min(), -L::denorm_min(), -0.0, 0.0,
       L::denorm_min(), L::min(), 1.0, 1e300, L::max(), L::infinity()},
      [](auto& r) {
        // Mostly random bit patterns (every exponent), sometimes small integers.
        if (r() % 4 == 0) return static_cast<double>(static_cast<int>(r() % 200) - 100) / 4;
        uint64_t bits = r();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return std::isnan(d) ? 0.0 : d;
      },
      Float);
  // Money with several decimal counts, ordered within one count as the stored integers are.
  EXPECT_EQ(ByteOrder(I64(-102), I64(-72)), -1);    // -0.10 < -0.07
  EXPECT_EQ(ByteOrder(I64(1252), I64(12502)), -1);  // 1.25 < 12.50
  EXPECT_EQ(ByteOrder(I64(-70), I64(70)), -1);      // -7 < 7, no decimals
}

// A money field keys its stored form, so within one decimal count the key bytes must order like
// the amounts the field holds: across zero, at the extremes that still fit, and with amounts
// that round to the same stored value comparing equal.
TEST(KeyEncoding, MoneyKeysOrderLikeTheirAmountsAtEachDecimalCount) {
  std::mt19937_64 rng(1105);
  constexpr int64_t kLargest = 900000000000000000;  // x 10^-4: amounts that fit d = 4
  for (int d = 0; d <= 4; ++d) {
    std::vector<int64_t> raws = {0, 1, -1, 4999, 5000, -5000, 9999, -10000, kLargest, -kLargest};
    for (int i = 0; i < 20000; ++i) {
      const int64_t span = i % 2 ? kLargest : 2000000;
      raws.push_back(static_cast<int64_t>(rng() % static_cast<uint64_t>(2 * span + 1)) - span);
    }
    std::vector<Bytes> keys;
    std::vector<int64_t> amounts;
    for (int64_t raw : raws) {
      const cl::Currency amount = cl::Currency::FromRaw(raw);
      keys.push_back(I64(MoneyToStored(d, amount)));
      amounts.push_back(RoundCurrency(d, amount).Raw);
    }
    for (size_t i = 0; i < raws.size(); ++i) {
      const size_t j = rng() % raws.size();
      const size_t k = (i + 1) % raws.size();
      ASSERT_EQ(ByteOrder(keys[i], keys[j]), ValueOrder(amounts[i], amounts[j]))
          << "d=" << d << " " << raws[i] << " " << raws[j];
      ASSERT_EQ(ByteOrder(keys[i], keys[k]), ValueOrder(amounts[i], amounts[k]))
          << "d=" << d << " " << raws[i] << " " << raws[k];
    }
  }
}

uint32_t BigEndian(const Bytes& k) {
  uint32_t v = 0;
  for (uint8_t b : k) v = v << 8 | b;
  return v;
}

TEST(KeyEncoding, IncrementAndDecrement) {
  Bytes k = {0x01, 0xFF};
  IncrementKey(k.data(), k.size());
  EXPECT_EQ(k, (Bytes{0x02, 0x00}));
  k = {0xFF, 0xFF};
  IncrementKey(k.data(), k.size());
  EXPECT_EQ(k, (Bytes{0xFF, 0xFF}));
  k = {0x02, 0x00};
  DecrementKey(k.data(), k.size());
  EXPECT_EQ(k, (Bytes{0x01, 0xFF}));
  k = {0x00, 0x00};
  DecrementKey(k.data(), k.size());
  EXPECT_EQ(k, (Bytes{0x00, 0x00}));
  IncrementKey(k.data(), 0);  // an empty key is left alone

  // Against integer arithmetic on random keys of 1 to 3 bytes.
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) {
    Bytes key(1 + rng() % 3);
    for (uint8_t& b : key)
      b = static_cast<uint8_t>(rng() % 3 == 0 ? (rng() % 2 ? 0 : 0xFF) : rng());
    const uint32_t max = (1u << (8 * key.size())) - 1;
    const uint32_t v = BigEndian(key);
    Bytes up = key;
    IncrementKey(up.data(), up.size());
    ASSERT_EQ(BigEndian(up), v == max ? max : v + 1);
    Bytes down = key;
    DecrementKey(down.data(), down.size());
    ASSERT_EQ(BigEndian(down), v == 0 ? 0 : v - 1);
  }
}

TEST(KeyEncoding, ByteStringHelpers) {
  Bytes k = {1, 2, 3, 4, 5};
  FillKeyLow(k.data(), k.size(), 3);
  EXPECT_EQ(k, (Bytes{1, 2, 3, 0, 0}));
  FillKeyHigh(k.data(), k.size(), 1);
  EXPECT_EQ(k, (Bytes{1, 0xFF, 0xFF, 0xFF, 0xFF}));
  FillKeyHigh(k.data(), k.size(), 9);  // start beyond the key: nothing
  EXPECT_EQ(k, (Bytes{1, 0xFF, 0xFF, 0xFF, 0xFF}));

  // Inverting reverses the order of any two keys.
  std::mt19937 rng(9);
  for (int i = 0; i < 1000; ++i) {
    Bytes a(4), b(4);
    for (uint8_t& x : a) x = static_cast<uint8_t>(rng() % 4);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng() % 4);
    const int before = ByteOrder(a, b);
    InvertBytes(a.data(), a.size());
    InvertBytes(b.data(), b.size());
    ASSERT_EQ(ByteOrder(a, b), -before);
  }

  const Bytes a = {1, 2, 3, 0, 0}, b = {1, 2, 4, 0, 0};
  EXPECT_EQ(CommonPrefixLength(a.data(), b.data(), 5), 2u);
  EXPECT_EQ(CommonPrefixLength(a.data(), a.data(), 5), 5u);
  EXPECT_EQ(CommonPrefixLength(a.data(), b.data(), 1), 1u);
  EXPECT_EQ(TrailingZeroCount(a.data(), 5), 2u);
  EXPECT_EQ(TrailingZeroCount(a.data(), 3), 0u);
  const Bytes zeros(4, 0);
  EXPECT_EQ(TrailingZeroCount(zeros.data(), 4), 4u);
  Bytes z = {9, 9, 9};
  ZeroFill(z.data(), 2);
  EXPECT_EQ(z, (Bytes{0, 0, 9}));
}

}  // namespace
}  // namespace tessera
