// The blob file (".BLB"): the values of a table's blob and memo fields as chains of fixed-size
// blocks, with a free chain, a block cache and the file's region locks.
//
// Header, file offset 0, 512 bytes:
//
//   offset  size  content
//        0     4  u32 change counter, +1 at every header write (other processes compare it)
//        4     4  zero
//        8     1  u8 version, 3
//        9     4  u32 head of the free-block chain (a block offset), 0 = empty
//       13     4  u32 end offset: where the next new block goes; 512 in a new file
//       17     1  u8 the writer's header-changed flag; not used when read
//       18   494  zero
//
// Block k lies at 512 + k x block size (the block size comes from the data file: 64..65535).
// Each block begins with an 18-byte header; the payload fills the rest:
//
//   offset  size  content
//        0     4  u32 previous block of the chain (0 in the first block)
//        4     4  u32 next block of the chain (0 in the last); in a free block the next free one
//        8     2  u16 payload bytes used
//       10     4  u32 owner: the physical record number whose value this is
//       14     4  u32 total length of the value (first block only; 0 in the others)
//
// On an encrypted table the header, and separately each block's header and each block's payload,
// pass through the table cipher with the data key pair, the key restarting for each piece.
//
// Locks (the data file's lock levels take them): the write region 0x7FFF0000, length 65,535,
// covers every reader byte 0x7FFFFFFF - r (r random in 1..65,534), so one writer excludes all
// readers while readers rarely collide.  Each is tried up to 8192 times, 3 ms apart.
//
// Everything read from the file is untrusted.  Every block offset met in a header or chain is
// checked against the block grid and the end offset, every chain is walked with a set of the
// blocks already seen and the owner of every block checked, and a value's length is checked
// against what the file can hold before memory is set aside for it.  Damage is answered with
// 8963 (block buffers corrupt), 9998 (invalid blob offset) or 8711 (chain shorter than its value),
// never by reading or writing outside a buffer, by looping, or by linking one block into two
// chains.
//
// Beside the block cache the file keeps groups (TGroupCache.h) of about 4 KB of consecutive
// blocks: a single block read from disk under the blob reader byte, outside any write, brings its
// group when the file is small enough for the groups to hold a fair share of it, and later misses
// in that group read no more.  They hold the disk's bytes as read; a write-back forgets the groups
// of its blocks and every emptying or invalidation of the cache empties them.
//
// Ownership and threads: the table's data file owns its TBlobFile and uses it from one thread.
// Across processes only the locks and the change counter keep the caches coherent; the owner
// decides when headers are written and caches emptied (see TBlobFileOwner).
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/core/TCacheEntry.h"
#include "engine/storage/core/TCountedHeaderFile.h"
#include "engine/storage/core/TFlatIndex.h"
#include "engine/storage/core/TGroupCache.h"
#include "engine/storage/core/TRangeLock.h"

