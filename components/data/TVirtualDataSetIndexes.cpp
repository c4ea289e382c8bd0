// TVirtualDataSet: record compare, sorted-list search and sort, index switching, locate and
// lookup, ranges and master/detail.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {

using namespace cl;

namespace {

std::string_view NativeString(const uint8_t* value, int data_size) {
  const auto* text = reinterpret_cast<const char*>(value);
  return std::string_view(text, strnlen(text, static_cast<size_t>(data_size)));
}

std::string_view StreamText(TMemoryStream* stream) {
  return std::string_view(static_cast<const char*>(stream->Memory()),
                          static_cast<size_t>(stream->Size()));
}

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool IsNullOrEmpty(const Variant& v) { return v.IsNull() || v.IsEmpty(); }

int ValueCount(const Variant& values) {
  return values.IsArray() ? static_cast<int>(values.Elements().size()) : 1;
}

}  // namespace

// ---- compare -----------------------------------------------------------------------------------

uint8_t TVirtualDataSet::IndexFlags(TIndexOptions options) const {
  uint8_t flags = 0;
  if (options.Contains(ixDescending)) flags |= kCmpDescending;
  if (options.Contains(ixCaseInsensitive)) flags |= kCmpCaseInsensitive;
  return flags;
}

int TVirtualDataSet::CompareStrings(std::string_view r, std::string_view k, uint8_t flags) const {
  if (flags & kCmpContains) {
    if (flags & kCmpCaseInsensitive) return UpperCase(r).find(UpperCase(k)) == std::string::npos;
    return r.find(k) == std::string_view::npos ? 1 : 0;
  }
  if (flags & kCmpPrefix) {
    r = r.substr(0, k.size());
  } else if (flags & kCmpSuffix) {
    r = r.substr(r.size() - std::min(r.size(), k.size()));
  }
  if (flags & kCmpCaseInsensitive) return ansi_compare_ ? AnsiCompareText(r, k) : CompareText(r, k);
  return ansi_compare_ ? AnsiCompareStr(r, k) : CompareStr(r, k);
}

int TVirtualDataSet::CompareRecords(const uint8_t* record, const uint8_t* key,
                                    const std::vector<TField*>& fields, uint8_t flags) const {
  for (TField* field : fields) {
    auto slot = static_cast<size_t>(field->FieldNo() - 1);
    int c = 0;
    if (field_is_blob_[slot]) {
      TMemoryStream* r = BlobStream(record, field_offsets_[slot]);
      TMemoryStream* k = BlobStream(key, field_offsets_[slot]);
      if (field->DataType() == ftMemo) {
        c = CompareStrings(StreamText(r), StreamText(k), flags);
      } else {
        std::string_view a = StreamText(r);
        std::string_view b = StreamText(k);
        size_t n = std::min(a.size(), b.size());
        int diff = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
        c = diff != 0 ? diff : Sign(a.size(), b.size());
      }
    } else {
      const uint8_t* a = record + field_offsets_[slot];
      const uint8_t* b = key + field_offsets_[slot];
      if (a[0] == 0 || b[0] == 0) {
        c = a[0] == 0 && b[0] == 0 ? 0 : (a[0] == 0 ? -1 : 1);
      } else {
        ++a;
        ++b;
        switch (field->DataType()) {
          case ftString:
            if ((flags & (kCmpCaseInsensitive | kCmpPrefix | kCmpSuffix | kCmpContains)) == 0 &&
                !ansi_compare_) {
              // Byte order of two zero-terminated texts, in one pass.
              c = std::strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b),
                               static_cast<size_t>(field->DataSize()));
            } else {
              c = CompareStrings(NativeString(a, field->DataSize()),
                                 NativeString(b, field->DataSize()), flags);
            }
            break;
          case ftSmallint:
            c = Sign(GetI16LE(a), GetI16LE(b));
            break;
          case ftInteger:
          case ftDate:
          case ftTime:
          case ftAutoInc:
            c = Sign(GetI32LE(a), GetI32LE(b));
            break;
          case ftWord:
            c = Sign(GetU16LE(a), GetU16LE(b));
            break;
          case ftBoolean:
            c = Sign(GetU16LE(a) != 0, GetU16LE(b) != 0);
            break;
          case ftFloat:
          case ftCurrency:
          case ftDateTime:
            c = Sign(GetF64LE(a), GetF64LE(b));
            break;
          default:
            DatabaseErrorFmt("Impossible de comparer des champs du type %s",
                             {FieldTypeName(field->DataType())});
        }
      }
    }
    if (c != 0) {
      c = c < 0 ? -1 : 1;
      return (flags & kCmpDescending) ? -c : c;
    }
  }
  return 0;
}

