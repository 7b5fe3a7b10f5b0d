// The Board operations a search needs, in one place: play a legal move as a step does, list
// the legal moves and judge the end of the game (observations are written as a batch writes
// them, batch/observation_type.h).
#pragma once

#include <cstdint>

#include "engine/board.h"

namespace ortolan::search_board {

// What a step does to the game for a legal move, without building the observation or judging
// the end.
inline void play(Board& board, Move move) { board.advance(move); }

// The legal moves with their action numbers; out has room for max_moves entries.
inline int32_t legal_actions(Board& board, ActionMap::Entry* out) {
    return board.legal_actions(out);
}

inline constexpr float not_ended = 2.0f;

// The value of a finished game for the side to move (-1 mated, 0 drawn), given the number of
// legal moves of the position; not_ended while the game goes on.
inline float end_value(const Board& board, int32_t legal_count) {
    const Outcome outcome = board.outcome(legal_count);
    if (!outcome.done) return not_ended;
    return outcome.reward != 0 ? -1.0f : 0.0f;
}

}  // namespace ortolan::search_board
