#include "engine/perft.h"

#include <cstring>

namespace ortolan {

namespace {

// The position and the counter that make_move changes; the backup is only one deep, so each
// ply keeps its own copy.
struct Saved {
    Bitboard bitboards[12];
    Bitboard occupancies[3];
    int32_t side, enpassant, castle, no_progress_count;

    explicit Saved(const Board& b)
        : side(b.side), enpassant(b.enpassant), castle(b.castle), no_progress_count(b.no_progress_count) {
        std::memcpy(bitboards, b.bitboards, sizeof bitboards);
        std::memcpy(occupancies, b.occupancies, sizeof occupancies);
    }
    void restore(Board& b) const {
        std::memcpy(b.bitboards, bitboards, sizeof bitboards);
        std::memcpy(b.occupancies, occupancies, sizeof occupancies);
        b.side = side;
        b.enpassant = enpassant;
        b.castle = castle;
        b.no_progress_count = no_progress_count;
    }
};

}  // namespace

uint64_t perft(Board& board, int32_t depth) {
    if (depth <= 0) return 1;
    MoveList list;
    board.generate_moves(list);
    uint64_t nodes = 0;
    const Saved saved(board);
    for (int32_t i = 0; i < list.count; ++i) {
        if (!board.make_move(list.moves[i])) continue;
        nodes += depth == 1 ? 1 : perft(board, depth - 1);
        saved.restore(board);
    }
    return nodes;
}

}  // namespace ortolan
