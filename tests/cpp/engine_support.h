// Small helpers shared by the board-core tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "engine/bits.h"

namespace ortolan {

inline Bitboard squares_of(std::initializer_list<int32_t> squares) {
    Bitboard b = 0;
    for (int32_t s : squares) b |= Bitboard{1} << s;
    return b;
}

inline std::string name_of(int32_t square) {
    return {static_cast<char>('a' + square % 8), static_cast<char>('8' - square / 8)};
}

}  // namespace ortolan
