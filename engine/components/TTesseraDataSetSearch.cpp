// TTesseraDataSet: key buffers, ranges, the index switch, Locate and Lookup, FindFirst..FindLast
// and the filters behind Filter, FilterOptions, Filtered and OnFilterRecord.
#include <algorithm>
#include <array>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "engine/components/TFilterExpr.h"
#include "engine/components/TTesseraDataSet.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

using namespace cl;

// The filter state over `record` for one scope, left on every exit.
class TTesseraDataSet::FilterStateScope {
 public:
  FilterStateScope(TTesseraDataSet* dataset, const uint8_t* record)
      : dataset_(dataset), saved_record_(dataset->filter_record_) {
    old_state_ = dataset->SetTempState(dsFilter);
    dataset->filter_record_ = record;
  }
  ~FilterStateScope() {
    dataset_->filter_record_ = saved_record_;
    dataset_->RestoreState(old_state_);
  }
  FilterStateScope(const FilterStateScope&) = delete;
  FilterStateScope& operator=(const FilterStateScope&) = delete;

 private:
  TTesseraDataSet* dataset_;
  const uint8_t* saved_record_;
  TDataSetState old_state_;
};

// The dataset's filters switched on for one search of an unfiltered dataset, and off again on
// every exit, so that a failing search never leaves a filter working behind the user's back.
class TTesseraDataSet::TemporaryFilters {
 public:
  TemporaryFilters(TTesseraDataSet* dataset, bool activate) : dataset_(dataset) {
    if (!activate) return;
    dataset->ActivateFilters();
    for (TFilter* filter : {dataset->text_filter_, dataset->callback_filter_}) {
      if (filter != nullptr) activated_.push_back(filter);
    }
  }
  ~TemporaryFilters() {
    for (TFilter* filter : activated_) {
      try {
        Check(dataset_->handle_->DeactivateFilter(filter));
      } catch (...) {
        Application().HandleException(dataset_);
      }
    }
  }
  TemporaryFilters(const TemporaryFilters&) = delete;
  TemporaryFilters& operator=(const TemporaryFilters&) = delete;

 private:
  TTesseraDataSet* dataset_;
  std::vector<TFilter*> activated_;
};

namespace {

// A filter of `file` dropped when the scope ends, however it ends.
class DroppedFilter {
 public:
  explicit DroppedFilter(TDataFile& file) : file_(file) {}
  ~DroppedFilter() {
    // Only this scope knows the handle, and dropping a valid handle of its own table cannot
    // fail; the code is not needed.
    if (filter != nullptr) file_.DropFilter(filter);
  }
  DroppedFilter(const DroppedFilter&) = delete;
  DroppedFilter& operator=(const DroppedFilter&) = delete;

  TFilter* filter = nullptr;

 private:
  TDataFile& file_;
};

std::vector<Variant> ValueList(const Variant& values, size_t count) {
  std::vector<Variant> list;
  if (values.IsArray()) {
    list = values.Elements();
  } else {
    list.push_back(values);
  }
  if (list.size() < count) DatabaseError(SFieldIndexError);
  return list;
}

bool IsStringField(const TField* field) { return field->DataType() == ftString; }

}  // namespace

// ---- key buffers -------------------------------------------------------------------------------

void TTesseraDataSet::SetKeyBuffer(TKeyIndex key, bool clear) {
  CheckBrowseMode();
  key_edit_ = key;
  key_edit_buffer_ = KeyBuffer(key);
  std::memcpy(KeyBuffer(kiSave), key_edit_buffer_,
              static_cast<size_t>(kKeyHeaderSize + record_size_));
  if (clear) InitKeyBuffer(key);
  SetState(dsSetKey);
  DataEvent(deDataSetChange);
}

void TTesseraDataSet::FinishKeyEdit(bool post) {
  if (key_edit_buffer_ != nullptr) {
    if (post) {
      key_edit_buffer_[0] = 1;
    } else {
      std::memcpy(key_edit_buffer_, KeyBuffer(kiSave),
                  static_cast<size_t>(kKeyHeaderSize + record_size_));
    }
  }
  TDataSet::FinishKeyEdit(post);
}