namespace tessera {

inline constexpr uint8_t kBlobVersion = 3;
inline constexpr uint32_t kDefaultBlobBlockSize = 512;
inline constexpr uint32_t kMinBlobBlockSize = 64;
inline constexpr uint32_t kMaxBlobBlockSize = 65535;
// A new block may not start past this offset (9479).
inline constexpr uint32_t kMaxBlobFileOffset = 2000000000;
inline constexpr int kMaxOpenBlobs = 64;

// Header.
inline constexpr size_t kBlbChangeCounter = 0;
inline constexpr size_t kBlbZero1 = kBlbChangeCounter + 4;
inline constexpr size_t kBlbVersion = kBlbZero1 + 4;
inline constexpr size_t kBlbFreeHead = kBlbVersion + 1;
inline constexpr size_t kBlbEndOffset = kBlbFreeHead + 4;
inline constexpr size_t kBlbChangedFlag = kBlbEndOffset + 4;
inline constexpr size_t kBlbZero2 = kBlbChangedFlag + 1;
inline constexpr size_t kBlobHeaderSize = 512;
static_assert(kBlbZero2 + 494 == kBlobHeaderSize);

// Block header.
inline constexpr size_t kBlkPrevious = 0;
inline constexpr size_t kBlkNext = kBlkPrevious + 4;
inline constexpr size_t kBlkUsed = kBlkNext + 4;
inline constexpr size_t kBlkOwner = kBlkUsed + 2;
inline constexpr size_t kBlkTotalLength = kBlkOwner + 4;
inline constexpr size_t kBlockHeaderSize = kBlkTotalLength + 4;
static_assert(kBlockHeaderSize == 18);

// A block header, decoded.
struct TBlockHeader {
  uint32_t previous = 0;
  uint32_t next = 0;
  uint16_t used = 0;
  uint32_t owner_record = 0;
  uint32_t total_length = 0;
};
// REQUIRES: `src` / `dst` hold kBlockHeaderSize bytes.
TBlockHeader DecodeBlockHeader(const uint8_t* src);
void EncodeBlockHeader(const TBlockHeader& header, uint8_t* dst);

// What the blob file asks of the data file that owns it.
class TBlobFileOwner {
 public:
  virtual ~TBlobFileOwner() = default;
  // The table's data file name, which most blob errors carry.
  virtual const std::string& DataFileName() const = 0;
  virtual bool Encrypted() const = 0;
  virtual bool StrictChangeDetection() const = 0;
  // The data file holds its exclusive transaction phase: nothing may reach the disk before
  // commit, so the cache grows instead of writing, and appended blocks may not be on disk yet.
  virtual bool InExclusivePhase() const = 0;
  // Takes the data file's read lock level before blocks are read from disk (nothing when a lock
  // level is held already).  True when another process changed the table's files; the owner has
  // then re-read the headers and invalidated this file's cache, and the caller starts over.
  virtual bool TakeReadLevel() = 0;
  // As TakeReadLevel, before blocks are read: a level the owner took for its own files alone takes
  // this file's part now.
  virtual bool TakeBlobReadLevel() { return TakeReadLevel(); }
};

// One cached block; its offset, dirty flag and pins are the cache entry's (TCacheEntry.h).
struct TBlock : TCacheEntry {
  bool marked = false;  // placed by the multi-block read under way
  TBlockHeader header;
  std::vector<uint8_t> payload;  // block size - 18 bytes
};

// One open value, wholly in memory.
struct TBlobBuffer {
  int32_t handle = 0;
  bool modified = false;
  uint32_t record_number = 0;
  uint16_t field_number = 0;
  uint32_t first_block = 0;
  std::vector<uint8_t> data;
};

static_assert(kBlbChangeCounter == 0, "the counted header keeps its counter first");

class TBlobFile : public TCountedHeaderFile<kBlobHeaderSize, kBlbChangedFlag> {
 public:
  // REQUIRES: `owner` outlives this object.  The block size is the data file's (0 means 512).
  TBlobFile(TBlobFileOwner& owner, uint32_t block_size);
  ~TBlobFile() override;

  // The table name, blanks trimmed, with its extension replaced by ".BLB".
  std::string MakeFileName(std::string_view table_name) override;
  // Opens the file and reads its header: 12035 for a version other than 3, 9498 for a block
  // size outside 64..65535, 8963 for a header whose offsets do not fit the block size.
  void Open() override;
  // Frees the open values and the cache (unwritten blocks are dropped), then closes.
  void Close() override;
  // A new empty file (exclusive); its header is marked changed and written by WriteHeader.
  void CreateNew() override;

  // Reads and checks the header (as Open).  WriteHeader and CheckChanged: TCountedHeaderFile.
  void ReadHeader() override;
  // Cuts the file to its header: no blocks, empty free chain; the header is marked changed.
  void EmptyFile();

