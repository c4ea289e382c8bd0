// Record bit maps: one bit per record (or index entry) number, shared by filters, ranges and the
// counted B-tree.
//
// Number n >= 1 is bit (n - 1) mod 8, least significant first, of byte (n - 1) div 8.  A map is a
// byte span; every routine takes its length from the span, so no number, limit or count can
// reach past the bytes: numbers beyond the map read as clear and writes to them are ignored, and
// each search or count works up to min(limit, 8 x length).  Bits past the limit (which NotBitMap
// and SetAllBits set too) are ignored wherever a limit is given.
#pragma once

#include <cstdint>
#include <span>

namespace tessera {

using BitMapView = std::span<const uint8_t>;
using BitMapSpan = std::span<uint8_t>;

// Byte counts: destination op= source over the shorter of the two.
void AndBitMaps(BitMapView source, BitMapSpan destination);
void OrBitMaps(BitMapView source, BitMapSpan destination);
// destination = NOT source over the shorter of the two.
void NotBitMap(BitMapView source, BitMapSpan destination);
void SetAllBits(BitMapSpan map);
void ClearAllBits(BitMapSpan map);

// Number 0 and numbers past the map are ignored (TestBit answers false).
void SetBit(uint32_t n, BitMapSpan map);
void ClearBit(uint32_t n, BitMapSpan map);
bool TestBit(uint32_t n, BitMapView map);

// The smallest set number above n (n = 0 starts at the beginning) at or below the limit; on
// success n becomes it.
bool FindNextBit(BitMapView map, uint32_t limit, uint32_t& n);
// The largest set number below n; on success n becomes it.  n = 1 has none.
bool FindPriorBit(BitMapView map, uint32_t& n);

// Set bits with numbers 1..limit.
uint32_t CountBits(BitMapView map, uint32_t limit);
// Set bits with numbers 1..min(n, limit): the rank of n among the set records.
uint32_t CountBitsUpTo(uint32_t n, BitMapView map, uint32_t limit);

}  // namespace tessera
