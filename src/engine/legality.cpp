// Finding the legal moves among the generated ones. A move is legal when make_move accepts
// it; trying every move that way is the reference. Most moves need no trial:
// - when the side to move is not in check, a move of a piece other than the king, not en
//   passant, can only expose the king if the piece stands pinned between it and an enemy
//   slider;
// - an ordinary move of the only king is legal exactly when its target is not attacked once
//   the king has left its square (a captured piece attacks nothing on its own square).
#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

enum Verdict { illegal = 0, legal = 1, needs_trial = 2 };

struct Filter {
    const Board& board;
    bool trial_others;  // in check: every move but the king's is tried
    bool single_king;   // the mover has exactly one king
    Bitboard pinned;
    Bitboard without_king;  // occupancy with the king lifted off its square
    int32_t king_piece;
    int32_t them;

    Verdict judge(Move move) const {
        if (move_piece(move) == king_piece) {
            if (!single_king || move_castling(move)) return needs_trial;
            return board.is_attacked_through(move_target(move), them, without_king) ? illegal
                                                                                    : legal;
        }
        if (trial_others || move_enpassant(move) || get_bit(pinned, move_source(move)))
            return needs_trial;
        return legal;
    }
};

Filter make_filter(const Board& board) {
    const int32_t us = board.side;
    const int32_t them = us ^ 1;
    const int32_t king_piece = us == white ? piece::K : piece::k;
    const Bitboard kings = board.bitboards[king_piece];
    Filter filter{board, false, false, 0, 0, -1, them};
    // Without a king every move is legal; make_move accepts them all.
    if (!kings) return filter;
    filter.king_piece = king_piece;
    filter.single_king = !(kings & (kings - 1));
    filter.without_king = board.occupancies[both] & ~kings;

    const int32_t king = lowest_square(kings);
    if (board.is_square_attacked(king, them)) {
        filter.trial_others = true;
        return filter;
    }
    const int32_t offset = them == white ? 0 : 6;
    const Bitboard queens = board.bitboards[offset + piece::Q];
    const Bitboard snipers =
        (rook_attacks(king, 0) & (board.bitboards[offset + piece::R] | queens)) |
        (bishop_attacks(king, 0) & (board.bitboards[offset + piece::B] | queens));
    for (Bitboard s = snipers; s;) {
        const Bitboard between = between_table[king][pop_lowest(s)] & board.occupancies[both];
        if (between && !(between & (between - 1)) && (between & board.occupancies[us]))
            filter.pinned |= between;
    }
    return filter;
}

}  // namespace

void Board::keep_legal_moves(MoveList& list) {
    const Filter filter = make_filter(*this);
    int32_t kept = 0;
    for (int32_t i = 0; i < list.count; ++i) {
        const Move move = list.moves[i];
        const Verdict verdict = filter.judge(move);
        if (verdict == legal || (verdict == needs_trial && try_move(move)))
            list.moves[kept++] = move;
    }
    list.count = kept;
}

bool Board::has_legal_move() {
    MoveList list;
    generate_moves(list);
    const Filter filter = make_filter(*this);
    for (int32_t i = 0; i < list.count; ++i) {
        const Verdict verdict = filter.judge(list.moves[i]);
        if (verdict == legal || (verdict == needs_trial && try_move(list.moves[i]))) return true;
    }
    return false;
}

}  // namespace ortolan
