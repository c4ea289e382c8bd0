// The order of the keys of one index: how two keys (or a key and a bound prefix) compare.
//
// This order is part of the file format: existing trees were built with it.  Keys compare as
// unsigned bytes, reversed for an index marked descending as a whole, except on a table with a
// language, where the value of each string key field compares by the language's collation
// (string sort) and every byte run between string values as bytes.  A descending field of an
// ascending index is stored bit-inverted by the key builder (the null byte and the declared
// characters; the terminator's place after them stays as it is); its declared characters are
// inverted back and compared up to the terminator, and the result is then reversed, so such a
// field sorts in exact reverse collation order.  "Sys Deleted" (slot 31) always compares as bytes.
//
// The value bytes of a field that is NULL in both keys are not compared: the key builder leaves
// them zero (the index format's form), keys of earlier builds hold the encoded zero value there,
// and both must find each other.  The null byte orders NULL before any value either way, so the
// order of a tree written by an earlier build is unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/index/IndexFormat.h"

namespace tessera {

class TIndexTreeHost;

class TKeyOrder {
 public:
  TKeyOrder() = default;
  // The order of index `slot` described by `descriptor` on the host's table.  Fields the data
  // file does not know, or fields that pass the key length, make the whole key compare as bytes.
  TKeyOrder(const TIndexTreeHost& host, int slot, const TIndexDescriptor& descriptor);
  // A byte-wise order (tests, record numbers).
  static TKeyOrder Bytes(bool descending);
  // The byte-wise order of index `slot` when its table is not at hand.  Only a lone key field's
  // size is known then (from the key length): its value bytes are passed over when NULL in both
  // keys; a NULL in a later field of a longer key is still compared as bytes.
  static TKeyOrder WithoutTable(int slot, const TIndexDescriptor& descriptor);

  // -1, 0 or 1 over the first `length` bytes of a and b.  Inline: every step of a tree search
  // comes through here, and most orders compare bytes.  A length below the key length compares
  // a prefix; a string field cut by it compares only its bytes before the cut.
  int Compare(const uint8_t* a, const uint8_t* b, size_t length) const;

  bool Descending() const { return descending_; }
  // Whether string fields compare by a language's collation rather than as bytes.
  bool Collated() const { return !bytewise_; }
  // Whether a key cut after `length` bytes and zero-filled may sort after other keys of its
  // prefix, so that a search for the prefix's first key must compare the prefix alone: the index
  // sorts in reverse, or, on a collated order, the cut falls inside a field stored inverted,
  // whose zero fill reads back as 0xFF characters.
  bool ReversedAt(size_t length) const;
  // Appends to `out` a byte string of the whole key (`length` its key length) whose memcmp order,
  // a shorter string first, is Compare's among whole keys of this order: bytes as they stand (a
  // NULL field's value bytes cleared as ClearNullValues clears them, all inverted for an index
  // descending as a whole), a collated string field as its collation sort key, inverted when the
  // field's result is reversed.  Sorting by these needs no collation per comparison.  With a
  // `limit`, only its first `limit` bytes: keys whose heads differ are ordered by them, the
  // others by Compare.
  void AppendSortKey(const uint8_t* key, size_t length, std::vector<uint8_t>& out,
                     size_t limit = SIZE_MAX) const;
  // The value bytes of each NULL field within the first `length` bytes of `key` in the key
  // builder's form, so that a key of an earlier build reads byte for byte as one built now.
  void ClearNullValues(uint8_t* key, size_t length) const;

 private:
  struct Field {
    uint16_t start = 0;  // the null byte
    uint16_t size = 0;
    bool string = false;
    bool inverted = false;  // stored bit-inverted by the key builder
    bool reversed = false;  // collation result reversed
  };

  int CompareFields(const uint8_t* a, const uint8_t* b, size_t length) const;
  // Bytes [from, to) of a and b, reversed for a descending index, passing over NULL values.
  int CompareRun(const uint8_t* a, const uint8_t* b, size_t from, size_t to) const;
  // The end of the field whose value bytes hold `at` when the field is NULL in a and b; else 0.
  size_t NullValueEnd(const uint8_t* a, const uint8_t* b, size_t at) const;

  bool bytewise_ = true;
  bool descending_ = false;
  uint16_t language_ = 0;
  uint16_t sort_ = 0;
  uint8_t field_count_ = 0;
  std::array<Field, kMaxKeyFields> fields_{};
};

namespace key_compare_internal {

// The first byte of [from, to) where a and b differ, or `to`.  Eight bytes a step: a search
// compares a few dozen short keys per level, most of them told apart in their first word.
inline size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t from, size_t to) {
  size_t i = from;
  for (; i + 8 <= to; i += 8) {
    // Little-endian words: the lowest set byte of the difference is the first that differs.
    const uint64_t x = cl::GetU64LE(a + i) ^ cl::GetU64LE(b + i);
    if (x != 0) return i + static_cast<size_t>(__builtin_ctzll(x) >> 3);
  }
  if (i == to) return to;
  if (to - from >= 8) {
    // The last word again, overlapping bytes already found equal.
    i = to - 8;
    const uint64_t x = cl::GetU64LE(a + i) ^ cl::GetU64LE(b + i);
    return x != 0 ? i + static_cast<size_t>(__builtin_ctzll(x) >> 3) : to;
  }
  // Short keys (a number and its null byte): four bytes, then one by one.
  if (i + 4 <= to) {
    const uint32_t x = cl::GetU32LE(a + i) ^ cl::GetU32LE(b + i);
    if (x != 0) return i + static_cast<size_t>(__builtin_ctz(x) >> 3);
    i += 4;
  }
  for (; i < to; ++i) {
    if (a[i] != b[i]) return i;
  }
  return to;
}

}  // namespace key_compare_internal

inline size_t TKeyOrder::NullValueEnd(const uint8_t* a, const uint8_t* b, size_t at) const {
  for (int i = 0; i < field_count_; ++i) {
    const Field& f = fields_[i];
    if (at <= f.start) return 0;
    const size_t end = f.start + 1u + f.size;
    if (at >= end) continue;
    const uint8_t null = f.inverted ? 0xFF : 0;
    return a[f.start] == null && b[f.start] == null ? end : 0;
  }
  return 0;
}

inline int TKeyOrder::CompareRun(const uint8_t* a, const uint8_t* b, size_t from, size_t to) const {
  while (from < to) {
    const size_t at = key_compare_internal::FirstDifference(a, b, from, to);
    if (at == to) return 0;
    // A field NULL in both keys is passed over: its value bytes say nothing.
    const size_t skip = field_count_ != 0 ? NullValueEnd(a, b, at) : 0;
    if (skip == 0) return (a[at] < b[at]) != descending_ ? -1 : 1;
    from = skip;
  }
  return 0;
}

inline int TKeyOrder::Compare(const uint8_t* a, const uint8_t* b, size_t length) const {
  if (bytewise_) return CompareRun(a, b, 0, length);
  return CompareFields(a, b, length);
}

}  // namespace tessera
