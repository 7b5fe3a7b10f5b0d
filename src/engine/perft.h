// Counting move sequences (perft): generate, play each move with make_move, recurse, take back.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/board.h"

namespace ortolan {

// Everything make_move may change: the position and the no-progress counter. The backup is
// only one deep, so each ply of a search keeps one of these.
struct PositionCopy {
    Bitboard bitboards[12];
    Bitboard occupancies[3];
    int32_t side, enpassant, castle, no_progress_count;

    explicit PositionCopy(const Board& b)
        : side(b.side),
          enpassant(b.enpassant),
          castle(b.castle),
          no_progress_count(b.no_progress_count) {
        std::memcpy(bitboards, b.bitboards, sizeof bitboards);
        std::memcpy(occupancies, b.occupancies, sizeof occupancies);
    }
    void put_back(Board& b) const {
        std::memcpy(b.bitboards, bitboards, sizeof bitboards);
        std::memcpy(b.occupancies, occupancies, sizeof occupancies);
        b.side = side;
        b.enpassant = enpassant;
        b.castle = castle;
        b.no_progress_count = no_progress_count;
    }
    friend bool operator==(const PositionCopy& a, const PositionCopy& b);
};

// Number of move sequences of the given depth that make_move accepts at every ply. The Board
// is left as it was.
uint64_t perft(Board& board, int32_t depth);

// The same count, with the last ply counted from the legal move list instead of being played.
uint64_t perft_bulk(Board& board, int32_t depth);

}  // namespace ortolan
