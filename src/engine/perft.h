// Counting move sequences (perft): the legal moves of each position, each played and taken
// back in turn.
#pragma once

#include <cstdint>

#include "engine/board.h"

namespace ortolan {

// Number of move sequences of the given depth that make_move accepts at every ply. The Board
// is left as it was.
uint64_t perft(Board& board, int32_t depth);

// The same count, with the last ply counted from the legal move list instead of being played.
uint64_t perft_bulk(Board& board, int32_t depth);

}  // namespace ortolan
