// Playing a move: make_move with its backup and legality test for any position, and play and
// undo for the legal moves of a consistent one.
#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

constexpr int32_t pawn_of(int32_t side) { return side == white ? piece::P : piece::p; }

// The square of the pawn an en passant capture onto target takes.
constexpr int32_t enpassant_victim_square(int32_t target, int32_t mover_side) {
    return mover_side == white ? target + 8 : target - 8;
}

}  // namespace

void Board::rebuild_occupancies() {
    occupancies[white] = occupancies[black] = 0;
    for (int32_t i = 0; i < 6; ++i) {
        occupancies[white] |= bitboards[i];
        occupancies[black] |= bitboards[i + 6];
    }
    occupancies[both] = occupancies[white] | occupancies[black];
}

int32_t Board::make_move(Move move) {
    backup_position();
    const int32_t entry_no_progress = no_progress_count;
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t source = move_source(move);
    const int32_t target = move_target(move);
    const int32_t mover = move_piece(move);
    const int32_t promoted = move_promoted(move);

    clear_bit(bitboards[mover], source);
    set_bit(bitboards[mover], target);
    if (move_capture(move)) {
        for (int32_t victim = them * 6; victim < them * 6 + 6; ++victim) {
            if (get_bit(bitboards[victim], target)) {
                clear_bit(bitboards[victim], target);
                break;
            }
        }
    }
    if (promoted) {
        clear_bit(bitboards[pawn_of(us)], target);
        set_bit(bitboards[promoted], target);
    }
    if (move_enpassant(move))
        clear_bit(bitboards[pawn_of(them)], enpassant_victim_square(target, us));
    enpassant = move_double_push(move) ? enpassant_victim_square(target, us) : no_square;
    if (const CastlingRule* rule = move_castling(move) ? castling_rule_to(target) : nullptr) {
        // The rook's destination is set even when its home square is empty.
        clear_bit(bitboards[rule->rook], rule->rook_from);
        set_bit(bitboards[rule->rook], rule->passed);
    }
    castle &= castle_keep_mask[source] & castle_keep_mask[target];
    rebuild_occupancies();
    no_progress_count = clock_after(rules, no_progress_count,
                                    mover == piece::P || mover == piece::p || move_capture(move));
    side = them;

    // A side without a king cannot leave it in check.
    const int32_t king = king_square(us);
    if (king >= 0 && is_square_attacked(king, them)) {
        restore_position();
        no_progress_count = entry_no_progress;
        return 0;
    }
    return 1;
}

void Board::play(Move move, MoveUndo& undo) {
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t target = move_target(move);
    const int32_t mover = move_piece(move);
    const int32_t promoted = move_promoted(move);
    const Bitboard path = square_bit(move_source(move)) | square_bit(target);
    undo = {move, -1, -1, 0, castle, enpassant, no_progress_count};

    bitboards[mover] ^= path;
    occupancies[us] ^= path;
    if (move_capture(move)) {
        // En passant takes only a pawn, and only when there is one behind the target.
        const bool enpassant_capture = move_enpassant(move);
        const int32_t square = enpassant_capture ? enpassant_victim_square(target, us) : target;
        const int32_t first = enpassant_capture ? pawn_of(them) : them * 6;
        const int32_t last = enpassant_capture ? first : first + 5;
        for (int32_t victim = first; victim <= last; ++victim) {
            if (get_bit(bitboards[victim], square)) {
                bitboards[victim] ^= square_bit(square);
                occupancies[them] ^= square_bit(square);
                undo.taken = victim;
                break;
            }
        }
    }
    if (promoted) {
        bitboards[mover] ^= square_bit(target);
        bitboards[promoted] ^= square_bit(target);
    }
    enpassant = move_double_push(move) ? enpassant_victim_square(target, us) : no_square;
    if (const CastlingRule* rule = move_castling(move) ? castling_rule_to(target) : nullptr) {
        undo.rook = rule->rook;
        undo.rook_squares =
            (bitboards[rule->rook] & square_bit(rule->rook_from)) | square_bit(rule->passed);
        bitboards[rule->rook] ^= undo.rook_squares;
        occupancies[us] ^= undo.rook_squares;
    }
    castle &= castle_keep_mask[move_source(move)] & castle_keep_mask[target];
    occupancies[both] = occupancies[white] | occupancies[black];
    no_progress_count =
        clock_after(rules, no_progress_count, mover == pawn_of(us) || move_capture(move));
    side = them;
}

void Board::undo(const MoveUndo& undo) {
    const Move move = undo.move;
    const int32_t them = side;
    const int32_t us = them ^ 1;
    const int32_t target = move_target(move);
    const int32_t mover = move_piece(move);
    const int32_t promoted = move_promoted(move);
    const Bitboard path = square_bit(move_source(move)) | square_bit(target);

    bitboards[mover] ^= path;
    occupancies[us] ^= path;
    if (promoted) {
        bitboards[mover] ^= square_bit(target);
        bitboards[promoted] ^= square_bit(target);
    }
    if (undo.taken >= 0) {
        const Bitboard square =
            square_bit(move_enpassant(move) ? enpassant_victim_square(target, us) : target);
        bitboards[undo.taken] ^= square;
        occupancies[them] ^= square;
    }
    if (undo.rook >= 0) {
        bitboards[undo.rook] ^= undo.rook_squares;
        occupancies[us] ^= undo.rook_squares;
    }
    occupancies[both] = occupancies[white] | occupancies[black];
    castle = undo.castle;
    enpassant = undo.enpassant;
    no_progress_count = undo.no_progress_count;
    side = us;
}

bool Board::try_move(Move move) {
    const int32_t saved_no_progress = no_progress_count;
    if (!make_move(move)) return false;
    restore_position();
    no_progress_count = saved_no_progress;
    return true;
}

bool Board::in_check() const {
    const int32_t king = king_square(side);
    return king >= 0 && is_square_attacked(king, side ^ 1);
}

int32_t Board::terminal_reward() const {
    if (!in_check()) return 0;
    return side == black ? 1 : -1;
}

}  // namespace ortolan