// A null equals only a null; NaN compares equal, as in CompareRecords.
bool TVirtualDataSet::FixedPartEqual(const TFixedPart& part, const uint8_t* record,
                                     const uint8_t* key) {
  const uint8_t* a = record + part.offset;
  const uint8_t* b = key + part.offset;
  if (a[0] == 0 || b[0] == 0) return a[0] == b[0];
  ++a;
  ++b;
  switch (part.type) {
    case ftString:
      return std::strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b),
                          part.size) == 0;
    case ftSmallint:
      return Sign(GetI16LE(a), GetI16LE(b)) == 0;
    case ftWord:
      return Sign(GetU16LE(a), GetU16LE(b)) == 0;
    case ftBoolean:
      return (GetU16LE(a) != 0) == (GetU16LE(b) != 0);
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return Sign(GetF64LE(a), GetF64LE(b)) == 0;
    default:  // the four-byte integers, as FixedParts admits only these
      return GetI32LE(a) == GetI32LE(b);
  }
}

bool TVirtualDataSet::FixedParts(const std::vector<TField*>& fields, uint8_t flags,
                                 std::vector<TFixedPart>& parts) const {
  parts.clear();
  for (TField* field : fields) {
    auto slot = static_cast<size_t>(field->FieldNo() - 1);
    if (field_is_blob_[slot]) return false;
    switch (field->DataType()) {
      case ftString:
        if (flags != 0 || ansi_compare_) return false;
        break;
      case ftSmallint:
      case ftInteger:
      case ftDate:
      case ftTime:
      case ftAutoInc:
      case ftWord:
      case ftBoolean:
      case ftFloat:
      case ftCurrency:
      case ftDateTime:
        break;
      default:
        return false;
    }
    parts.push_back({static_cast<size_t>(field_offsets_[slot]), field->DataType(),
                     static_cast<size_t>(field->DataSize())});
  }
  return true;
}

// ---- search and sort ---------------------------------------------------------------------------

int TVirtualDataSet::Search(const TRecordList& list, const uint8_t* key,
                            const std::vector<TField*>& fields, uint8_t flags, bool last,
                            bool& found) const {
  // First position whose record compares greater (last) or not smaller (first) than the key.
  size_t low = list.PartitionPoint([&](const TStoredRecord* record) {
    int c = CompareRecords(record->data, key, fields, flags);
    return c < 0 || (last && c == 0);
  });
  if (!last) {
    found = low < list.size() && CompareRecords(list[low]->data, key, fields, flags) == 0;
    return static_cast<int>(low);
  }
  found = low > 0 && CompareRecords(list[low - 1]->data, key, fields, flags) == 0;
  return static_cast<int>(found ? low - 1 : low);
}

uint64_t TVirtualDataSet::SortPrefix(const uint8_t* data, const TField* field,
                                     uint8_t flags) const {
  TFieldType type = field->DataType();
  bool text = type == ftString && !ansi_compare_ &&
              (flags & (kCmpCaseInsensitive | kCmpPrefix | kCmpSuffix | kCmpContains)) == 0;
  bool number = type == ftInteger || type == ftDate || type == ftTime || type == ftAutoInc;
  if (field->IsBlob() || (!text && !number)) return kNoPrefix;
  if (data == nullptr) return 0;  // a probe: the field has prefixes
  const uint8_t* value = data + field_offsets_[static_cast<size_t>(field->FieldNo() - 1)];
  if (value[0] == 0) return 0;  // NULL first
  if (number) {
    return (static_cast<uint64_t>(static_cast<int64_t>(GetI32LE(value + 1)) + 2147483648LL) << 1) +
           2;
  }
  // The first bytes, big-endian, so that integer order is byte order; a shorter text ends in
  // zeros; the low byte keeps every text above NULL.
  uint64_t prefix = 0;
  bool ended = false;
  for (int i = 0; i < 7; ++i) {
    uint8_t c = ended || i >= field->DataSize() ? 0 : value[1 + i];
    ended = ended || c == 0;
    prefix = (prefix << 8) | c;
  }
  return (prefix << 8) | 1;
}