void TTesseraDataSet::SetKeyFields(TKeyIndex key, const std::vector<Variant>& values, int count) {
  if (index_.field_count == 0) DatabaseError(SNoFieldIndexes);
  if (count < 0 || count >= index_.field_count || static_cast<size_t>(count) >= values.size()) {
    DatabaseError(SFieldIndexError);
  }
  std::vector<TField*> fields;
  for (int i = 0; i <= count; ++i) {
    TField* field = FieldByNumber(index_.field_numbers[i]);
    if (field == nullptr) {
      const TFieldDefinition& d =
          handle_->GetFieldDefinition(TFieldSet::kWorking, index_.field_numbers[i]);
      DatabaseErrorFmt(SIndexFieldMissing, {d.name});
    }
    fields.push_back(field);
  }
  uint8_t* saved_buffer = key_edit_buffer_;
  TDataSetState old = SetTempState(dsSetKey);
  key_edit_buffer_ = KeyBuffer(key);
  try {
    InitKeyBuffer(key);
    for (int i = 0; i <= count; ++i) fields[static_cast<size_t>(i)]->SetAsVariant(values[i]);
    PutI32LE(key_edit_buffer_ + 4, count + 1);
    key_edit_buffer_[0] = 1;
  } catch (...) {
    key_edit_buffer_ = saved_buffer;
    RestoreState(old);
    throw;
  }
  key_edit_buffer_ = saved_buffer;
  RestoreState(old);
}

std::vector<uint8_t> TTesseraDataSet::BuildKeyOf(const uint8_t* record) {
  std::vector<uint8_t> key(kMaxKeyLength);
  handle_->BuildKey(record, key.data());
  return key;
}

// ---- ranges ------------------------------------------------------------------------------------

bool TTesseraDataSet::ApplyKeyRange() {
  auto size = static_cast<size_t>(kKeyHeaderSize + record_size_);
  if (std::memcmp(KeyBuffer(kiRangeStart), KeyBuffer(kiCurRangeStart), size) == 0 &&
      std::memcmp(KeyBuffer(kiRangeEnd), KeyBuffer(kiCurRangeEnd), size) == 0) {
    return false;
  }
  std::vector<uint8_t> low;
  std::vector<uint8_t> high;
  if (KeyModified(kiRangeStart)) low = BuildKeyOf(KeyRecord(kiRangeStart));
  if (KeyModified(kiRangeEnd)) high = BuildKeyOf(KeyRecord(kiRangeEnd));
  handle_->SetRange(
      true, low.empty() ? nullptr : low.data(), static_cast<uint8_t>(KeyFieldCount(kiRangeStart)),
      high.empty() ? nullptr : high.data(), static_cast<uint8_t>(KeyFieldCount(kiRangeEnd)));
  std::memcpy(KeyBuffer(kiCurRangeStart), KeyBuffer(kiRangeStart), size);
  std::memcpy(KeyBuffer(kiCurRangeEnd), KeyBuffer(kiRangeEnd), size);
  ReleaseCloneHandle();
  return true;
}

bool TTesseraDataSet::CancelKeyRange() {
  if (!KeyModified(kiCurRangeStart) && !KeyModified(kiCurRangeEnd)) return false;
  handle_->ResetRange();
  auto size = static_cast<size_t>(kKeyHeaderSize + record_size_);
  std::memset(KeyBuffer(kiCurRangeStart), 0, size);
  std::memset(KeyBuffer(kiCurRangeEnd), 0, size);
  ReleaseCloneHandle();
  return true;
}

void TTesseraDataSet::SwitchToIndex(const std::string& name) {
  bool ranged = CancelKeyRange();
  UpdateCursorPos();
  try {
    handle_->SetCurrentIndexByName(std::string_view(name).substr(0, 255));
  } catch (...) {
    // A name the table lacks leaves the open dataset as it was: its range back (the range
    // buffers still hold it), the engine on the record the dataset shows.
    if (ranged) {
      ApplyKeyRange();
      UpdateCursorPos();
    }
    throw;
  }
  index_ = TIndexDescription{};
  // Bookmarks are keys of the current index: the window is rebuilt for the new key length.
  ClearBuffers();
  SetBufListSize(0);
  int bookmark_size = handle_->GetCurrentKeyLength();
  SetBookmarkSize(bookmark_size);
  buffer_size_ = BookmarkOffset() + bookmark_size;
  SetBufListSize(BufferCount() + 1);
  ReadIndexDescription();
}

// ---- locate, lookup, find ----------------------------------------------------------------------

