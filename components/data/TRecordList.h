// TRecordList: the in-memory dataset's list of record pointers (all records, a range, a filter,
// a maintained index).
//
// A sorted list takes records anywhere, so a flat array would move half of its pointers on
// every insertion.  The list is cut into chunks of at most kMaxChunk pointers: an insertion or
// removal moves the pointers of one chunk and renumbers the chunk starts.  Positions are global
// (0 .. size() - 1); reading one finds its chunk by a binary search of the starts, or at once
// when it is in the chunk read last (a walk through the list).
//
// Not thread-safe (the last-read cache changes on reads); GUI thread only, as the dataset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace comp {

struct TStoredRecord;

class TRecordList {
 public:
  TRecordList() = default;
  explicit TRecordList(const std::vector<TStoredRecord*>& records);

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // REQUIRES: index < size().
  TStoredRecord* operator[](size_t index) const;

  // REQUIRES: position <= size().
  void Insert(size_t position, TStoredRecord* record);
  void PushBack(TStoredRecord* record) { Insert(count_, record); }
  // REQUIRES: position < size().
  void Erase(size_t position);
  // Takes every occurrence of `record` out.
  void Remove(const TStoredRecord* record);
  void Clear();
  // The first position of `record`, or -1.
  int IndexOf(const TStoredRecord* record) const;

  // The first position whose record is not `before` (size() when all are), for a predicate that
  // holds for a prefix of the list: a binary search over the chunks, then inside one.
  template <class Before>
  size_t PartitionPoint(Before before) const {
    size_t low = 0;
    size_t high = chunks_.size();
    while (low < high) {
      size_t middle = low + (high - low) / 2;
      if (before(chunks_[middle].back())) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    if (low == chunks_.size()) return count_;
    const std::vector<TStoredRecord*>& chunk = chunks_[low];
    size_t inside = 0;
    size_t end = chunk.size();
    while (inside < end) {
      size_t middle = inside + (end - inside) / 2;
      if (before(chunk[middle])) {
        inside = middle + 1;
      } else {
        end = middle;
      }
    }
    return starts_[low] + inside;
  }

  // The records [first, last) as a new list.
  TRecordList Slice(size_t first, size_t last) const;
  std::vector<TStoredRecord*> ToVector() const;

  class const_iterator {
   public:
    const_iterator(const TRecordList* list, size_t chunk, size_t offset)
        : list_(list), chunk_(chunk), offset_(offset) {}
    TStoredRecord* operator*() const { return list_->chunks_[chunk_][offset_]; }
    const_iterator& operator++() {
      if (++offset_ == list_->chunks_[chunk_].size()) {
        ++chunk_;
        offset_ = 0;
      }
      return *this;
    }
    bool operator!=(const const_iterator& other) const {
      return chunk_ != other.chunk_ || offset_ != other.offset_;
    }

   private:
    const TRecordList* list_;
    size_t chunk_;
    size_t offset_;
  };
  const_iterator begin() const { return const_iterator(this, 0, 0); }
  const_iterator end() const { return const_iterator(this, chunks_.size(), 0); }

  static constexpr size_t kMaxChunk = 512;

 private:
  // The chunk holding `position` (position == size() gives the last chunk); sets `offset`.
  size_t Locate(size_t position, size_t& offset) const;
  void Renumber(size_t from_chunk);

  std::vector<std::vector<TStoredRecord*>> chunks_;  // never an empty chunk
  std::vector<size_t> starts_;                       // global position of each chunk's first
  size_t count_ = 0;
  mutable size_t last_chunk_ = 0;
};

}  // namespace comp