void TVirtualDataSet::SortList(TRecordList& list, const std::vector<TField*>& fields, uint8_t flags,
                               bool unique, const std::string& names) const {
  std::vector<TStoredRecord*> sorted = list.ToVector();
  // Each record's leading key bytes sit beside its pointer, so that most comparisons decide
  // without reaching the record.
  bool prefixed = !fields.empty() && SortPrefix(nullptr, fields.front(), flags) != kNoPrefix;
  bool descending = (flags & kCmpDescending) != 0;
  if (prefixed) {
    std::vector<std::pair<uint64_t, TStoredRecord*>> keyed;
    keyed.reserve(sorted.size());
    for (TStoredRecord* record : sorted) {
      keyed.emplace_back(SortPrefix(record->data, fields.front(), flags), record);
    }
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
      if (a.first != b.first) return descending ? a.first > b.first : a.first < b.first;
      return CompareRecords(a.second->data, b.second->data, fields, flags) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) sorted[i] = keyed[i].second;
  } else {
    std::sort(sorted.begin(), sorted.end(), [&](TStoredRecord* a, TStoredRecord* b) {
      return CompareRecords(a->data, b->data, fields, flags) < 0;
    });
  }
  if (unique) {
    for (size_t i = 1; i < sorted.size(); ++i) {
      if (CompareRecords(sorted[i - 1]->data, sorted[i]->data, fields, flags) == 0) {
        throw Exception(
            DBFormat("Cl\xE9 dupliqu\xE9"
                     "e dans l'index \"%s\"",
                     {names}));
      }
    }
  }
  list = TRecordList(sorted);
}

// ---- index switching ---------------------------------------------------------------------------

void TVirtualDataSet::ExchangeWithActive(TMaintainedIndex* index) {
  std::swap(index->field_names, index_field_names_);
  std::swap(index->options, index_options_);
  std::swap(index->fields, index_fields_);
  std::swap(index->records, records_);
}

void TVirtualDataSet::SwapInMaintained(TMaintainedIndex* index) {
  ExchangeWithActive(index);
  list_is_maintained_ = true;
  if (!index->field_names.empty()) return;
  // "No index" is not an order worth maintaining: the list keeps the order it had.
  for (int i = 0; i < maintained_.Count(); ++i) {
    if (maintained_.Items(i) == index) {
      maintained_.Delete(i);
      break;
    }
  }
}

