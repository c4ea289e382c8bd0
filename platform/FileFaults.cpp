#include "platform/FileFaults.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::atomic<bool> active{false};
std::mutex faults_mutex;
FileFaults current;

}  // namespace

ScopedFileFaults::ScopedFileFaults(const FileFaults& faults) {
  std::lock_guard<std::mutex> guard(faults_mutex);
  current = faults;
  active.store(true);
}

ScopedFileFaults::~ScopedFileFaults() {
  std::lock_guard<std::mutex> guard(faults_mutex);
  active.store(false);
  current = FileFaults();
}

bool ActiveFileFaults(FileFaults* faults) {
  if (!active.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> guard(faults_mutex);
  if (!active.load()) return false;
  *faults = current;
  return true;
}

}  // namespace platform
