// Drawing the observation from the history ring, seen from the side to move, and turning an
// observation to the other side's seat.
#include <algorithm>

#include "engine/board.h"

namespace ortolan {

// Each plane is written once, a piece plane as zeros and then its pieces' squares, plane by
// plane so that no clear is large enough for the library to hand it to a string instruction.
// Black sees the board turned half round, except under rules_ortolan on the position a reset
// has just set up, so each square is written at its turned place directly.
template <class T>
void Board::write_observation(T* planes) const {
    const bool swap_sides = side != white;
    const int32_t turn = side == black && (just_reset == 0 || rules != rules_ortolan) ? 63 : 0;
    auto fill = [planes](int32_t plane, int32_t value) {
        std::fill_n(planes + plane * 64, 64, observation_value<T>(value));
    };
    for (int32_t e = 0; e < history_capacity; ++e) {
        const int32_t index = (state_pos + history_capacity - 1 - e) % history_capacity;
        if (index < state_history.size())
            state_history.write_planes(index, swap_sides, turn, planes + record_planes * e * 64);
        else
            for (int32_t p = 0; p < record_planes; ++p) fill(record_planes * e + p, 0);
    }
    fill(112, swap_sides ? 1 : 0);
    fill(113, total_move_count);
    fill(114, (castle & white_kingside) ? 1 : 0);
    fill(115, (castle & white_queenside) ? 1 : 0);
    fill(116, (castle & black_kingside) ? 1 : 0);
    fill(117, (castle & black_queenside) ? 1 : 0);
    fill(118, no_progress_count);
}

template void Board::write_observation(int32_t*) const;
template void Board::write_observation(uint8_t*) const;
template void Board::write_observation(float*) const;

template <class T>
void write_other_seat(const T* planes, T* seen) {
    for (int32_t p = 0; p < observation_planes; ++p) {
        const int32_t kind = p % record_planes;
        const bool piece = p < history_capacity * record_planes && kind < 12;
        const T* from = planes + (piece ? p - kind + (kind + 6) % 12 : p) * 64;
        T* to = seen + p * 64;
        for (int32_t s = 0; s < 64; ++s) to[s] = from[63 - s];
        if (p == 112)
            for (int32_t s = 0; s < 64; ++s) to[s] = static_cast<T>(1 - to[s]);
    }
}

template void write_other_seat(const int32_t*, int32_t*);
template void write_other_seat(const uint8_t*, uint8_t*);
template void write_other_seat(const float*, float*);

void Board::build_observation(Observation& out) const { write_observation(&out.planes[0][0]); }

Observation Board::build_observation() const {
    Observation out;
    build_observation(out);
    return out;
}

}  // namespace ortolan
