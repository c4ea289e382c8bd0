#include "bench/BenchData.h"

#include <sys/resource.h>

#include <algorithm>
#include <random>

namespace bench {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

void MakeNom(uint32_t id, uint32_t variant, char* out) {
  uint64_t h = Mix(id * 7919ull + variant);
  // Mixed case, so the case-insensitive order is not the byte order; a Windows-1252 letter now
  // and then, the same bytes on both sides.
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int i = 0; i < kStringSize; ++i) {
    if (i % 10 == 0) h = Mix(h);
    out[i] = kLetters[h % 52];
    h /= 52;
  }
  if (id % 17 == 0) out[kStringSize - 1] = '\xE9';
  out[kStringSize] = 0;
}

Row MakeRow(uint32_t id, uint32_t variant) {
  Row r;
  r.id = static_cast<int32_t>(id);
  MakeNom(id, variant, r.nom);
  const uint64_t h = Mix(id);
  r.jour = 730000 + static_cast<uint32_t>(h % 20000);
  r.montant = static_cast<double>((h >> 20) % 1000000) / 100.0;
  for (int i = 0; i < kMemoSize; ++i) r.memo[i] = static_cast<char>('a' + (id + i * 7) % 26);
  r.memo[0] = '\xC7';  // another Windows-1252 letter
  r.memo[kMemoSize] = 0;
  return r;
}

uint32_t CountMontantAbove(uint32_t count) {
  uint32_t n = 0;
  for (uint32_t id = 1; id <= count; ++id) n += MakeRow(id).montant > kMontantAbove ? 1 : 0;
  return n;
}

std::vector<uint32_t> Shuffled(uint32_t count, uint32_t seed) {
  std::vector<uint32_t> ids(count);
  for (uint32_t i = 0; i < count; ++i) ids[i] = i + 1;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(seed));
  return ids;
}

}  // namespace bench
