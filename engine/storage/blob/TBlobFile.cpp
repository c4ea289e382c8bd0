#include "engine/storage/blob/TBlobFile.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <unordered_set>

#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"
#include "engine/storage/core/TableCipher.h"

namespace tessera {
namespace {

constexpr uint32_t kWriteRegionOffset = 0x7FFF0000;
constexpr uint32_t kWriteRegionLength = 65535;
constexpr uint32_t kReaderByteTop = 0x7FFFFFFF;
constexpr uint32_t kCacheBytes = 262140;
constexpr size_t kMaxCacheBlocks = 4096;
constexpr size_t kCacheGrowth = 256;
// The largest value buffer kept for the next value opened.
constexpr size_t kSpareBlobBytes = size_t{64} << 10;
constexpr uint32_t kReadAheadBytes = 65535;
// A load that keeps meeting other writers gives up rather than loop for ever.
constexpr int kMaxLoadRestarts = 1000;
constexpr int64_t kMaxBlobSize = kMaxBlobFileOffset;

// r in 1..65,534.  Each thread draws from its own generator, seeded from the system's entropy so
// that processes started together do not pick the same bytes.
uint16_t RandomReaderByte() {
  thread_local std::minstd_rand rng(std::random_device{}());
  const auto r = static_cast<uint16_t>(rng() % 65535);
  return r == 0 ? 1 : r;
}

void SetBufferSize(TBlobBuffer& buffer, int64_t size) {
  if (static_cast<int64_t>(buffer.data.size()) == size) return;
  buffer.modified = true;
  try {
    if (size == 0) {
      std::vector<uint8_t>().swap(buffer.data);
    } else {
      buffer.data.resize(static_cast<size_t>(size));
    }
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory);
  }
}

void ClearBlock(TBlock* block) {
  block->SetOffset(0);
  block->SetDirty(false);
  block->ClearPins();
  block->marked = false;
  block->header = TBlockHeader{};
  std::fill(block->payload.begin(), block->payload.end(), uint8_t{0});
}

// Holds one pin for a scope, so that damage raised half-way leaves no block pinned.
class PinnedBlock {
 public:
  explicit PinnedBlock(TBlock* block) : block_(block) {}
  ~PinnedBlock() { Drop(); }
  PinnedBlock(const PinnedBlock&) = delete;
  PinnedBlock& operator=(const PinnedBlock&) = delete;
  TBlock* operator->() const { return block_; }
  TBlock* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }
  void Reset(TBlock* block) {
    Drop();
    block_ = block;
  }
  // Forgets the block without unpinning it (the owner has reset every pin already).
  void Abandon() { block_ = nullptr; }

 private:
  void Drop() {
    if (block_ != nullptr) block_->Unpin();
    block_ = nullptr;
  }
  TBlock* block_;
};

}  // namespace

TBlockHeader DecodeBlockHeader(const uint8_t* src) {
  TBlockHeader h;
  h.previous = cl::GetU32LE(src + kBlkPrevious);
  h.next = cl::GetU32LE(src + kBlkNext);
  h.used = cl::GetU16LE(src + kBlkUsed);
  h.owner_record = cl::GetU32LE(src + kBlkOwner);
  h.total_length = cl::GetU32LE(src + kBlkTotalLength);
  return h;
}

void EncodeBlockHeader(const TBlockHeader& h, uint8_t* dst) {
  cl::PutU32LE(dst + kBlkPrevious, h.previous);
  cl::PutU32LE(dst + kBlkNext, h.next);
  cl::PutU16LE(dst + kBlkUsed, h.used);
  cl::PutU32LE(dst + kBlkOwner, h.owner_record);
  cl::PutU32LE(dst + kBlkTotalLength, h.total_length);
}

TBlobFile::TBlobFile(TBlobFileOwner& owner, uint32_t block_size)
    : owner_(owner), block_size_(block_size == 0 ? kDefaultBlobBlockSize : block_size) {}

TBlobFile::~TBlobFile() {
  try {
    Close();
  } catch (...) {
    // Destructors never throw; closing a file cannot fail in a way worth reporting here.
  }
}

void TBlobFile::RaiseData(uint16_t code) const {
  RaiseEngineError(code, cl::ToShort(owner_.DataFileName()));
}

std::string TBlobFile::MakeFileName(std::string_view table_name) {
  return RemoveFileExtension(cl::TrimBlanks(table_name)) + ".BLB";
}

uint32_t TBlobFile::FreeHead() const { return cl::GetU32LE(header_ + kBlbFreeHead); }
uint32_t TBlobFile::EndOffset() const { return cl::GetU32LE(header_ + kBlbEndOffset); }