bool TTesseraDataSet::SeekOnHandle(TDataFile& handle, const std::vector<TField*>& fields,
                                   const std::vector<Variant>& values, TLocateOptions options,
                                   uint8_t* work) {
  size_t partial_length = 0;
  size_t exact_fields = fields.size();
  {
    FilterStateScope scope(this, work);
    handle.ApplyFieldDefaults(work);
    for (size_t i = 0; i < fields.size(); ++i) {
      if (values[i].IsNull() || values[i].IsEmpty()) {
        fields[i]->Clear();
      } else {
        fields[i]->SetAsVariant(values[i]);
      }
    }
    if (options.Contains(loPartialKey) && IsStringField(fields.back()) && !values.back().IsNull() &&
        !values.back().IsEmpty()) {
      partial_length = std::min<size_t>(values.back().AsString().size(), 255);
      --exact_fields;
    }
  }
  handle.RefreshFromDisk();
  return handle.SeekRecordKey(false, work, nullptr, static_cast<uint8_t>(partial_length), false,
                              static_cast<uint8_t>(exact_fields));
}

bool TTesseraDataSet::SeekWithFilter(const std::vector<TField*>& fields,
                                     const std::vector<Variant>& values, TLocateOptions options,
                                     uint8_t* work) {
  DroppedFilter filter(*handle_);
  Variant list = fields.size() == 1 ? values[0] : Variant::Array(values);
  Check(MakeLocateFilter(*handle_, *this, fields, list, options, &filter.filter));
  Check(handle_->ActivateFilter(filter.filter));
  // Activation puts the cursor back on its record; the search starts before the first.
  handle_->MoveToBeginning();
  return handle_->GetNextRecord(work) == 0;
}

bool TTesseraDataSet::DoLocate(std::string_view key_fields, const Variant& key_values,
                               TLocateOptions options, uint8_t* work) {
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  if (fields.empty()) return false;
  std::vector<Variant> values = ValueList(key_values, fields.size());
  values.resize(fields.size());
  // Case and partial options mean something for text only.
  bool any_string = std::any_of(fields.begin(), fields.end(), IsStringField);
  if (!any_string) {
    options.Exclude(loCaseInsensitive);
    options.Exclude(loPartialKey);
  }
  bool case_insensitive = options.Contains(loCaseInsensitive);
  bool on_index = static_cast<int>(fields.size()) <= index_.field_count &&
                  (case_insensitive == index_.case_insensitive || !any_string);
  for (size_t i = 0; on_index && i < fields.size(); ++i) {
    on_index = fields[i]->FieldNo() == index_.field_numbers[i];
  }
  if (on_index) {
    if (!SeekOnHandle(*handle_, fields, values, options, work)) return false;
    return handle_->GetCurrentRecord(work, false) == 0;
  }
  if (TDataFile* clone = CloneHandle(key_fields, case_insensitive)) {
    if (!SeekOnHandle(*clone, fields, values, options, work)) return false;
    // The second handle refreshed before its search and may have found a record written by
    // another handle since this one last read: this one must see the files as they stand now
    // before it looks for that record in its own index.  A record deleted in between is gone.
    handle_->RefreshFromDisk();
    const uint16_t code = handle_->GotoCurrentOf(*clone);
    if (code == kErrRecordNotFound) return false;
    Check(code);
    return handle_->GetCurrentRecord(work, false) == 0;
  }
  return SeekWithFilter(fields, values, options, work);
}

bool TTesseraDataSet::LocateRecord(std::string_view key_fields, const Variant& key_values,
                                   TLocateOptions options, bool) {
  CheckBrowseMode();
  CursorPosChanged();
  return DoLocate(key_fields, key_values, options, TempBuffer());
}

Variant TTesseraDataSet::LookupValues(std::string_view key_fields, const Variant& key_values,
                                      std::string_view result_fields) {
  CheckBrowseMode();
  CursorPosChanged();
  uint8_t* work = TempBuffer();
  if (!DoLocate(key_fields, key_values, TLocateOptions{}, work)) return Variant::Null();
  GetCalcFields(work);
  TDataSetState old = SetTempState(dsCalcFields);
  lookup_record_ = work;
  struct Restore {
    TTesseraDataSet* self;
    TDataSetState old;
    ~Restore() {
      self->lookup_record_ = nullptr;
      self->RestoreState(old);
    }
  } restore{this, old};
  return FieldValues(result_fields);
}

