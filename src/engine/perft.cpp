#include "engine/perft.h"

#include <cstring>

namespace ortolan {

bool operator==(const PositionCopy& a, const PositionCopy& b) {
    return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
           std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
           a.side == b.side && a.enpassant == b.enpassant && a.castle == b.castle &&
           a.no_progress_count == b.no_progress_count;
}

namespace {

template <bool bulk>
uint64_t count_sequences(Board& board, int32_t depth) {
    if (depth <= 0) return 1;
    MoveList list;
    board.generate_moves(list);
    if (bulk) {
        board.keep_legal_moves(list);
        if (depth == 1) return static_cast<uint64_t>(list.count);
    }
    uint64_t nodes = 0;
    const PositionCopy saved(board);
    for (int32_t i = 0; i < list.count; ++i) {
        if (!board.make_move(list.moves[i])) continue;
        nodes += depth == 1 ? 1 : count_sequences<bulk>(board, depth - 1);
        saved.put_back(board);
    }
    return nodes;
}

}  // namespace

uint64_t perft(Board& board, int32_t depth) { return count_sequences<false>(board, depth); }

uint64_t perft_bulk(Board& board, int32_t depth) { return count_sequences<true>(board, depth); }

}  // namespace ortolan