void TBlobFile::SetFreeHead(uint32_t offset) {
  if (FreeHead() == offset) return;
  cl::PutU32LE(header_ + kBlbFreeHead, offset);
  header_changed_ = true;
}

void TBlobFile::SetEndOffset(uint32_t offset) {
  cl::PutU32LE(header_ + kBlbEndOffset, offset);
  header_changed_ = true;
}

bool TBlobFile::IsBlockOffset(uint32_t offset) const {
  return offset >= kBlobHeaderSize && (offset - kBlobHeaderSize) % block_size_ == 0 &&
         offset < EndOffset();
}

uint32_t TBlobFile::MaxChainBlocks() const {
  return (EndOffset() - static_cast<uint32_t>(kBlobHeaderSize)) / block_size_;
}

// ---- File life and header ------------------------------------------------------------------

void TBlobFile::Open() {
  if (IsOpen()) return;
  if (block_size_ < kMinBlobBlockSize || block_size_ > kMaxBlobBlockSize) {
    RaiseData(kErrInvalidBlobBlockSize);
  }
  TFileHandler::Open();
  try {
    ReadHeader();
    // Blocks reach the disk before the header that counts them, so an end past the file's
    // length is damage: trusted, the first new block would be written out there.
    if (EndOffset() > static_cast<uint32_t>(Size())) RaiseData(kErrBlobBufferCorrupt);
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
  base_capacity_ = std::min<size_t>(kCacheBytes / block_size_, kMaxCacheBlocks);
  capacity_ = base_capacity_;
  read_ahead_limit_ = kReadAheadBytes / block_size_;
  groups_.Configure(block_size_);
}

void TBlobFile::CreateNew() {
  if (block_size_ < kMinBlobBlockSize || block_size_ > kMaxBlobBlockSize) {
    RaiseData(kErrInvalidBlobBlockSize);
  }
  TFileHandler::CreateNew();
  std::memset(header_, 0, sizeof header_);
  header_[kBlbVersion] = kBlobVersion;
  cl::PutU32LE(header_ + kBlbEndOffset, kBlobHeaderSize);
  header_changed_ = true;
  base_capacity_ = std::min<size_t>(kCacheBytes / block_size_, kMaxCacheBlocks);
  capacity_ = base_capacity_;
  read_ahead_limit_ = kReadAheadBytes / block_size_;
  groups_.Configure(block_size_);
}

void TBlobFile::Close() {
  ForgetHeaderInFile();
  open_blobs_.clear();
  spare_blob_.reset();
  ledger_.Clear();
  cache_.clear();
  cache_index_.Clear();
  groups_.Configure(block_size_);
  // The close gives every range of the handle back.
  read_lock_.Forget();
  write_lock_.Forget();
  TFileHandler::Close();
}

void TBlobFile::CheckHeader() {
  if (header_[kBlbVersion] != kBlobVersion) Fail(kErrWrongVersion);
  const uint32_t end = EndOffset();
  if (end < kBlobHeaderSize || (end - kBlobHeaderSize) % block_size_ != 0 ||
      end > kMaxBlobFileOffset + block_size_) {
    RaiseData(kErrBlobBufferCorrupt);
  }
  const uint32_t free_head = FreeHead();
  if (free_head != 0 && !IsBlockOffset(free_head)) RaiseData(kErrBlobBufferCorrupt);
}

void TBlobFile::ReadHeader() {
  ForgetHeaderInFile();
  uint8_t image[kBlobHeaderSize];
  ReadHeaderImage(image, kBlobHeaderSize, owner_.Encrypted());
  // Nothing of a damaged header is kept: an open handle goes on with the header it had.
  uint8_t kept[kBlobHeaderSize];
  std::memcpy(kept, header_, kBlobHeaderSize);
  std::memcpy(header_, image, kBlobHeaderSize);
  try {
    CheckHeader();
  } catch (...) {
    std::memcpy(header_, kept, kBlobHeaderSize);
    throw;
  }
  KeepHeaderInFile();
  header_changed_ = false;
}

bool TBlobFile::HeaderEnciphered() const { return owner_.Encrypted(); }

void TBlobFile::EmptyFile() {
  TruncateAt(kBlobHeaderSize);
  header_[kBlbVersion] = kBlobVersion;
  cl::PutU32LE(header_ + kBlbFreeHead, 0);
  cl::PutU32LE(header_ + kBlbEndOffset, kBlobHeaderSize);
  header_changed_ = true;
  // The cached blocks lie beyond the new end.
  EmptyCache();
}

// ---- Open values -----------------------------------------------------------------------------

TBlobBuffer* TBlobFile::FindBlob(int32_t handle) {
  for (auto& blob : open_blobs_) {
    if (blob->handle == handle) return blob.get();
  }
  return nullptr;
}

uint16_t TBlobFile::OpenBlob(uint32_t record_number, uint16_t field_number, uint32_t first_block,
                             int32_t& handle) {
  if (open_blobs_.size() >= static_cast<size_t>(kMaxOpenBlobs)) return kErrTooManyBlobsOpen;
  if (first_block != 0 && !IsBlockOffset(first_block)) Fail(kErrInvalidBlobOffset);
  // A scan opens and closes a value per row: the last one closed lends its memory.
  std::unique_ptr<TBlobBuffer> blob =
      spare_blob_ != nullptr ? std::move(spare_blob_) : std::make_unique<TBlobBuffer>();
  blob->modified = false;
  blob->data.clear();
  // Handles are identities, never reused while the value is open: a stale handle of a closed
  // value can then never reach another value.
  do {
    last_handle_ = last_handle_ == INT32_MAX ? 1 : last_handle_ + 1;
  } while (FindBlob(last_handle_) != nullptr);
  blob->handle = last_handle_;
  blob->record_number = record_number;
  blob->field_number = field_number;
  blob->first_block = first_block;
  if (first_block != 0) LoadValue(*blob);
  handle = blob->handle;
  open_blobs_.push_back(std::move(blob));
  return 0;
}

uint16_t TBlobFile::CloseBlob(int32_t handle, uint32_t& first_block) {
  for (auto it = open_blobs_.begin(); it != open_blobs_.end(); ++it) {
    if ((*it)->handle == handle) {
      first_block = (*it)->first_block;
      std::unique_ptr<TBlobBuffer> closed = std::move(*it);
      open_blobs_.erase(it);
      if (closed->data.capacity() <= kSpareBlobBytes) spare_blob_ = std::move(closed);
      return 0;
    }
  }
  return kErrInvalidBlobHandle;
}

uint16_t TBlobFile::ReadBlob(int32_t handle, int32_t offset, int32_t& count, int32_t requested,
                             void* destination) {
  count = 0;
  TBlobBuffer* blob = FindBlob(handle);
  if (blob == nullptr) return kErrInvalidBlobHandle;
  if (requested < 0) return kErrInvalidBlobLength;
  const int64_t size = static_cast<int64_t>(blob->data.size());
  uint16_t code = 0;
  if (offset >= 0 && static_cast<int64_t>(offset) + requested <= size) {
    count = requested;
  } else if (offset >= 0 && offset < size) {
    count = static_cast<int32_t>(size - offset);
    code = kErrEndOfBlob;
  } else {
    code = kErrEndOfBlob;
  }
  if (count >= 1) std::memcpy(destination, blob->data.data() + offset, static_cast<size_t>(count));
  return code;
}

uint16_t TBlobFile::WriteBlob(int32_t handle, int32_t offset, int32_t count, const void* source) {
  TBlobBuffer* blob = FindBlob(handle);
  if (blob == nullptr) return kErrInvalidBlobHandle;
  if (offset < 0 || count < 0) return kErrInvalidBlobLength;
  const int64_t end = static_cast<int64_t>(offset) + count;
  if (end > kMaxBlobSize) return kErrInvalidBlobLength;
  if (end > static_cast<int64_t>(blob->data.size())) SetBufferSize(*blob, end);
  if (count >= 1) {
    std::memcpy(blob->data.data() + offset, source, static_cast<size_t>(count));
    // Bytes written within the old size must be saved too.
    blob->modified = true;
  }
  return 0;
}

uint16_t TBlobFile::TruncateBlob(int32_t handle, int32_t size) {
  TBlobBuffer* blob = FindBlob(handle);
  if (blob == nullptr) return kErrInvalidBlobHandle;
  if (size < 0 || size > kMaxBlobSize) return kErrInvalidBlobLength;
  SetBufferSize(*blob, size);
  return 0;
}

uint16_t TBlobFile::GetBlobSize(int32_t handle, int32_t& size) {
  TBlobBuffer* blob = FindBlob(handle);
  if (blob == nullptr) return kErrInvalidBlobHandle;
  size = static_cast<int32_t>(blob->data.size());
  return 0;
}

void TBlobFile::StoreBlobOffsets(const std::function<void(uint16_t, uint32_t)>& store) const {
  for (const auto& blob : open_blobs_) store(blob->field_number, blob->first_block);
}

void TBlobFile::SetBlobRecordNumber(uint32_t record_number) {
  for (auto& blob : open_blobs_) blob->record_number = record_number;
}

void TBlobFile::SaveOpenBlobs() {
  // All values saved together belong to one record; checked before anything changes.
  const TBlobBuffer* first_modified = nullptr;
  for (const auto& blob : open_blobs_) {
    if (!blob->modified) continue;
    if (first_modified != nullptr && blob->record_number != first_modified->record_number) {
      RaiseData(kErrBlobBufferCorrupt);
    }
    first_modified = blob.get();
  }
  for (auto& blob : open_blobs_) {
    if (!blob->modified) continue;
    if (!blob->data.empty()) {
      SaveValue(*blob);
    } else {
      FreeValue(*blob);
      blob->modified = false;
    }
  }
}

void TBlobFile::FreeOpenBlobs() { open_blobs_.clear(); }

std::vector<TBlobFile::TOpenBlobState> TBlobFile::OpenBlobStates() const {
  std::vector<TOpenBlobState> states;
  for (const auto& blob : open_blobs_) {
    states.push_back({blob->handle, blob->record_number, blob->first_block, blob->modified});
  }
  return states;
}

void TBlobFile::RestoreOpenBlobStates(const std::vector<TOpenBlobState>& states) {
  for (const TOpenBlobState& state : states) {
    TBlobBuffer* blob = FindBlob(state.handle);
    if (blob == nullptr) continue;  // closed since: nothing of it is left to save
    blob->record_number = state.record_number;
    blob->first_block = state.first_block;
    blob->modified = state.modified;
  }
}

// ---- Chains ----------------------------------------------------------------------------------

TBlock* TBlobFile::AllocateBlock() {
  TBlock* block = nullptr;
  const uint32_t head = FreeHead();
  if (head != 0) {
    if (!IsBlockOffset(head)) RaiseData(kErrBlobBufferCorrupt);
    block = GetBlock(head, false, 1);
    if (block == nullptr) RaiseData(kErrBlobBufferCorrupt);
    const uint32_t next = block->header.next;
    if (next != 0 && (next == head || !IsBlockOffset(next))) {
      Unpin(block);
      RaiseData(kErrBlobBufferCorrupt);
    }
    SetFreeHead(next);
  } else {
    block = NewBlockAtEnd();
  }
  block->header = TBlockHeader{};
  std::fill(block->payload.begin(), block->payload.end(), uint8_t{0});
  block->SetDirty(true);
  return block;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  // A free block belongs to no record: owner 0 keeps a stale chain from taking it back.
  block->header.next = FreeHead();
  block->header.owner_record = 0;
  block->SetDirty(true);
  SetFreeHead(block->Offset());
}

void TBlobFile::LoadValue(TBlobBuffer& buffer) {
  for (int attempt = 0;; ++attempt) {
    if (TryLoadValue(buffer)) return;
    if (attempt >= kMaxLoadRestarts) RaiseData(kErrBlobBufferCorrupt);
  }
}

bool TBlobFile::TryLoadValue(TBlobBuffer& buffer) {
  if (!IsBlockOffset(buffer.first_block)) Fail(kErrInvalidBlobOffset);
  PinnedBlock block(GetBlock(buffer.first_block, false, 1));
  if (!block) return false;
  // A reference into the middle of a chain would read as an empty value.
  if (block->header.owner_record != buffer.record_number || block->header.previous != 0) {
    RaiseData(kErrBlobBufferCorrupt);
  }
  const uint32_t payload = PayloadSize();
  const int64_t size = block->header.total_length;
  // A length the file's blocks cannot hold is damage; no memory is set aside for it.
  if (size > static_cast<int64_t>(MaxChainBlocks()) * payload || size > kMaxBlobSize) {
    RaiseData(kErrBlobBufferCorrupt);
  }
  // The buffer grows with the blocks actually read, so that a damaged length costs no more
  // memory than the chain really holds.
  buffer.data.clear();
  // The blocks after the first: a value of one block (most memos) allocates no set.
  std::unordered_set<uint32_t> seen;
  int64_t position = 0;
  for (;;) {
    const int64_t n = std::min<int64_t>(payload, size - position);
    try {
      buffer.data.insert(buffer.data.end(), block->payload.begin(), block->payload.begin() + n);
    } catch (const std::bad_alloc&) {
      RaiseEngineError(kErrOutOfMemory);
    }
    position += n;
    const uint32_t next = block->header.next;
    if (n < payload || position == size || next == 0) break;
    if (!IsBlockOffset(next) || next == buffer.first_block || !seen.insert(next).second) {
      RaiseData(kErrBlobBufferCorrupt);
    }
    const auto wanted = static_cast<uint32_t>((size - position + payload - 1) / payload);
    TBlock* following = GetBlock(next, true, wanted);
    if (following == nullptr) {
      block.Abandon();
      return false;
    }
    block.Reset(following);
    if (block->header.owner_record != buffer.record_number) RaiseData(kErrBlobBufferCorrupt);
  }
  buffer.modified = false;
  if (position < size) RaiseData(kErrEndOfBlob);
  return true;
}

void TBlobFile::SaveValue(TBlobBuffer& buffer) {
  const uint32_t record = buffer.record_number;
  const uint32_t payload = PayloadSize();
  const int64_t size = static_cast<int64_t>(buffer.data.size());
  PinnedBlock block(nullptr);
  int64_t old_length = 0;
  if (buffer.first_block != 0) {
    if (!IsBlockOffset(buffer.first_block)) Fail(kErrInvalidBlobOffset);
    block.Reset(GetBlock(buffer.first_block, false, 1));
    if (!block) RaiseData(kErrBlobBufferCorrupt);
    if (block->header.owner_record != record) RaiseData(kErrBlobBufferCorrupt);
    old_length = block->header.total_length;
  } else {
    block.Reset(AllocateBlock());
    buffer.first_block = block->Offset();
    block->header.owner_record = record;
  }
  block->header.total_length = static_cast<uint32_t>(size);
  block->SetDirty(true);
  // The chain's blocks; a value of one block (most memos) allocates no set.
  std::unordered_set<uint32_t> seen;
  int64_t position = 0;
  for (;;) {
    const int64_t n = std::min<int64_t>(payload, size - position);
    std::memcpy(block->payload.data(), buffer.data.data() + position, static_cast<size_t>(n));
    std::fill(block->payload.begin() + n, block->payload.end(), uint8_t{0});
    block->header.used = static_cast<uint16_t>(n);
    block->SetDirty(true);
    position += n;
    if (position == size) break;
    if (seen.empty()) seen.insert(buffer.first_block);
    // The old chain goes on where it can; every block taken over must be this record's own and
    // new to this chain, so that a damaged chain never draws another value's block in.
    const uint32_t old_next = block->header.next;
    TBlock* following = nullptr;
    if (old_next != 0) {
      if (!IsBlockOffset(old_next) || seen.count(old_next) != 0) RaiseData(kErrBlobBufferCorrupt);
      const int64_t old_left = std::max<int64_t>(old_length - position, payload);
      following =
          GetBlock(old_next, true, static_cast<uint32_t>((old_left + payload - 1) / payload));
      if (following == nullptr) RaiseData(kErrBlobBufferCorrupt);
      if (following->header.owner_record != record) {
        Unpin(following);
        RaiseData(kErrBlobBufferCorrupt);
      }
    } else {
      // A damaged free chain may lead back into this chain: such a block is not free.
      if (seen.count(FreeHead()) != 0) RaiseData(kErrBlobBufferCorrupt);
      following = AllocateBlock();
    }
    seen.insert(following->Offset());
    block->header.next = following->Offset();
    following->header.previous = block->Offset();
    following->header.owner_record = record;
    following->header.total_length = 0;
    following->SetDirty(true);
    block.Reset(following);
  }
  if (position < size) RaiseData(kErrEndOfBlob);
  if (const uint32_t rest = block->header.next; rest != 0) {
    const int64_t old_left = std::max<int64_t>(old_length - position, 1);
    FreeChain(rest, record, static_cast<uint32_t>((old_left + payload - 1) / payload));
    block->header.next = 0;
    block->SetDirty(true);
  }
  buffer.modified = false;
}

void TBlobFile::FreeValue(TBlobBuffer& buffer) {
  if (buffer.first_block == 0) return;
  FreeChain(buffer.first_block, buffer.record_number, 0);
  buffer.first_block = 0;
}

void TBlobFile::FreeChain(uint32_t first, uint32_t record, uint32_t wanted) {
  // Walk and check the whole chain before releasing anything: a loop or a block of another
  // record found half-way must leave the free chain as it was.
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  for (uint32_t offset = first; offset != 0;) {
    if (!IsBlockOffset(offset) || !seen.insert(offset).second) Fail(kErrInvalidBlobOffset);
    const uint32_t left = wanted > chain.size() ? wanted - static_cast<uint32_t>(chain.size()) : 1;
    PinnedBlock block(GetBlock(offset, true, left));
    if (!block) RaiseData(kErrBlobBufferCorrupt);
    if (block->header.owner_record != record) Fail(kErrInvalidBlobOffset);
    if (chain.empty() && wanted == 0) {
      wanted = static_cast<uint32_t>((uint64_t{block->header.total_length} + PayloadSize() - 1) /
                                     PayloadSize());
    }
    chain.push_back(offset);
    offset = block->header.next;
  }
  for (const uint32_t offset : chain) {
    PinnedBlock block(GetBlock(offset, false, 1));
    if (!block) RaiseData(kErrBlobBufferCorrupt);
    ReleaseBlock(block.get());
  }
}

// ---- Cache -----------------------------------------------------------------------------------

void TBlobFile::Touch(CacheList::iterator it) {
  if (it != cache_.begin()) cache_.splice(cache_.begin(), cache_, it);
}

void TBlobFile::Pin(TBlock* block) {
  if (!block->TryPin()) RaiseData(kErrBlobBufferCorrupt);
}

TBlobFile::CacheList::iterator TBlobFile::FindEvictable() {
  for (auto it = cache_.end(); it != cache_.begin();) {
    --it;
    const TBlock* block = it->get();
    if (!block->Dirty() && block->PinCount() == 0 && !block->marked) return it;
  }
  return cache_.end();
}

TBlock* TBlobFile::TakeSlot(bool may_raise) {
  if (cache_.size() < capacity_) {
    auto block = std::make_unique<TBlock>();
    block->payload.assign(PayloadSize(), 0);
    block->SetLedger(&ledger_);
    cache_.push_front(std::move(block));
    return cache_.front().get();
  }
  auto victim = FindEvictable();
  if (victim == cache_.end() && !owner_.InExclusivePhase()) {
    FlushDirtyBlocks();
    victim = FindEvictable();
  }
  if (victim == cache_.end()) {
    if (!owner_.InExclusivePhase()) {
      if (may_raise) RaiseData(kErrBlobBufferCorrupt);
      return nullptr;
    }
    // Nothing may reach the disk before commit: the cache grows instead.
    capacity_ += kCacheGrowth;
    return TakeSlot(may_raise);
  }
  TBlock* block = victim->get();
  if (block->Offset() != 0) cache_index_.Erase(block->Offset());
  ClearBlock(block);
  Touch(victim);
  return block;
}

TBlock* TBlobFile::NewBlockAtEnd() {
  const uint32_t end = EndOffset();
  if (end > kMaxBlobFileOffset) RaiseData(kErrDataFileFull);
  if (auto* stale = cache_index_.Find(end)) {
    // A block cached beyond the end of the file cannot hold anything still wanted.
    ClearBlock((*stale)->get());
    cache_index_.Erase(end);
  }
  TBlock* block = TakeSlot(true);  // at the front of the cache
  block->SetOffset(end);
  cache_index_.Insert(end, cache_.begin());
  Pin(block);
  SetEndOffset(end + block_size_);
  return block;
}

TBlock* TBlobFile::GetBlock(uint32_t offset, bool read_ahead, uint32_t wanted) {
  if (!IsBlockOffset(offset)) RaiseData(kErrBlobBufferCorrupt);
  if (auto* it = cache_index_.Find(offset)) {
    TBlock* block = (*it)->get();
    Pin(block);
    Touch(*it);
    return block;
  }
  if (!owner_.StrictChangeDetection() && owner_.TakeBlobReadLevel()) return nullptr;
  uint32_t count = 1;
  if (read_ahead) {
    count = std::min(
        {read_ahead_limit_, std::max<uint32_t>(wanted, 1), (EndOffset() - offset) / block_size_});
    count = std::max<uint32_t>(count, 1);
  }
  ReadBlocks(offset, count);
  auto* it = cache_index_.Find(offset);
  if (it == nullptr) RaiseData(kErrBlobBufferCorrupt);
  TBlock* block = (*it)->get();
  Pin(block);
  Touch(*it);
  return block;
}

void TBlobFile::LoadBlock(TBlock* block, const uint8_t* image) {
  uint8_t header[kBlockHeaderSize];
  std::memcpy(header, image, kBlockHeaderSize);
  std::memcpy(block->payload.data(), image + kBlockHeaderSize, PayloadSize());
  if (owner_.Encrypted()) {
    DecipherBuffer(header, kBlockHeaderSize, kDataKeyA, kDataKeyB);
    DecipherBuffer(block->payload.data(), PayloadSize(), kDataKeyA, kDataKeyB);
  }
  block->header = DecodeBlockHeader(header);
  block->SetDirty(false);
}

void TBlobFile::StoreBlock(const TBlock* block, uint8_t* image) const {
  EncodeBlockHeader(block->header, image);
  std::memcpy(image + kBlockHeaderSize, block->payload.data(), PayloadSize());
  if (owner_.Encrypted()) {
    EncipherBuffer(image, kBlockHeaderSize, kDataKeyA, kDataKeyB);
    EncipherBuffer(image + kBlockHeaderSize, PayloadSize(), kDataKeyA, kDataKeyB);
  }
}

void TBlobFile::ReadBlocks(uint32_t offset, uint32_t count, bool prefetch) {
  // Kept between reads (at most the read-ahead limit's bytes), as are the blocks placed.
  std::vector<uint8_t>& image = read_image_;
  image.resize(static_cast<size_t>(count) * block_size_);
  // Blocks appended inside a transaction (or on an exclusive file) may not be on disk yet.
  const bool allow_short = prefetch || Exclusive() || owner_.InExclusivePhase();
  int32_t got = count == 1 ? ReadThroughGroups(offset, image.data()) : 0;
  if (got == 0) got = ReadAt(offset, image.data(), static_cast<int32_t>(image.size()), allow_short);
  const uint32_t whole = static_cast<uint32_t>(got) / block_size_;
  std::vector<TBlock*>& placed = read_placed_;
  placed.clear();
  // The requested block first: the read-ahead blocks only take slots that are to be had.
  for (uint32_t i = 0; i < whole; ++i) {
    const uint32_t at = offset + i * block_size_;
    const uint8_t* source = image.data() + static_cast<size_t>(i) * block_size_;
    TBlock* block = nullptr;
    if (auto* it = cache_index_.Find(at)) {
      block = (*it)->get();
      if (block->PinCount() == 0 && !block->Dirty()) LoadBlock(block, source);
    } else {
      block = TakeSlot(i == 0 && !prefetch);
      if (block == nullptr) break;
      block->SetOffset(at);
      cache_index_.Insert(at, cache_.begin());
      LoadBlock(block, source);
    }
    block->marked = true;
    placed.push_back(block);
  }
  for (TBlock* block : placed) block->marked = false;
}

int32_t TBlobFile::ReadThroughGroups(uint32_t offset, uint8_t* image) {
  if (groups_.GroupUnits() == 0 || !IsBlockOffset(offset)) return 0;
  const uint32_t number = UnitOf(offset);
  if (groups_.Copy(number, image)) return static_cast<int32_t>(block_size_);
  // Neighbours only under the reader byte (which keeps writers out and whose change check
  // vouches for every block below the end offset), outside a write and outside an exclusive
  // handle or phase, whose blocks may not all be on disk yet.
  if (!read_lock_.Locked() || write_lock_.Locked() || Exclusive() || InMemory() ||
      owner_.InExclusivePhase()) {
    return 0;
  }
  const uint32_t units = UnitOf(EndOffset()) - 1;
  const bool read = groups_.ReadSpanThrough(
      number, units, image, [&](uint32_t first, uint32_t count, uint8_t* room) {
        const int32_t got = ReadAt(kBlobHeaderSize + int64_t{first - 1} * block_size_, room,
                                   static_cast<int32_t>(count * block_size_), /*allow_short=*/true);
        return static_cast<uint32_t>(got) / block_size_;
      });
  return read ? static_cast<int32_t>(block_size_) : 0;
}

uint32_t TBlobFile::MissingBlock(uint32_t first_block, uint32_t record, uint32_t& left) const {
  left = 0;
  if (!IsBlockOffset(first_block)) return 0;
  auto* it = cache_index_.Find(first_block);
  if (it == nullptr) {
    left = 1;
    return first_block;
  }
  const TBlock* block = (*it)->get();
  const int64_t size = block->header.total_length;
  const uint32_t payload = PayloadSize();
  int64_t position = 0;
  // More steps than cached blocks is a loop: damage, which the load reports.
  for (size_t steps = 0; steps < cache_.size(); ++steps) {
    if (block->header.owner_record != record) return 0;
    position += payload;
    const uint32_t next = block->header.next;
    if (position >= size || next == 0 || !IsBlockOffset(next)) return 0;
    it = cache_index_.Find(next);
    if (it == nullptr) {
      left = static_cast<uint32_t>(
          std::min<int64_t>((size - position + payload - 1) / payload, read_ahead_limit_));
      return next;
    }
    block = (*it)->get();
  }
  return 0;
}

bool TBlobFile::ValueCached(uint32_t first_block, uint32_t record) const {
  uint32_t left = 0;
  return MissingBlock(first_block, record, left) == 0;
}

void TBlobFile::PrefetchBlocks(std::vector<uint32_t>& offsets) {
  size_t budget = capacity_ / 2;
  auto read = [&](std::vector<uint32_t>& wanted) {
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::erase_if(wanted, [this](uint32_t offset) {
      return !IsBlockOffset(offset) || cache_index_.Contains(offset);
    });
    if (wanted.size() > budget) wanted.resize(budget);
    budget -= wanted.size();
    for (uint32_t offset : wanted) groups_.Prefetch(UnitOf(offset));
    for (size_t i = 0; i < wanted.size();) {
      size_t run = 1;
      while (i + run < wanted.size() && run < read_ahead_limit_ &&
             wanted[i + run] == wanted[i] + run * block_size_) {
        ++run;
      }
      ReadBlocks(wanted[i], static_cast<uint32_t>(run), true);
      i += run;
    }
  };
  // The whole chain of each value, not its first block alone: a later block read under another
  // level could already belong to a value written since into the record's freed blocks.  A chain
  // usually runs on in adjacent blocks, so its missing rest is guessed to lie there.
  std::vector<uint32_t>& firsts = chain_firsts_;
  firsts.assign(offsets.begin(), offsets.end());
  read(offsets);
  std::vector<uint32_t>& rest = chain_offsets_;
  while (budget > 0) {
    rest.clear();
    for (uint32_t first : firsts) {
      if (!cache_index_.Contains(first)) continue;
      uint32_t left = 0;
      const uint32_t missing =
          MissingBlock(first, (*cache_index_.Find(first))->get()->header.owner_record, left);
      for (uint32_t i = 0; missing != 0 && i < left; ++i) rest.push_back(missing + i * block_size_);
    }
    if (rest.empty()) break;
    const uint32_t next_missing = rest.front();
    read(rest);
    if (!cache_index_.Contains(next_missing)) break;  // no room: the rest is read when loaded
  }
}

bool TBlobFile::FlushDirtyBlocks() {
  std::vector<TBlock*> dirty = ledger_.DirtyEntries<TBlock>([](const TBlock& block) {
    return block.PinCount() == 0 && !block.marked && block.Offset() != 0;
  });
  if (dirty.empty()) return false;
  try {
    WriteBackRuns(
        std::move(dirty), block_size_,
        [this](const TBlock& block, uint8_t* image) { StoreBlock(&block, image); },
        [this](uint32_t offset, const uint8_t* images, size_t length) {
          // Before the write: a failed write may have changed some of the bytes on disk.
          groups_.Forget(UnitOf(offset), static_cast<uint32_t>(length / block_size_));
          WriteAt(offset, images, static_cast<int32_t>(length));
        });
  } catch (...) {
    ledger_.SweepDirty();
    throw;
  }
  ledger_.SweepDirty();
  return true;
}

void TBlobFile::EmptyCache() {
  ledger_.Clear();
  cache_.clear();
  cache_index_.Clear();
  groups_.Configure(block_size_);
  capacity_ = base_capacity_;
}

void TBlobFile::InvalidateCache() {
  for (auto& block : cache_) ClearBlock(block.get());
  ledger_.Clear();
  cache_index_.Clear();
  groups_.Clear();
}

void TBlobFile::UnpinAll() { ledger_.UnpinAll(); }

void TBlobFile::ShrinkCache() {
  capacity_ = base_capacity_;
  while (cache_.size() > capacity_) {
    auto it = cache_.end();
    bool removed = false;
    while (it != cache_.begin()) {
      --it;
      TBlock* block = it->get();
      if (!block->Dirty() && block->PinCount() == 0 && !block->marked) {
        if (block->Offset() != 0) cache_index_.Erase(block->Offset());
        cache_.erase(it);
        removed = true;
        break;
      }
    }
    if (!removed) break;
  }
}

// ---- Locks -----------------------------------------------------------------------------------

bool TBlobFile::WriteLock() {
  if (!write_lock_.Locked()) {
    write_lock_ = TRangeLock(*this, {kWriteRegionOffset, kWriteRegionLength}, lock_retry_);
  }
  return write_lock_.Locked();
}

bool TBlobFile::WriteUnlock() { return write_lock_.Unlock(); }

bool TBlobFile::ReadLock() {
  if (!read_lock_.Locked()) {
    read_lock_ = TRangeLock(
        *this,
        [] {
          return TLockRange{kReaderByteTop - RandomReaderByte(), 1};
        },
        lock_retry_);
  }
  return read_lock_.Locked();
}

bool TBlobFile::ReadUnlock() { return read_lock_.Unlock(); }

}  // namespace tessera