  // Value operations: 0 on success, 10030 for a handle that is not open.  Damage found while
  // loading or saving raises (8963, 8711, 9998).
  // Opens a value of a record (9494 when 64 are open); a nonzero first block loads it at once.
  uint16_t OpenBlob(uint32_t record_number, uint16_t field_number, uint32_t first_block,
                    int32_t& handle);
  // Hands back the value's first block offset and forgets the value (unsaved changes too).
  uint16_t CloseBlob(int32_t handle, uint32_t& first_block);
  // Copies `requested` bytes from `offset`; past the value's end fewer (`count`) with 8711.
  uint16_t ReadBlob(int32_t handle, int32_t offset, int32_t& count, int32_t requested,
                    void* destination);
  // Writes `count` bytes at `offset`, growing the value when they pass its end; 10029 for a
  // negative offset or count, or a value that would pass 2,000,000,000 bytes.
  uint16_t WriteBlob(int32_t handle, int32_t offset, int32_t count, const void* source);
  // Sets the value's size (cut, or grown with zeros); 10029 as for WriteBlob.
  uint16_t TruncateBlob(int32_t handle, int32_t size);
  uint16_t GetBlobSize(int32_t handle, int32_t& size);

  // Hands each open value's field number and first block offset to `store`, which writes it into
  // the record buffer.
  void StoreBlobOffsets(const std::function<void(uint16_t, uint32_t)>& store) const;
  // Gives every open value this record number (after an insert numbered the record).
  void SetBlobRecordNumber(uint32_t record_number);
  // Saves every modified open value into the block cache (a size of 0 frees its chain).  All of
  // them must belong to one record, else 8963 before anything is saved.
  void SaveOpenBlobs();
  // Forgets every open value without saving.
  void FreeOpenBlobs();
  // What a save changes in the open values (their record, first block and modified mark), taken
  // before a save that may fail and put back after the cache was discarded, so that the values
  // are saved again, whole, by the next attempt.
  struct TOpenBlobState {
    int32_t handle = 0;
    uint32_t record_number = 0;
    uint32_t first_block = 0;
    bool modified = false;
  };
  std::vector<TOpenBlobState> OpenBlobStates() const;
  void RestoreOpenBlobStates(const std::vector<TOpenBlobState>& states);

  // The region locks; False when not obtained after the retries (or an unlock was refused).
  bool WriteLock();
  bool WriteUnlock();
  bool ReadLock();
  bool ReadUnlock();
  bool WriteLockHeld() const { return write_lock_.Locked(); }
  bool ReadLockHeld() const { return read_lock_.Locked(); }
  // The retry rule of these locks (tests shorten it).
  void SetLockRetry(const TLockRetry& retry) { lock_retry_ = retry; }

  // Cache control for the data file's lock levels and transactions.
  void EmptyCache();       // frees every block; capacity back to its base
  void InvalidateCache();  // every block unpinned, cleared and without offset
  void UnpinAll();
  // Writes the dirty, unpinned blocks in runs of adjacent offsets; true when anything was written.
  bool FlushDirtyBlocks();
  // Brings the values whose first blocks are at `offsets` (in any order) into the cache unpinned,
  // every block of each chain, adjacent ones in one read, so that the values opened afterwards
  // belong to the moment of this read.  Offsets already cached or off the block grid are skipped,
  // at most half the cache is filled (so a value may come only in part: ValueCached says), and
  // nothing is checked or raised for damage: that waits until a value is loaded.
  // REQUIRES: the owner holds a read level (or needs none); this takes no lock.
  // `offsets` is used up.
  void PrefetchBlocks(std::vector<uint32_t>& offsets);
  // Every block of record `record`'s value at `first_block` is in the cache (a damaged chain
  // counts as cached: its load reports the damage).
  bool ValueCached(uint32_t first_block, uint32_t record) const;
  // Frees the least recently used clean, unpinned blocks above the base capacity.
  void ShrinkCache();

