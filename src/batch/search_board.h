// The Board operations a search needs, in one place: play a legal move as a step does, list
// the legal moves, judge the end of the game and write the observation.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/board.h"

namespace ortolan::search_board {

// What a step does to the game for a legal move, without building the observation or judging
// the end.
inline void play(Board& board, Move move) {
    board.just_reset = 0;
    board.make_move(move);
    board.record_position();
    board.total_move_count =
        static_cast<int32_t>(static_cast<uint32_t>(board.total_move_count) + 1u);
}

// The legal moves with their action numbers; out has room for max_moves entries.
inline int32_t legal_actions(Board& board, ActionMap::Entry* out) {
    return board.legal_actions(out);
}

inline constexpr float not_ended = 2.0f;

// The value of a finished game for the side to move (-1 mated, 0 drawn), given the number of
// legal moves of the position; not_ended while the game goes on. Step's rule: no legal move
// ends it as mate or stalemate, then a third occurrence or the no-progress counter.
inline float end_value(const Board& board, int32_t legal_count) {
    if (legal_count == 0) return board.terminal_reward() != 0 ? -1.0f : 0.0f;
    if (board.n_repititions == 2 || board.no_progress_count >= 50) return 0.0f;
    return not_ended;
}

// Scratch space for writing observations.
struct ObservationScratch {
    Observation planes;
};

// The observation of the position as 119 x 64 values of T: exact for int32, clipped to
// 0..255 for uint8.
template <class T>
void write_observation(const Board& board, ObservationScratch& scratch, T* out) {
    board.build_observation(scratch.planes);
    const int32_t* in = &scratch.planes.planes[0][0];
    constexpr int32_t count = observation_planes * 64;
    if constexpr (sizeof(T) == 1) {
        for (int32_t i = 0; i < count; ++i) out[i] = static_cast<T>(std::clamp(in[i], 0, 255));
    } else if constexpr (std::is_same_v<T, int32_t>) {
        std::memcpy(out, in, sizeof(int32_t) * count);
    } else {
        for (int32_t i = 0; i < count; ++i) out[i] = static_cast<T>(in[i]);
    }
}

}  // namespace ortolan::search_board
