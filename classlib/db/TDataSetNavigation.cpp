// TDataSet: the buffer window, navigation, resynchronisation, bookmarks, locate and lookup.
//
// The window is Buffers(0 .. RecordCountInBuffers() - 1), consecutive records in cursor order;
// the buffer after them is the spare that fetches fill.  Moving past an edge fetches one record
// and rotates the buffers, so a full window slides by one and its first buffer is reused.
#include <algorithm>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"

namespace cl {

// ---- window primitives -------------------------------------------------------------------------

TRecordBuffer TDataSet::ActiveBuffer() const {
  size_t index = static_cast<size_t>(active_record_);
  return index < buffers_.size() ? buffers_[index] : nullptr;
}

TRecordBuffer TDataSet::TempBuffer() const {
  size_t index = static_cast<size_t>(record_count_);
  return index < buffers_.size() ? buffers_[index] : nullptr;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto first = buffers_.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else {
    std::rotate(first + to, first + from, first + from + 1);
  }
}

void TDataSet::SetBufListSize(int size) {
  size_t wanted = static_cast<size_t>(std::max(size, 0));
  if (wanted == buffers_.size()) return;
  if (wanted < buffers_.size()) {
    while (buffers_.size() > wanted) {
      FreeRecordBuffer(buffers_.back());
      buffers_.pop_back();
    }
    return;
  }
  size_t had = buffers_.size();
  try {
    while (buffers_.size() < wanted) {
      buffers_.push_back(nullptr);
      buffers_.back() = AllocRecordBuffer();
    }
  } catch (...) {
    while (buffers_.size() > had) {
      if (buffers_.back() != nullptr) FreeRecordBuffer(buffers_.back());
      buffers_.pop_back();
    }
    throw;
  }
}

void TDataSet::UpdateBufferCount() {
  if (!cursor_open_) return;
  int wanted = 1;
  for (TDataSource* source : data_sources_) {
    for (TDataLink* link : source->data_links_) wanted = std::max(wanted, link->buffer_count_);
  }
  SetBufferCount(wanted);
}

void TDataSet::SetBufferCount(int value) {
  if (value == buffer_count_) return;
  auto shift_links = [this](int delta) {
    if (delta == 0) return;
    for (TDataSource* source : data_sources_) {
      for (TDataLink* link : source->data_links_) {
        if (link->active_) link->first_record_ += delta;
      }
    }
  };
  if (value < buffer_count_ && record_count_ > 0) {
    // Keep the active record and the first rows of every link inside the smaller window.
    int delta = active_record_;
    for (TDataSource* source : data_sources_) {
      for (TDataLink* link : source->data_links_) {
        if (link->active_ && link->first_record_ < delta) delta = link->first_record_;
      }
    }
    for (int i = 0; i < value; ++i) MoveBuffer(i + delta, i);
    active_record_ -= delta;
    record_count_ = std::min(record_count_ - delta, value);
    if (current_record_ != -1) {
      current_record_ -= delta;
      if (current_record_ < 0 || current_record_ >= record_count_) current_record_ = -1;
    }
    shift_links(-delta);
  }
  SetBufListSize(value + 1);
  buffer_count_ = value;
  GetNextRecords();
  shift_links(GetPriorRecords());
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer buffer = buffers_[static_cast<size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    // A posted insert whose buffer already shows the stored record: the cursor is on it.
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
      mode = gmCurrent;
    }
  }
  bool got = FetchRecord(TempBuffer(), mode, true) == grOK;
  if (got) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else if (record_count_ < buffer_count_) {
      ++record_count_;
    } else {
      MoveBuffer(0, record_count_);
    }
    current_record_ = record_count_ - 1;
  } else {
    CursorPosChanged();
  }
  return got;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool got = FetchRecord(TempBuffer(), gmPrior, true) == grOK;
  if (got) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(record_count_, 0);
      if (record_count_ < buffer_count_) {
        ++record_count_;
        ++active_record_;
      }
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return got;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++count;
  return count;
}

// ---- navigation --------------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  Fire(before_scroll_);
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
  Fire(after_scroll_);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(before_scroll_);
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  Fire(after_scroll_);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  Fire(before_scroll_);
  if (!((distance > 0 && !eof_) || (distance < 0 && !bof_))) return 0;
  bof_ = false;
  eof_ = false;
  int shift = 0;
  auto finish = [&] { DataEvent(deDataSetScroll, shift); };
  try {
    while (distance > 0) {
      if (active_record_ < record_count_ - 1) {
        ++active_record_;
      } else {
        int slides = record_count_ < buffer_count_ ? 0 : 1;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        shift -= slides;
        if (active_record_ < record_count_ - 1) ++active_record_;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (active_record_ > 0) {
        --active_record_;
      } else {
        int slides = record_count_ < buffer_count_ ? 0 : 1;
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        shift += slides;
        if (active_record_ > 0) --active_record_;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  Fire(after_scroll_);
  return moved;
}

int TDataSet::RecordCount() {
  CheckActive();
  return GetRecordCount();
}

int TDataSet::RecNo() {
  CheckActive();
  return GetRecNo();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(TResyncMode{});
}

void TDataSet::Resync(TResyncMode mode) {
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (FetchRecord(TempBuffer(), gmCurrent, true) != grOK) DatabaseError(SRecordNotFound);
  } else if (FetchRecord(TempBuffer(), gmCurrent, false) != grOK &&
             FetchRecord(TempBuffer(), gmNext, false) != grOK &&
             FetchRecord(TempBuffer(), gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  int before = mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  DataEvent(deDataSetChange);
}

// ---- bookmarks ---------------------------------------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  TBookmark bookmark;
  if ((state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
      GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
    GetBookmarkData(ActiveBuffer(), bookmark);
  }
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  Fire(before_scroll_);
  InternalGotoBookmark(bookmark);
  Resync(TResyncMode{rmExact, rmCenter});
  Fire(after_scroll_);
}

// ---- locate and lookup -------------------------------------------------------------------------

bool TDataSet::Locate(std::string_view key_fields, const Variant& key_values,
                      TLocateOptions options) {
  CheckBrowseMode();
  Fire(before_scroll_);
  bool found = LocateRecord(key_fields, key_values, options, true);
  if (found) {
    Resync(TResyncMode{rmExact, rmCenter});
    Fire(after_scroll_);
  }
  return found;
}

Variant TDataSet::Lookup(std::string_view key_fields, const Variant& key_values,
                         std::string_view result_fields) {
  CheckActive();
  return LookupValues(key_fields, key_values, result_fields);
}

}  // namespace cl
