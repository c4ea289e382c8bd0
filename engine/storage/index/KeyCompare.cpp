#include "engine/storage/index/KeyCompare.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n, bool descending) {
  if (n <= 16) {
    // Most keys are this short: a loop beats the library call.
    for (size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return (a[i] < b[i]) != descending ? -1 : 1;
    }
    return 0;
  }
  const int r = std::memcmp(a, b, n);
  if (r == 0) return 0;
  return (r < 0) != descending ? -1 : 1;
}

}  // namespace

TKeyOrder::TKeyOrder(const TIndexTreeHost& host, int slot, const TIndexDescriptor& descriptor) {
  descending_ = descriptor.descending != 0;
  language_ = host.LanguageId();
  sort_ = host.SortId();
  if (slot == kSysDeletedSlot || language_ == 0) return;
  size_t total = 0;
  bool any_string = false;
  field_count_ = std::min<uint8_t>(descriptor.field_count, kMaxKeyFields);
  for (int i = 0; i < field_count_; ++i) {
    TKeyField info;
    if (!host.KeyFieldInfo(descriptor.field_numbers[i], info)) return;
    Field& f = fields_[i];
    f.size = info.size;
    f.string = info.type == kFieldString;
    const bool field_descending = descriptor.field_descending[i] != 0;
    f.inverted = field_descending && !descending_;
    f.reversed = field_descending || descending_;
    any_string = any_string || f.string;
    total += static_cast<size_t>(info.size) + 1;
  }
  if (total > descriptor.key_length || !any_string) return;
  bytewise_ = false;
}

TKeyOrder TKeyOrder::Bytes(bool descending) {
  TKeyOrder order;
  order.descending_ = descending;
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

int TKeyOrder::Compare(const uint8_t* a, const uint8_t* b, size_t length) const {
  if (bytewise_) return CompareBytes(a, b, length, descending_);
  return CompareFields(a, b, length);
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
    int r = CompareBytes(a + run_start, b + run_start, pos + 1 - run_start, descending_);
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
  return CompareBytes(a + run_start, b + run_start, length - run_start, descending_);
}

}  // namespace tessera
