// Bit helpers shared by the attack tables, move generation and the episode code, and the
// wrap-around arithmetic of the counters.
#pragma once

#include <bit>
#include <cstdint>

namespace ortolan {

using Bitboard = uint64_t;

constexpr Bitboard square_bit(int32_t square) { return Bitboard{1} << square; }

constexpr int32_t count_bits(Bitboard b) { return std::popcount(b); }

// Index of the lowest set bit, -1 for an empty set.
constexpr int32_t lowest_square(Bitboard b) { return b ? std::countr_zero(b) : -1; }

constexpr bool get_bit(Bitboard b, int32_t square) { return (b >> square) & 1; }

constexpr void set_bit(Bitboard& b, int32_t square) { b |= square_bit(square); }

constexpr void clear_bit(Bitboard& b, int32_t square) { b &= ~square_bit(square); }

// Takes the lowest square out of the set; the set must not be empty.
inline int32_t pop_lowest(Bitboard& b) {
    const int32_t square = std::countr_zero(b);
    b &= b - 1;
    return square;
}

// Counters are plain int32 members that a snapshot may set to any value; they wrap instead of
// overflowing.
constexpr int32_t wrapping_add(int32_t value, int32_t delta) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}

}  // namespace ortolan
