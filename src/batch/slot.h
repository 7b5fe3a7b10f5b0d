// What a slot of the batched environment does with its Board besides the Board's own members
// (advance, outcome, write_observation): one generation of the legal moves per step, kept in
// the ActionMap, serves the mask, the legal action list, the next step's validation and the
// test for the end of the game.
#pragma once

#include <cstdint>

#include "engine/board.h"

namespace ortolan::slot {

// Replaces the ActionMap by the legal moves of the position, one per action in ascending
// order of action number, and returns their number. Every change of a slot's position ends
// with this, so the ActionMap always holds the legal moves of the current position.
int32_t refresh_legal(Board& board);

// The Move of a legal action of the position, or nullptr when the action is not legal.
const Move* find_legal(const Board& board, int32_t action);

// The legality mask, flat: entry plane * 64 + square is 1 for each legal action, else 0.
void write_mask(const Board& board, uint8_t* out);

}  // namespace ortolan::slot
