// The calls a slot of the batched environment makes on its Board, kept in one place: each is
// what Board::reset and Board::step do, taken apart so that one generation of the legal moves
// per step serves the mask, the legal action list, the next step's validation and the test
// for the end of the game.
#pragma once

#include <cstdint>

#include "engine/board.h"

namespace ortolan::slot {

// Replaces the ActionMap by the legal moves of the position, in ascending order of action
// number, and returns their number. Every operation below that changes the position ends with
// this, so the ActionMap always holds the legal moves of the current position.
int32_t refresh_legal(Board& board);

// The Move of a legal action of the position, or nullptr when the action is not legal.
const Move* find_legal(const Board& board, int32_t action);

// Everything Board::step does to the game for a legal move, except building the observation
// and judging the end: play it, record the position, count the step, clear just_reset.
void advance(Board& board, Move move);

struct Outcome {
    int32_t done;
    int32_t reward;  // White's point of view
};

// The end-of-game rule of Board::step, given the number of legal moves of the position.
Outcome outcome(const Board& board, int32_t legal_count);

// Board::reset with the FEN text in place of the start position, except that a loaded
// Black-to-move position is drawn from Black's seat, as after any step.
void reset_from_fen(Board& board, const char* fen);

// The 119 planes of the observation of the position, row-major [plane][square], as
// Board::build_observation draws them: int32_t exactly, uint8_t clipped to 0..255, float
// converted. scratch is working space of the caller's.
template <class T>
void write_observation(const Board& board, Observation& scratch, T* out);

// The legality mask, flat: entry plane * 64 + square is 1 for each legal action, else 0.
void write_mask(const Board& board, uint8_t* out);

}  // namespace ortolan::slot