void TVirtualDataSet::SetIndex(const std::string& field_names, TIndexOptions options,
                               bool maintain) {
  TIndexOptions masked;
  for (TIndexOption o : {ixUnique, ixDescending, ixCaseInsensitive}) {
    if (options.Contains(o)) masked.Include(o);
  }
  if (field_names.empty()) masked = TIndexOptions{};
  if (CompareText(field_names, index_field_names_) == 0 && masked == index_options_) return;
  if (Active()) CheckBrowseMode();

  TMaintainedIndex* found = nullptr;
  for (int i = 0; i < maintained_.Count() && found == nullptr; ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    if (CompareText(index->field_names, field_names) == 0 && index->options == masked) {
      found = index;
    }
  }
  std::vector<TField*> fields;
  if (Active() && found == nullptr) {
    GetFieldList(fields, field_names);
    CheckIndexFields(fields);
  }
  if (found == nullptr && maintain && !field_names.empty()) {
    auto index = std::make_unique<TMaintainedIndex>();
    index->field_names = field_names;
    index->options = masked;
    if (Active()) {
      index->fields = fields;
      index->records = records_;
      SortList(index->records, fields, IndexFlags(masked), masked.Contains(ixUnique), field_names);
    }
    found = index.get();
    maintained_.Insert(0, std::move(index));
  }
  if (found == nullptr && !maintain && !field_names.empty()) {
    // A maintained order that differs only by uniqueness serves as it is: its list is already
    // sorted; becoming unique only needs its neighbours checked.
    auto bits = [](TIndexOptions o) {
      return std::pair{o.Contains(ixDescending), o.Contains(ixCaseInsensitive)};
    };
    for (int i = 0; i < maintained_.Count() && found == nullptr; ++i) {
      TMaintainedIndex* index = maintained_.Items(i);
      if (CompareText(index->field_names, field_names) != 0 ||
          bits(index->options) != bits(masked)) {
        continue;
      }
      if (Active() && masked.Contains(ixUnique)) {
        uint8_t flags = IndexFlags(masked);
        for (size_t r = 1; r < index->records.size(); ++r) {
          if (CompareRecords(index->records[r - 1]->data, index->records[r]->data, index->fields,
                             flags) == 0) {
            throw Exception(
                DBFormat("Cl\xE9 dupliqu\xE9"
                         "e dans l'index \"%s\"",
                         {field_names}));
          }
        }
      }
      index->options = masked;
      found = index;
    }
  }
  if (!Active()) {
    if (found != nullptr) {
      SwapInMaintained(found);
    } else {
      index_field_names_ = field_names;
      index_options_ = masked;
    }
    return;
  }

  TRecordBuffer active = IsEmpty() ? nullptr : ActiveBuffer();
  TStoredRecord* remembered = active == nullptr ? nullptr : RecordOfId(BufferId(active));
  if (found != nullptr) {
    SwapInMaintained(found);
  } else {
    TRecordList sorted = records_;
    if (!fields.empty() && !sorted.empty()) {
      SortList(sorted, fields, IndexFlags(masked), masked.Contains(ixUnique), field_names);
    }
    if (list_is_maintained_) {
      // The list being replaced belongs to a maintained definition: it keeps its own copy.
      auto kept = std::make_unique<TMaintainedIndex>();
      kept->field_names = index_field_names_;
      kept->options = index_options_;
      kept->fields = index_fields_;
      kept->records = records_;
      maintained_.Insert(0, std::move(kept));
    }
    records_ = std::move(sorted);
    index_fields_ = std::move(fields);
    index_field_names_ = field_names;
    index_options_ = masked;
    list_is_maintained_ = false;
  }
  RebuildAfterIndexChange(remembered);
}

void TVirtualDataSet::RebuildAfterIndexChange(TStoredRecord* remembered) {
  if (range_active_) {
    if (index_field_names_.empty()) {
      range_active_ = false;
      range_list_.Clear();
    } else {
      BuildRangeList();
    }
  }
  if (Filtered()) BuildFilteredList();
  cursor_ = remembered == nullptr ? -1 : PositionIn(View(), remembered, cursor_);
  Resync(TResyncMode{});
}

// ---- ranges ------------------------------------------------------------------------------------

