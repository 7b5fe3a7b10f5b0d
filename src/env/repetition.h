// Position keys and their occurrence counts.
#pragma once

#include <cstdint>

#include "env/flat_map.h"

namespace ortolan {

using RepetitionMap = FlatMap<uint64_t, int32_t>;

inline constexpr uint64_t hash_piece_multiplier = 0x9E3779B97F4A7C15ULL;
inline constexpr uint64_t hash_white_to_move = 0x6E57394121878680ULL;
inline constexpr uint64_t hash_black_to_move = 0xCBF29CE484222325ULL;
inline constexpr uint64_t hash_castle_multiplier = 0xF0F0F0F0F0F0F0F0ULL;

bool operator==(const RepetitionMap& a, const RepetitionMap& b);

}  // namespace ortolan
