// A set over an enumeration: component states, option sets, and sets whose members are written out
// by ordinal (ordinals 0..31).
#pragma once

#include <bitset>
#include <cassert>
#include <cstdint>
#include <initializer_list>

namespace cl {

// REQUIRES: every member of E has an ordinal in [0, N).
template <class E, int N = 32>
class TSet {
 public:
  constexpr TSet() = default;
  TSet(std::initializer_list<E> members) {
    for (E e : members) Include(e);
  }

  bool Contains(E e) const { return bits_.test(Ord(e)); }
  TSet& Include(E e) {
    bits_.set(Ord(e));
    return *this;
  }
  TSet& Exclude(E e) {
    bits_.reset(Ord(e));
    return *this;
  }
  bool Empty() const { return bits_.none(); }

  // The members with ordinals 0..31 as bits, lowest ordinal in bit 0.
  uint32_t Bits() const {
    uint32_t bits = 0;
    for (int i = 0; i < N && i < 32; ++i) {
      if (bits_.test(i)) bits |= uint32_t{1} << i;
    }
    return bits;
  }
  static TSet FromBits(uint32_t bits) {
    TSet s;
    for (int i = 0; i < N && i < 32; ++i) {
      if (bits & (uint32_t{1} << i)) s.bits_.set(i);
    }
    return s;
  }

  friend TSet operator+(TSet a, const TSet& b) {
    a.bits_ |= b.bits_;
    return a;
  }
  friend TSet operator-(TSet a, const TSet& b) {
    a.bits_ &= ~b.bits_;
    return a;
  }
  friend TSet operator*(TSet a, const TSet& b) {
    a.bits_ &= b.bits_;
    return a;
  }
  friend bool operator==(const TSet& a, const TSet& b) { return a.bits_ == b.bits_; }

 private:
  static size_t Ord(E e) {
    assert(static_cast<size_t>(e) < N);
    return static_cast<size_t>(e);
  }

  std::bitset<N> bits_;
};

}  // namespace cl