void TVirtualDataSet::FillKeyBuffer(const std::vector<TField*>& fields, const Variant& values) {
  InternalInitRecord(key_record_);
  TDataSetState old = SetTempState(dsSetKey);
  key_record_has_calc_ = false;
  try {
    int count = std::min(ValueCount(values), static_cast<int>(fields.size()));
    for (int i = 0; i < count; ++i) {
      const Variant& value = values.IsArray() ? values[i] : values;
      fields[static_cast<size_t>(i)]->SetValue(value);
    }
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
}

void TVirtualDataSet::BuildRangeList() {
  int count = std::min(ValueCount(range_start_), static_cast<int>(index_fields_.size()));
  std::vector<TField*> fields(index_fields_.begin(), index_fields_.begin() + count);
  key_record_ = range_start_key_;
  FillKeyBuffer(fields, range_start_);
  key_record_ = range_end_key_;
  FillKeyBuffer(fields, range_end_);
  key_record_ = nullptr;
  range_field_count_ = count;
  uint8_t flags = IndexFlags(index_options_);
  bool found = false;
  int first = Search(records_, range_start_key_, fields, flags, false, found);
  int last = Search(records_, range_end_key_, fields, flags, true, found);
  if (!found) --last;
  range_list_.Clear();
  if (first <= last) {
    range_list_ = records_.Slice(static_cast<size_t>(first), static_cast<size_t>(last) + 1);
  }
}

bool TVirtualDataSet::InRange(const uint8_t* data) {
  std::vector<TField*> fields(index_fields_.begin(), index_fields_.begin() + range_field_count_);
  // The range list was built under the index's compare flags: a posted record is tested under
  // the same ones, so that it joins or leaves the range consistently.
  uint8_t flags = IndexFlags(index_options_);
  return CompareRecords(data, range_start_key_, fields, flags) >= 0 &&
         CompareRecords(data, range_end_key_, fields, flags) <= 0;
}

void TVirtualDataSet::ApplyRange() {
  if (index_field_names_.empty()) {
    throw Exception(
        "Il n'y a pas d'index d\xE9"
        "fini pour appliquer la port\xE9"
        "e");
  }
  if (IsNullOrEmpty(range_start_)) {
    throw Exception(
        "Les valeurs de d\xE9part de la port\xE9"
        "e ne sont pas d\xE9"
        "finies");
  }
  if (IsNullOrEmpty(range_end_)) {
    throw Exception(
        "Les valeurs de fin de la port\xE9"
        "e ne sont pas d\xE9"
        "finies");
  }
  if (!Active()) {
    range_active_ = true;
    return;
  }
  CheckBrowseMode();
  BuildRangeList();
  range_active_ = true;
  if (Filtered()) BuildFilteredList();
  First();
}

void TVirtualDataSet::CancelRange() {
  if (!Active()) {
    range_active_ = false;
    range_list_.Clear();
    return;
  }
  CheckBrowseMode();
  TRecordBuffer active = IsEmpty() ? nullptr : ActiveBuffer();
  TStoredRecord* remembered = active == nullptr ? nullptr : RecordOfId(BufferId(active));
  range_active_ = false;
  range_list_.Clear();
  if (Filtered()) BuildFilteredList();
  cursor_ = remembered == nullptr ? -1 : PositionIn(View(), remembered, cursor_);
  Resync(TResyncMode{});
}

// ---- locate and lookup -------------------------------------------------------------------------

int TVirtualDataSet::FindKey(const std::vector<TField*>& fields, const Variant& values,
                             TLocateOptions options) {
  uint8_t flags = 0;
  if (options.Contains(loCaseInsensitive)) flags |= kCmpCaseInsensitive;
  if (options.Contains(loPartialKey)) flags |= kCmpPrefix;
  key_record_ = key_buffer_;
  FillKeyBuffer(fields, values);
  key_record_ = nullptr;
  const TRecordList& view = View();
  auto fits = [&](const std::vector<TField*>& index_fields, TIndexOptions index_options) {
    if (index_fields.size() < fields.size()) return false;
    if (!std::equal(fields.begin(), fields.end(), index_fields.begin())) return false;
    return index_options.Contains(ixCaseInsensitive) == options.Contains(loCaseInsensitive);
  };
  // A descending list is searched with the descending compare it is sorted by.
  auto list_flags = [&](TIndexOptions index_options) {
    return static_cast<uint8_t>(flags |
                                (index_options.Contains(ixDescending) ? kCmpDescending : 0));
  };
  bool found = false;
  if (fits(index_fields_, index_options_)) {
    int at = Search(view, key_buffer_, fields, list_flags(index_options_), false, found);
    return found ? at : -1;
  }
  bool filtered_by_text = Filtered() && (!Filter().empty() || OnFilterRecord());
  if (!range_active_ && !filtered_by_text) {
    for (int i = 0; i < maintained_.Count(); ++i) {
      TMaintainedIndex* index = maintained_.Items(i);
      if (!fits(index->fields, index->options)) continue;
      uint8_t index_flags = list_flags(index->options);
      int at = Search(index->records, key_buffer_, fields, index_flags, false, found);
      if (!found) return -1;
      // Among equal keys, the record that comes first in the view.
      std::unordered_map<const TStoredRecord*, int> positions;
      for (size_t p = 0; p < view.size(); ++p) positions.emplace(view[p], static_cast<int>(p));
      int best = -1;
      for (size_t j = static_cast<size_t>(at); j < index->records.size(); ++j) {
        TStoredRecord* record = index->records[j];
        if (CompareRecords(record->data, key_buffer_, fields, index_flags) != 0) break;
        auto it = positions.find(record);
        if (it != positions.end() && (best < 0 || it->second < best)) best = it->second;
      }
      return best;
    }
  }
  // Records sit anywhere in memory, so the scan waits on memory, not on compares: fetch well
  // ahead, and fetch the record's own block (its data follows the header), since reading the
  // header's data pointer to fetch through it would wait on memory itself.
  constexpr size_t kAhead = 24;
  auto ahead = view.begin();
  for (size_t k = 0; k < kAhead && ahead != view.end(); ++k) ++ahead;
  auto fetch_ahead = [&] {
    if (!(ahead != view.end())) return;
    const auto* block = reinterpret_cast<const char*>(*ahead);
    __builtin_prefetch(block);
    __builtin_prefetch(block + sizeof(TStoredRecord) + plain_size_ - 1);
    ++ahead;
  };
  int position = 0;
  std::vector<TFixedPart> parts;
  if (FixedParts(fields, flags, parts)) {
    for (TStoredRecord* record : view) {
      fetch_ahead();
      bool equal = true;
      for (const TFixedPart& part : parts) {
        if (!FixedPartEqual(part, record->data, key_buffer_)) {
          equal = false;
          break;
        }
      }
      if (equal) return position;
      ++position;
    }
    return -1;
  }
  for (TStoredRecord* record : view) {
    fetch_ahead();
    if (CompareRecords(record->data, key_buffer_, fields, flags) == 0) return position;
    ++position;
  }
  return -1;
}

bool TVirtualDataSet::LocateRecord(std::string_view key_fields, const Variant& key_values,
                                   TLocateOptions options, bool sync_cursor) {
  CheckActive();
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  if (ViewCount() == 0 || fields.empty()) return false;
  CheckIndexFields(fields);
  int position = FindKey(fields, key_values, options);
  if (position < 0) return false;
  if (sync_cursor) {
    cursor_ = position;
    CursorPosChanged();
  }
  return true;
}

Variant TVirtualDataSet::LookupValues(std::string_view key_fields, const Variant& key_values,
                                      std::string_view result_fields) {
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  if (ViewCount() == 0 || fields.empty()) return Variant::Null();
  CheckIndexFields(fields);
  int position = FindKey(fields, key_values, TLocateOptions{loCaseInsensitive});
  if (position < 0) return Variant::Null();
  TStoredRecord* record = View()[static_cast<size_t>(position)];
  TRecordBuffer buffer = AllocRecordBuffer();
  struct Free {
    TVirtualDataSet* self;
    TRecordBuffer& buffer;
    ~Free() { self->FreeRecordBuffer(buffer); }
  } free_buffer{this, buffer};
  CopyData(record->data, buffer);
  ClearCalcFields(buffer);
  PutU32LE(buffer + data_size_ + CalcFieldsSize(), record->id);
  buffer[data_size_ + CalcFieldsSize() + 4] = bfCurrent;
  GetCalcFields(buffer);
  TDataSetState old = SetTempState(dsSetKey);
  key_record_ = buffer;
  key_record_has_calc_ = true;
  Variant result;
  try {
    result = FieldValues(result_fields);
  } catch (...) {
    key_record_ = nullptr;
    key_record_has_calc_ = false;
    RestoreState(old);
    throw;
  }
  key_record_ = nullptr;
  key_record_has_calc_ = false;
  RestoreState(old);
  return result;
}

// ---- master/detail -----------------------------------------------------------------------------

void TVirtualDataSet::ReapplyMasterRange() {
  if (!Active()) return;
  const std::vector<TField*>& fields = master_link_->Fields();
  if (master_link_->Active() && !fields.empty()) {
    std::vector<Variant> values;
    for (TField* field : fields) values.push_back(field->Value());
    range_start_ = Variant::Array(values);
    range_end_ = Variant::Array(std::move(values));
    ApplyRange();
  } else {
    CancelRange();
  }
}

void TMasterDataLink::SetMasterFields(const std::string& names) {
  master_fields_ = names;
  RebuildFields();
  if (detail_->Active()) detail_->ReapplyMasterRange();
}

void TMasterDataLink::RebuildFields() {
  fields_.clear();
  if (Active() && DataSet() != nullptr) DataSet()->GetFieldList(fields_, master_fields_);
}

void TMasterDataLink::ActiveChanged() {
  RebuildFields();
  if (!detail_->ComponentState().Contains(csDestroying)) detail_->ReapplyMasterRange();
}

void TMasterDataLink::LayoutChanged() { ActiveChanged(); }

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSet() == nullptr || DataSet()->State() == dsSetKey || !detail_->Active() ||
      fields_.empty()) {
    return;
  }
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  detail_->ReapplyMasterRange();
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_->Active()) detail_->CheckBrowseMode();
}

}  // namespace comp
