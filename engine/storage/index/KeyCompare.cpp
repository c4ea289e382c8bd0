#include "engine/storage/index/KeyCompare.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {

TKeyOrder::TKeyOrder(const TIndexTreeHost& host, int slot, const TIndexDescriptor& descriptor) {
  descending_ = descriptor.descending != 0;
  language_ = host.LanguageId();
  sort_ = host.SortId();
  if (slot == kSysDeletedSlot) return;
  size_t total = 0;
  bool any_string = false;
  const uint8_t count = std::min<uint8_t>(descriptor.field_count, kMaxKeyFields);
  for (int i = 0; i < count; ++i) {
    TKeyField info;
    if (!host.KeyFieldInfo(descriptor.field_numbers[i], info)) return;
    Field& f = fields_[i];
    f.start = static_cast<uint16_t>(total);
    f.size = info.size;
    f.string = info.type == kFieldString;
    const bool field_descending = descriptor.field_descending[i] != 0;
    f.inverted = field_descending && !descending_;
    f.reversed = field_descending || descending_;
    any_string = any_string || f.string;
    total += static_cast<size_t>(info.size) + 1;
  }
  if (total > descriptor.key_length) return;
  field_count_ = count;
  bytewise_ = language_ == 0 || !any_string;
}

TKeyOrder TKeyOrder::Bytes(bool descending) {
  TKeyOrder order;
  order.descending_ = descending;
  return order;
}

TKeyOrder TKeyOrder::WithoutTable(int slot, const TIndexDescriptor& descriptor) {
  TKeyOrder order = Bytes(descriptor.descending != 0);
  const size_t suffix = HasKeySuffix(slot, descriptor.unique != 0) ? kKeySuffixSize : 0;
  if (slot == kSysDeletedSlot || descriptor.field_count != 1 ||
      descriptor.key_length <= suffix + 1) {
    return order;
  }
  Field& f = order.fields_[0];
  f.size = static_cast<uint16_t>(descriptor.key_length - suffix - 1);
  f.inverted = descriptor.field_descending[0] != 0 && !order.descending_;
  order.field_count_ = 1;
  return order;
}

bool TKeyOrder::ReversedAt(size_t length) const {
  if (descending_) return true;
  if (bytewise_) return false;
  size_t pos = 0;
  for (int i = 0; i < field_count_ && pos < length; ++i) {
    const size_t end = pos + fields_[i].size + 1u;
    if (length < end) return fields_[i].inverted;
    pos = end;
  }
  return false;
}

void TKeyOrder::ClearNullValues(uint8_t* key, size_t length) const {
  for (int i = 0; i < field_count_; ++i) {
    const Field& f = fields_[i];
    const uint8_t null = f.inverted ? 0xFF : 0;
    if (f.start >= length || key[f.start] != null) continue;
    const size_t end = std::min<size_t>(f.start + 1u + f.size, length);
    // An inverted string keeps its terminator's place as it is.
    const size_t inverted_end = f.string ? std::min<size_t>(f.start + f.size, end) : end;
    std::fill(key + f.start + 1, key + inverted_end, null);
    std::fill(key + inverted_end, key + end, uint8_t{0});
  }
}

int TKeyOrder::CompareFields(const uint8_t* a, const uint8_t* b, size_t length) const {
  size_t pos = 0;        // the current field's null byte
  size_t run_start = 0;  // first byte not yet compared
  for (int i = 0; i < field_count_ && pos < length; ++i) {
    const Field& f = fields_[i];
    if (!f.string) {
      pos += static_cast<size_t>(f.size) + 1;
      continue;
    }
    // Everything up to and including this field's null byte, as bytes.
    int r = CompareRun(a, b, run_start, pos + 1);
    if (r != 0) return r;
    const size_t value = pos + 1;
    // The declared characters only: the stored size's last byte is the terminator's place, which
    // the key builder never inverts; taken back through the inversion it would weigh as a letter.
    const size_t chars = f.size > 0 ? f.size - 1u : 0;
    const size_t n = value < length ? std::min<size_t>(chars, length - value) : 0;
    if (n > 0) {
      uint8_t ia[kMaxKeyLength];
      uint8_t ib[kMaxKeyLength];
      for (size_t j = 0; j < n; ++j) {
        ia[j] = f.inverted ? static_cast<uint8_t>(~a[value + j]) : a[value + j];
        ib[j] = f.inverted ? static_cast<uint8_t>(~b[value + j]) : b[value + j];
      }
      // Up to the terminator: what follows it is not part of the value.
      std::fill(std::find(ia, ia + n, uint8_t{0}), ia + n, uint8_t{0});
      std::fill(std::find(ib, ib + n, uint8_t{0}), ib + n, uint8_t{0});
      r = CompareStrings(language_, sort_, reinterpret_cast<const char*>(ia), false, n,
                         reinterpret_cast<const char*>(ib), cl::TSortMode::kString);
      if (r != 0) return f.reversed ? -r : r;
    }
    pos = value + f.size;
    run_start = std::min(pos, length);
  }
  // The rest (non-string fields after the last string, the record-number suffix) as bytes.
  if (run_start >= length) return 0;
  return CompareRun(a, b, run_start, length);
}

void TKeyOrder::AppendSortKey(const uint8_t* key, size_t length, std::vector<uint8_t>& out,
                              size_t limit) const {
  uint8_t copy[kMaxKeyLength];
  length = std::min<size_t>(length, kMaxKeyLength);
  std::memcpy(copy, key, length);
  ClearNullValues(copy, length);
  const size_t end = limit > SIZE_MAX - out.size() ? SIZE_MAX : out.size() + limit;
  auto append = [&out, end](const uint8_t* from, size_t count, bool invert) {
    const size_t at = out.size();
    out.insert(out.end(), from, from + std::min(count, end - at));
    if (invert) {
      for (size_t i = at; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
    }
  };
  if (bytewise_) return append(copy, length, descending_);
  // The walk of CompareFields: runs of bytes between the collated values.
  size_t pos = 0;
  size_t run_start = 0;
  for (int i = 0; i < field_count_ && pos < length; ++i) {
    const Field& f = fields_[i];
    if (!f.string) {
      pos += static_cast<size_t>(f.size) + 1;
      continue;
    }
    append(copy + run_start, pos + 1 - run_start, descending_);
    if (out.size() == end) return;
    const size_t value = pos + 1;
    const size_t chars = f.size > 0 ? f.size - 1u : 0;
    const size_t n = value < length ? std::min<size_t>(chars, length - value) : 0;
    if (n > 0) {
      uint8_t text[kMaxKeyLength];
      for (size_t j = 0; j < n; ++j) {
        text[j] = f.inverted ? static_cast<uint8_t>(~copy[value + j]) : copy[value + j];
      }
      std::fill(std::find(text, text + n, uint8_t{0}), text + n, uint8_t{0});
      const std::string weights =
          SortKey(language_, sort_, std::string_view(reinterpret_cast<char*>(text), n),
                  cl::TSortMode::kString, end - out.size());
      // No sort key is the beginning of another (each ends its last level with its only
      // separator of that count), so what follows cannot decide between two unequal ones.
      append(reinterpret_cast<const uint8_t*>(weights.data()), weights.size(), f.reversed);
    }
    pos = value + f.size;
    run_start = std::min(pos, length);
  }
  if (run_start < length) append(copy + run_start, length - run_start, descending_);
}

}  // namespace tessera
