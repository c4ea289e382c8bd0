// The engine allocator: zero-filled blocks that remember their size.
//
// Every block starts zeroed, and a block grown by EngineRealloc has a zeroed tail, so engine
// buffers (pages, records, list arrays) never show stale bytes.  Running out of memory raises
// engine error 11016.  New code should prefer RAII containers; these remain for the buffers whose
// exact size the engine reasons about (list arrays, in-memory file images).
#pragma once

#include <cstdint>

namespace tessera {

// Largest block: engine sizes are signed 32-bit quantities.
inline constexpr int64_t kMaxEngineBlock = INT32_MAX;

// A zero-filled block of `size` bytes.  A size of 0 or less gives nullptr without raising; a
// size beyond kMaxEngineBlock or an allocation failure raises 11016.
void* EngineAlloc(int64_t size);

// Resizes a block from EngineAlloc, keeping its contents and zero-filling the grown tail.
// A null `block` allocates; a size of 0 or less frees the block and gives nullptr.  On failure
// raises 11016 and the old block stays valid.
void* EngineRealloc(void* block, int64_t new_size);

// The size a block was given; 0 for nullptr.
int64_t EngineBlockSize(const void* block);

// Frees a block from EngineAlloc; nullptr is ignored.
void EngineFree(void* block);

// Frees the block and sets the variable to nullptr.
template <class T>
void EngineFreeAndNil(T*& block) {
  EngineFree(const_cast<void*>(static_cast<const void*>(block)));
  block = nullptr;
}

}  // namespace tessera
