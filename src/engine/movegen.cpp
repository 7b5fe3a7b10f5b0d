// Pseudo-legal move generation and the attack test.
#include "engine/movegen.h"

#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

inline void add(MoveList& list, Move move) { list.moves[list.count++] = move; }

// Promotion pieces in the order queen, rook, bishop, knight, offset by colour.
inline void add_promotions(MoveList& list, int32_t source, int32_t target, int32_t pawn,
                           int32_t capture) {
    for (int32_t kind : {piece::Q, piece::R, piece::B, piece::N})
        add(list, encode_move(source, target, pawn, kind + pawn, capture, 0, 0, 0));
}

}  // namespace

void Board::generate_moves(MoveList& list) const {
    list.count = 0;
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t offset = us == white ? 0 : 6;
    const Bitboard all = occupancies[both];
    const Bitboard own = occupancies[us];
    const Bitboard enemy = occupancies[them];

    // Pawns.
    {
        const int32_t pawn = offset + piece::P;
        const int32_t forward = us == white ? -8 : 8;
        const int32_t promotion_row = us == white ? 1 : 6;
        const int32_t start_row = us == white ? 6 : 1;
        for (Bitboard pawns = bitboards[pawn]; pawns;) {
            const int32_t source = pop_lowest(pawns);
            const bool promotes = row_of(source) == promotion_row;
            const int32_t target = source + forward;
            if (target >= 0 && target <= 63 && !get_bit(all, target)) {
                if (promotes) {
                    add_promotions(list, source, target, pawn, 0);
                } else {
                    add(list, encode_move(source, target, pawn, 0, 0, 0, 0, 0));
                    const int32_t jump = target + forward;
                    if (row_of(source) == start_row && !get_bit(all, jump))
                        add(list, encode_move(source, jump, pawn, 0, 0, 1, 0, 0));
                }
            }
            const Bitboard attacks = pawn_attack_table[us][source];
            for (Bitboard targets = attacks & enemy; targets;) {
                const int32_t capture_target = pop_lowest(targets);
                if (promotes)
                    add_promotions(list, source, capture_target, pawn, 1);
                else
                    add(list, encode_move(source, capture_target, pawn, 0, 1, 0, 0, 0));
            }
            // Only onto an empty square: a lenient position could put a piece there.
            if (enpassant != no_square && get_bit(attacks, enpassant) && !get_bit(all, enpassant))
                add(list, encode_move(source, enpassant, pawn, 0, 1, 0, 1, 0));
        }
    }

    // Knights, bishops, rooks, queens.
    for (int32_t kind = piece::N; kind <= piece::Q; ++kind) {
        const int32_t mover = offset + kind;
        for (Bitboard pieces = bitboards[mover]; pieces;) {
            const int32_t source = pop_lowest(pieces);
            Bitboard attacks;
            switch (kind) {
                case piece::N:
                    attacks = knight_attack_table[source];
                    break;
                case piece::B:
                    attacks = bishop_attacks(source, all);
                    break;
                case piece::R:
                    attacks = rook_attacks(source, all);
                    break;
                default:
                    attacks = queen_attacks(source, all);
                    break;
            }
            for (Bitboard targets = attacks & ~own; targets;) {
                const int32_t target = pop_lowest(targets);
                add(list, encode_move(source, target, mover, 0, get_bit(enemy, target), 0, 0, 0));
            }
        }
    }

    // Castling, then the king's ordinary moves. Castling needs the king on its home square;
    // the rook is represented by the right alone.
    const int32_t king = offset + piece::K;
    if (get_bit(bitboards[king], us == white ? e1 : e8)) {
        for (const CastlingRule& rule : castling_rules[us]) {
            if ((castle & rule.right) && !(all & rule.must_be_empty) &&
                !is_square_attacked(rule.king_from, them) && !is_square_attacked(rule.passed, them))
                add(list, rule.move);
        }
    }
    for (Bitboard kings = bitboards[king]; kings;) {
        const int32_t source = pop_lowest(kings);
        for (Bitboard targets = king_attack_table[source] & ~own; targets;) {
            const int32_t target = pop_lowest(targets);
            add(list, encode_move(source, target, king, 0, get_bit(enemy, target), 0, 0, 0));
        }
    }
}

int32_t Board::is_attacked_through(int32_t square, int32_t by_side, Bitboard all) const {
    const int32_t offset = by_side == white ? 0 : 6;
    if (pawn_attack_table[by_side ^ 1][square] & bitboards[offset + piece::P]) return 1;
    if (knight_attack_table[square] & bitboards[offset + piece::N]) return 1;
    const Bitboard diagonal = bishop_attacks(square, all);
    if (diagonal & bitboards[offset + piece::B]) return 1;
    const Bitboard straight = rook_attacks(square, all);
    if (straight & bitboards[offset + piece::R]) return 1;
    if ((diagonal | straight) & bitboards[offset + piece::Q]) return 1;
    if (king_attack_table[square] & bitboards[offset + piece::K]) return 1;
    return 0;
}

}  // namespace ortolan
