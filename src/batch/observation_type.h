// The element types a batch's observations come in, and the one switch from a type's code to
// the C++ type.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/board.h"

namespace ortolan {

// Values of one observation: 119 planes of 64 squares, row-major [plane][square].
inline constexpr int32_t observation_size = observation_planes * 64;

// Element type of the observations: exact int32, uint8 clipped to 0..255, or float32.
inline constexpr int32_t observation_uint8 = 0;
inline constexpr int32_t observation_float32 = 1;
inline constexpr int32_t observation_int32 = 2;

inline bool known_observation_type(int32_t type) {
    return type >= observation_uint8 && type <= observation_int32;
}

// Returns visit(T{}) for the element type T of a known observation type.
template <class Visit>
decltype(auto) with_observation_type(int32_t type, Visit&& visit) {
    switch (type) {
        case observation_uint8:
            return visit(uint8_t{});
        case observation_float32:
            return visit(float{});
        default:
            return visit(int32_t{});
    }
}

// Writes the board's observation as row `row` of an array of observations of the type.
inline void write_observation_row(const Board& board, int32_t type, void* rows, size_t row) {
    with_observation_type(type, [&](auto zero) {
        using T = decltype(zero);
        board.write_observation(static_cast<T*>(rows) + row * observation_size);
    });
}

// Writes the bounds of each plane under the rule set as the type holds them:
// observation_planes values each.
inline void write_plane_bounds(int32_t type, int32_t rules, void* low, void* high) {
    with_observation_type(type, [&](auto zero) {
        using T = decltype(zero);
        for (int32_t p = 0; p < observation_planes; ++p) {
            static_cast<T*>(low)[p] = observation_value<T>(plane_bounds(p, rules).low);
            static_cast<T*>(high)[p] = observation_value<T>(plane_bounds(p, rules).high);
        }
    });
}

}  // namespace ortolan
