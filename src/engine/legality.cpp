// Finding the legal moves among the generated ones. A move is legal when make_move accepts
// it; trying every move that way is the reference. Most moves need no trial: when the side to
// move is not in check, a move of a piece other than the king, not en passant, can only expose
// the king if the piece stands pinned between it and an enemy slider.
#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

struct TrialFilter {
    bool trial_all;
    Bitboard pinned;
    int32_t king_piece;

    bool needs_trial(Move move) const {
        return trial_all || move_piece(move) == king_piece || move_enpassant(move) ||
               get_bit(pinned, move_source(move));
    }
};

TrialFilter make_filter(const Board& board) {
    const int32_t us = board.side;
    const int32_t them = us ^ 1;
    const int32_t king = board.king_square(us);
    const int32_t king_piece = us == white ? piece::K : piece::k;
    // Without a king every move is legal; make_move accepts them all.
    if (king < 0) return {false, 0, -1};
    if (board.is_square_attacked(king, them)) return {true, 0, king_piece};

    const int32_t offset = them == white ? 0 : 6;
    const Bitboard queens = board.bitboards[offset + piece::Q];
    const Bitboard snipers =
        (rook_attacks(king, 0) & (board.bitboards[offset + piece::R] | queens)) |
        (bishop_attacks(king, 0) & (board.bitboards[offset + piece::B] | queens));
    Bitboard pinned = 0;
    for (Bitboard s = snipers; s;) {
        const Bitboard between = between_table[king][pop_lowest(s)] & board.occupancies[both];
        if (between && !(between & (between - 1)) && (between & board.occupancies[us]))
            pinned |= between;
    }
    return {false, pinned, king_piece};
}

}  // namespace

void Board::keep_legal_moves(MoveList& list) {
    const TrialFilter filter = make_filter(*this);
    int32_t kept = 0;
    for (int32_t i = 0; i < list.count; ++i) {
        const Move move = list.moves[i];
        if (!filter.needs_trial(move) || try_move(move)) list.moves[kept++] = move;
    }
    list.count = kept;
}

bool Board::has_legal_move() {
    MoveList list;
    generate_moves(list);
    const TrialFilter filter = make_filter(*this);
    for (int32_t i = 0; i < list.count; ++i)
        if (!filter.needs_trial(list.moves[i]) || try_move(list.moves[i])) return true;
    return false;
}

}  // namespace ortolan