  uint32_t BlockSize() const { return block_size_; }
  uint32_t PayloadSize() const { return block_size_ - static_cast<uint32_t>(kBlockHeaderSize); }
  uint32_t FreeHead() const;
  uint32_t EndOffset() const;
  size_t CacheCapacity() const { return capacity_; }
  uint32_t ReadAheadLimit() const { return read_ahead_limit_; }
  size_t CachedBlockCount() const { return cache_.size(); }
  size_t GroupCount() const { return groups_.Size(); }
  int OpenBlobCount() const { return static_cast<int>(open_blobs_.size()); }

 private:
  bool HeaderEnciphered() const override;
  using CacheList = std::list<std::unique_ptr<TBlock>>;

  [[noreturn]] void RaiseData(uint16_t code) const;
  void SetFreeHead(uint32_t offset);
  void SetEndOffset(uint32_t offset);
  void CheckHeader();
  bool IsBlockOffset(uint32_t offset) const;
  uint32_t MaxChainBlocks() const;
  TBlobBuffer* FindBlob(int32_t handle);
  // The first block of the value's chain not in the cache (0: none missing, or damage), and in
  // `left` how many blocks may follow it (at most the read-ahead limit).
  uint32_t MissingBlock(uint32_t first_block, uint32_t record, uint32_t& left) const;

  // Cache.
  TBlock* GetBlock(uint32_t offset, bool read_ahead, uint32_t wanted);
  TBlock* NewBlockAtEnd();
  // `prefetch`: a short read is no damage, and no block takes a slot that is not to be had.
  void ReadBlocks(uint32_t offset, uint32_t count, bool prefetch = false);
  // The one block at `offset` into `image` through the groups, where they serve: its byte count
  // (a whole block), or 0 when it is to be read alone.
  int32_t ReadThroughGroups(uint32_t offset, uint8_t* image);
  uint32_t UnitOf(uint32_t offset) const { return (offset - kBlobHeaderSize) / block_size_ + 1; }
  TBlock* TakeSlot(bool may_raise);
  CacheList::iterator FindEvictable();
  void Touch(CacheList::iterator it);
  void Pin(TBlock* block);
  static void Unpin(TBlock* block) { block->Unpin(); }
  void LoadBlock(TBlock* block, const uint8_t* image);
  void StoreBlock(const TBlock* block, uint8_t* image) const;

  // Chains.
  TBlock* AllocateBlock();
  void ReleaseBlock(TBlock* block);
  void LoadValue(TBlobBuffer& buffer);
  bool TryLoadValue(TBlobBuffer& buffer);
  void SaveValue(TBlobBuffer& buffer);
  void FreeValue(TBlobBuffer& buffer);
  // `wanted`: blocks expected (read-ahead); 0 takes it from the first block's total length.
  void FreeChain(uint32_t first, uint32_t record, uint32_t wanted);

  TBlobFileOwner& owner_;
  uint32_t block_size_;
  TRangeLock read_lock_;
  TRangeLock write_lock_;
  TLockRetry lock_retry_{8191, 3};  // 8192 attempts
  std::vector<std::unique_ptr<TBlobBuffer>> open_blobs_;
  std::unique_ptr<TBlobBuffer> spare_blob_;  // the last value closed, its memory for the next
  int32_t last_handle_ = 0;
  TCacheLedger ledger_;  // before the blocks, which leave it as they go
  // Most recently used first; blocks with an offset are also in cache_index_.
  CacheList cache_;
  TFlatIndex<CacheList::iterator> cache_index_;
  size_t base_capacity_ = 0;
  size_t capacity_ = 0;
  uint32_t read_ahead_limit_ = 1;
  TGroupCache groups_;
  std::vector<uint8_t> read_image_;  // ReadBlocks' buffers, kept so that a read allocates nothing
  std::vector<TBlock*> read_placed_;
  std::vector<uint32_t> chain_firsts_, chain_offsets_;  // PrefetchBlocks', likewise
};

}  // namespace tessera