bool TTesseraDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  uint16_t code = 0;
  {
    TemporaryFilters filters(this, !Filtered());
    if (restart) {
      if (go_forward) {
        handle_->MoveToBeginning();
      } else {
        handle_->MoveToEnd();
      }
    }
    code =
        go_forward ? handle_->GetNextRecord(TempBuffer()) : handle_->GetPriorRecord(TempBuffer());
  }
  if (code != 0) return false;
  Resync(TResyncMode{rmExact, rmCenter});
  SetFound(true);
  DoAfterScroll();
  return true;
}

// ---- filters -----------------------------------------------------------------------------------

bool TTesseraDataSet::RecordFilter(const uint8_t* record) {
  if (!OnFilterRecord()) return true;
  FilterStateScope scope(this, record);
  bool accept = true;
  OnFilterRecord()(this, accept);
  return accept;
}

void TTesseraDataSet::ReplaceFilter(TFilter*& slot, TFilter* filter) {
  TFilter* old = slot;
  slot = filter;
  if (old != nullptr) Check(handle_->DropFilter(old));
  if (filter != nullptr && Filtered()) {
    CursorPosChanged();
    Check(handle_->ActivateFilter(filter));
  }
}

TFilter* TTesseraDataSet::NewTextFilter(const std::string& text, TFilterOptions options) {
  if (text.empty()) return nullptr;
  TFilter* filter = nullptr;
  Check(tessera::MakeTextFilter(*handle_, *this, text, options, &filter));
  return filter;
}

void TTesseraDataSet::MakeTextFilter() {
  ReplaceFilter(text_filter_, NewTextFilter(Filter(), FilterOptions()));
}

void TTesseraDataSet::MakeCallbackFilter() {
  TFilter* filter = nullptr;
  Check(tessera::MakeCallbackFilter(
      *handle_, this,
      [](void* data, const uint8_t* record, uint32_t) {
        return static_cast<TTesseraDataSet*>(data)->RecordFilter(record);
      },
      &filter));
  ReplaceFilter(callback_filter_, filter);
}

void TTesseraDataSet::ActivateFilters() {
  const std::array<TFilter*, 2> filters = {text_filter_, callback_filter_};
  try {
    for (TFilter* filter : filters) {
      if (filter != nullptr) Check(handle_->ActivateFilter(filter));
    }
  } catch (...) {
    // The failing one too: the engine marks a filter active before it builds its map, and a
    // handler that raised would raise again at every later read.
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
      if (*it == nullptr) continue;
      try {
        Check(handle_->DeactivateFilter(*it));
      } catch (...) {
        Application().HandleException(this);
      }
    }
    throw;
  }
}

void TTesseraDataSet::SetFilterActivation(bool active) {
  CursorPosChanged();
  if (active) {
    ActivateFilters();
    return;
  }
  for (TFilter* filter : {text_filter_, callback_filter_}) {
    if (filter != nullptr) Check(handle_->DeactivateFilter(filter));
  }
}

void TTesseraDataSet::SetFilterText(const std::string& text) {
  if (Active()) {
    CheckBrowseMode();
    if (text != Filter()) ReplaceFilter(text_filter_, NewTextFilter(text, FilterOptions()));
  }
  TDataSet::SetFilterText(text);
  if (Active() && Filtered()) First();
}

void TTesseraDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) {
    CheckBrowseMode();
    bool case_changed =
        options.Contains(foCaseInsensitive) != FilterOptions().Contains(foCaseInsensitive) ||
        options.Contains(foNoPartialCompare) != FilterOptions().Contains(foNoPartialCompare);
    if (case_changed) ReplaceFilter(text_filter_, NewTextFilter(Filter(), options));
  }
  TDataSet::SetFilterOptions(options);
  if (Active() && Filtered()) First();
}

void TTesseraDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  bool assigned = static_cast<bool>(handler);
  if (Active()) CheckBrowseMode();
  TDataSet::SetOnFilterRecord(std::move(handler));
  if (!Active()) return;
  if (assigned) {
    // A new filter even when one exists: the records must be chosen again by the new handler.
    MakeCallbackFilter();
  } else {
    ReplaceFilter(callback_filter_, nullptr);
  }
  if (Filtered()) First();
}

void TTesseraDataSet::SetFiltered(bool value) {
  if (Active()) {
    CheckBrowseMode();
    if (value != Filtered()) {
      SetFilterActivation(value);
      TDataSet::SetFiltered(value);
      First();
    }
    return;
  }
  TDataSet::SetFiltered(value);
}

}  // namespace tessera
