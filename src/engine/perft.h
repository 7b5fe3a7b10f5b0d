// Counting move sequences (perft): generate, play each move with make_move, recurse, take back.
#pragma once

#include <cstdint>

#include "engine/board.h"

namespace ortolan {

// Everything make_move may change: the position and the no-progress counter. The backup is
// only one deep, so each ply of a search keeps one of these.
struct PositionCopy {
    Bitboard bitboards[12];
    Bitboard occupancies[3];
    int32_t side, enpassant, castle, no_progress_count;

    explicit PositionCopy(const Board& b);
    void put_back(Board& b) const;
    friend bool operator==(const PositionCopy& a, const PositionCopy& b);
};

// Number of move sequences of the given depth that make_move accepts at every ply. The Board
// is left as it was.
uint64_t perft(Board& board, int32_t depth);

// The same count, with the last ply counted from the legal move list instead of being played.
uint64_t perft_bulk(Board& board, int32_t depth);

}  // namespace ortolan
