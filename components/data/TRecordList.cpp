#include "components/data/TRecordList.h"

#include <algorithm>

namespace comp {

TRecordList::TRecordList(const std::vector<TStoredRecord*>& records) {
  for (size_t i = 0; i < records.size(); i += kMaxChunk / 2) {
    size_t end = std::min(records.size(), i + kMaxChunk / 2);
    chunks_.emplace_back(records.begin() + static_cast<std::ptrdiff_t>(i),
                         records.begin() + static_cast<std::ptrdiff_t>(end));
  }
  count_ = records.size();
  Renumber(0);
}

void TRecordList::Renumber(size_t from_chunk) {
  starts_.resize(chunks_.size());
  size_t position = from_chunk == 0 ? 0 : starts_[from_chunk - 1] + chunks_[from_chunk - 1].size();
  for (size_t c = from_chunk; c < chunks_.size(); ++c) {
    starts_[c] = position;
    position += chunks_[c].size();
  }
}

size_t TRecordList::Locate(size_t position, size_t& offset) const {
  size_t c = last_chunk_;
  if (!(c < chunks_.size() && position >= starts_[c] &&
        position < starts_[c] + chunks_[c].size())) {
    c = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), position) -
                            starts_.begin());
    c = c == 0 ? 0 : c - 1;
    last_chunk_ = c;
  }
  offset = position - starts_[c];
  return c;
}

TStoredRecord* TRecordList::operator[](size_t index) const {
  size_t offset = 0;
  size_t c = Locate(index, offset);
  return chunks_[c][offset];
}

void TRecordList::Insert(size_t position, TStoredRecord* record) {
  if (chunks_.empty()) {
    chunks_.emplace_back(1, record);
    starts_.assign(1, 0);
    count_ = 1;
    return;
  }
  size_t offset = 0;
  size_t c = position >= count_ ? chunks_.size() - 1 : Locate(position, offset);
  if (position >= count_) offset = chunks_[c].size();
  std::vector<TStoredRecord*>& chunk = chunks_[c];
  chunk.insert(chunk.begin() + static_cast<std::ptrdiff_t>(offset), record);
  ++count_;
  if (chunk.size() > kMaxChunk) {
    std::vector<TStoredRecord*> upper(chunk.begin() + kMaxChunk / 2, chunk.end());
    chunk.resize(kMaxChunk / 2);
    chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(c) + 1, std::move(upper));
  }
  Renumber(c);
}

void TRecordList::Erase(size_t position) {
  size_t offset = 0;
  size_t c = Locate(position, offset);
  std::vector<TStoredRecord*>& chunk = chunks_[c];
  chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(offset));
  --count_;
  if (chunk.empty()) chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(c));
  last_chunk_ = 0;
  Renumber(c);
}

void TRecordList::Remove(const TStoredRecord* record) {
  for (int at = IndexOf(record); at >= 0; at = IndexOf(record)) Erase(static_cast<size_t>(at));
}

void TRecordList::Clear() {
  chunks_.clear();
  starts_.clear();
  count_ = 0;
  last_chunk_ = 0;
}

int TRecordList::IndexOf(const TStoredRecord* record) const {
  for (size_t c = 0; c < chunks_.size(); ++c) {
    auto it = std::find(chunks_[c].begin(), chunks_[c].end(), record);
    if (it != chunks_[c].end()) return static_cast<int>(starts_[c] + (it - chunks_[c].begin()));
  }
  return -1;
}

TRecordList TRecordList::Slice(size_t first, size_t last) const {
  std::vector<TStoredRecord*> records;
  records.reserve(last > first ? last - first : 0);
  for (size_t i = first; i < last; ++i) records.push_back((*this)[i]);
  return TRecordList(records);
}

std::vector<TStoredRecord*> TRecordList::ToVector() const {
  std::vector<TStoredRecord*> records;
  records.reserve(count_);
  for (const auto& chunk : chunks_) records.insert(records.end(), chunk.begin(), chunk.end());
  return records;
}

}  // namespace comp
