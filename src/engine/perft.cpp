#include "engine/perft.h"

namespace ortolan {

namespace {

// A consistent position stays consistent under play and undo; any other is played with
// make_move and put back from a copy of the Board.
template <bool bulk, bool consistent>
uint64_t count_sequences(Board& board, int32_t depth) {
    if (depth <= 0) return 1;
    MoveList list;
    const int32_t count = board.legal_moves(list);
    if (bulk && depth == 1) return static_cast<uint64_t>(count);
    uint64_t nodes = 0;
    for (int32_t i = 0; i < count; ++i) {
        if constexpr (consistent) {
            MoveUndo undo;
            board.play(list.moves[i], undo);
            nodes += count_sequences<bulk, consistent>(board, depth - 1);
            board.undo(undo);
        } else {
            const Board saved = board;
            board.make_move(list.moves[i]);
            nodes += count_sequences<bulk, consistent>(board, depth - 1);
            board = saved;
        }
    }
    return nodes;
}

template <bool bulk>
uint64_t count_from(Board& board, int32_t depth) {
    return board.consistent_position() ? count_sequences<bulk, true>(board, depth)
                                       : count_sequences<bulk, false>(board, depth);
}

}  // namespace

uint64_t perft(Board& board, int32_t depth) { return count_from<false>(board, depth); }

uint64_t perft_bulk(Board& board, int32_t depth) { return count_from<true>(board, depth); }

}  // namespace ortolan
