// Recording positions into the history ring and drawing the observation from it.
#include <algorithm>
#include <cstring>

#include "engine/board.h"

namespace ortolan {

namespace {

inline int32_t wrapping_add(int32_t value, int32_t delta) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}

void fill(int32_t* plane, int32_t value) { std::fill(plane, plane + 64, value); }

}  // namespace

void Board::record_position() { record_position(pack_squares(bitboards), hash_state()); }

void Board::record_position(const PackedSquares& squares, uint64_t key) {
    int32_t& count = repetition_count[key];
    count = wrapping_add(count, 1);

    const int32_t n = wrapping_add(count, -1);
    n_repititions = n;
    const int32_t repetition_white = side == white ? n : prev_n_repititions;
    const int32_t repetition_black = side == black ? n : prev_n_repititions;

    state_pos = (state_pos + 1) % history_capacity;
    if (state_history.size() < history_capacity)
        state_history.append(squares, repetition_white, repetition_black);
    else
        state_history.replace((state_pos + history_capacity - 1) % history_capacity, squares,
                              repetition_white, repetition_black);
    prev_n_repititions = n;
}

void Board::build_observation(Observation& out) const {
    // A slot with a record has all its planes written; only the empty ones are cleared.
    for (int32_t e = 0; e < history_capacity; ++e) {
        const int32_t index = (state_pos + history_capacity - 1 - e) % history_capacity;
        int32_t(*slot)[64] = &out.planes[record_planes * e];
        if (index < state_history.size())
            state_history.write_planes(index, side != white, slot);
        else
            std::memset(slot, 0, record_planes * sizeof slot[0]);
    }
    fill(out.planes[112], side != white ? 1 : 0);
    fill(out.planes[113], total_move_count);
    fill(out.planes[114], (castle & white_kingside) ? 1 : 0);
    fill(out.planes[115], (castle & white_queenside) ? 1 : 0);
    fill(out.planes[116], (castle & black_kingside) ? 1 : 0);
    fill(out.planes[117], (castle & black_queenside) ? 1 : 0);
    fill(out.planes[118], no_progress_count);

    // Black sees the board turned half round, except on the position a reset has just set up.
    if (side == black && just_reset == 0)
        for (auto& plane : out.planes) std::reverse(plane, plane + 64);
}

Observation Board::build_observation() const {
    Observation out;
    build_observation(out);
    return out;
}

}  // namespace ortolan
