// Counted B-tree timings: 100,000 ascending inserts, 100,000 random inserts, then 100,000 random
// finds, with K = 20 keys in a fresh index file each.  Run by hand on a Release build:
//   build-release/bench/IndexTreeBench [directory]
// The files go into a new directory made inside the one given (or the temporary directory), and
// only that new directory is removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/core/EngineSession.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/values/KeyEncoding.h"

namespace {

using tessera::TIndexFile;

class Owner : public tessera::TIndexFileOwner {
 public:
  std::string name = "Bench.DAT";
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return false; }
  bool InExclusivePhase() const override { return false; }
};

std::vector<uint8_t> Key(uint32_t n) {
  std::vector<uint8_t> key(20, 0);
  key[0] = 1;
  tessera::EncodeInt32Key(static_cast<int32_t>(n), key.data() + 1);
  return key;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Run {
  double insert_seconds = 0;
  double find_seconds = 0;
  uint64_t pages_written = 0;
  uint64_t pages_read = 0;
  uint32_t end_offset = 0;
};

// `commit_every`: write dirty pages and the header after so many inserts (0: once at the end).
Run Measure(const std::string& table, const std::vector<uint32_t>& order, uint32_t commit_every,
            bool finds) {
  Owner owner;
  TIndexFile file(owner);
  file.SetExclusive(true);
  file.SetFileName(table);
  file.CreateNew();
  tessera::TIndexDescriptor primary;
  primary.key_length = 20;
  primary.field_count = 1;
  primary.field_numbers[0] = 1;
  file.DefinePrimaryIndex(primary);
  file.WriteHeader(true);
  Run run;
  auto start = std::chrono::steady_clock::now();
  uint32_t since_commit = 0;
  for (uint32_t n : order) {
    file.InsertKey(Key(n).data(), n);
    if (commit_every != 0 && ++since_commit == commit_every) {
      file.WriteDirtyPages();
      file.WriteHeader(true);
      since_commit = 0;
    }
  }
  file.WriteDirtyPages();
  file.WriteHeader(false);
  run.insert_seconds = Seconds(start);
  run.pages_written = file.PageCache().PageWrites();
  run.end_offset = file.EndOffset();
  if (finds) {
    std::mt19937 rng(99);
    start = std::chrono::steady_clock::now();
    uint32_t found = 0;
    for (int i = 0; i < 100000; ++i) {
      found += file.FindKey(Key(order[rng() % order.size()]).data(), false) ? 1 : 0;
    }
    run.find_seconds = Seconds(start);
    if (found != 100000) std::printf("FIND MISSED %u\n", 100000 - found);
  }
  run.pages_read = file.PageCache().PageReads();
  file.Close();
  return run;
}

// A directory of a new name inside `parent`, made by this call (so the benchmark may remove it
// with everything in it); empty when none could be made.
std::filesystem::path MakeOwnDirectory(const std::filesystem::path& parent) {
  std::random_device seed;
  std::mt19937 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "btree-bench-%08x", static_cast<unsigned>(rng()));
    const std::filesystem::path dir = parent / name;
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir;
    if (error) return {};
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const fs::path dir = MakeOwnDirectory(parent);
  if (dir.empty()) {
    std::fprintf(stderr, "IndexTreeBench: cannot make a directory in %s\n", parent.c_str());
    return 2;
  }
  tessera::InitializeEngine();
  std::vector<uint32_t> ascending(100000);
  for (uint32_t i = 0; i < ascending.size(); ++i) ascending[i] = i + 1;
  std::vector<uint32_t> shuffled = ascending;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

  auto report = [](const char* what, const Run& r) {
    std::printf("%-44s inserts %.3f s  finds %.3f s  pages written %llu  file %u pages\n", what,
                r.insert_seconds, r.find_seconds, static_cast<unsigned long long>(r.pages_written),
                r.end_offset / 4096 - 1);
  };
  report("100,000 ascending, one flush", Measure((dir / "Asc").string(), ascending, 0, false));
  report("100,000 random, one flush; 100,000 finds",
         Measure((dir / "Rnd").string(), shuffled, 0, true));
  report("100,000 ascending, committed every insert",
         Measure((dir / "AscC").string(), ascending, 1, false));
  report("100,000 random, committed every insert",
         Measure((dir / "RndC").string(), shuffled, 1, false));
  fs::remove_all(dir);
  tessera::ShutdownEngine();
  return 0;
}
