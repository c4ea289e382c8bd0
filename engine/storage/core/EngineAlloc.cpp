#include "engine/storage/core/EngineAlloc.h"

#include <cstdlib>
#include <cstring>

#include "engine/storage/core/EngineErrors.h"

namespace tessera {
namespace {

// The size lives in front of the block; 16 bytes keep the caller's part aligned for any type.
constexpr size_t kHeader = 16;

unsigned char* BaseOf(const void* block) {
  return static_cast<unsigned char*>(const_cast<void*>(block)) - kHeader;
}

int64_t StoredSize(const void* block) {
  int64_t size;
  std::memcpy(&size, BaseOf(block), sizeof size);
  return size;
}

void* Finish(unsigned char* base, int64_t size) {
  std::memcpy(base, &size, sizeof size);
  return base + kHeader;
}

}  // namespace

void* EngineAlloc(int64_t size) {
  if (size <= 0) return nullptr;
  if (size > kMaxEngineBlock) RaiseEngineError(kErrOutOfMemory);
  auto* base = static_cast<unsigned char*>(std::calloc(1, kHeader + static_cast<size_t>(size)));
  if (base == nullptr) RaiseEngineError(kErrOutOfMemory);
  return Finish(base, size);
}

void* EngineRealloc(void* block, int64_t new_size) {
  if (block == nullptr) return EngineAlloc(new_size);
  if (new_size <= 0) {
    EngineFree(block);
    return nullptr;
  }
  if (new_size > kMaxEngineBlock) RaiseEngineError(kErrOutOfMemory);
  const int64_t old_size = StoredSize(block);
  auto* base = static_cast<unsigned char*>(
      std::realloc(BaseOf(block), kHeader + static_cast<size_t>(new_size)));
  if (base == nullptr) RaiseEngineError(kErrOutOfMemory);
  if (new_size > old_size) {
    std::memset(base + kHeader + old_size, 0, static_cast<size_t>(new_size - old_size));
  }
  return Finish(base, new_size);
}

int64_t EngineBlockSize(const void* block) { return block ? StoredSize(block) : 0; }

void EngineFree(void* block) {
  if (block != nullptr) std::free(BaseOf(block));
}

}  // namespace tessera
