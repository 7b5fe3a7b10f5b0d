// Playing a move and the legality test that follows it.
#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

// Counters are plain int32 members that a snapshot may set to any value; they wrap instead of
// overflowing.
inline int32_t wrapping_increment(int32_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) + 1u);
}

// The rook that castling with the king onto `king_target` moves, from its home square to the
// square the king crossed; rook is -1 for a target no castling reaches.
struct CastlingRook {
    int32_t rook;
    int32_t from;
    int32_t to;
};

constexpr CastlingRook castling_rook(int32_t king_target) {
    switch (king_target) {
        case g1:
            return {piece::R, h1, f1};
        case c1:
            return {piece::R, a1, d1};
        case g8:
            return {piece::r, h8, f8};
        case c8:
            return {piece::r, a8, d8};
        default:
            return {-1, 0, 0};
    }
}

}  // namespace

int32_t Board::make_move(Move move) {
    backup_position();
    const int32_t entry_no_progress = no_progress_count;
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t source = move_source(move);
    const int32_t target = move_target(move);
    const int32_t mover = move_piece(move);
    const int32_t promoted = move_promoted(move);

    if (mover == piece::P || mover == piece::p) no_progress_count = 0;
    clear_bit(bitboards[mover], source);
    set_bit(bitboards[mover], target);

    if (move_capture(move)) {
        no_progress_count = 0;
        const int32_t first = them == white ? 0 : 6;
        for (int32_t victim = first; victim < first + 6; ++victim) {
            if (get_bit(bitboards[victim], target)) {
                clear_bit(bitboards[victim], target);
                break;
            }
        }
    }
    if (promoted) {
        no_progress_count = 0;
        clear_bit(bitboards[us == white ? piece::P : piece::p], target);
        set_bit(bitboards[promoted], target);
    }
    if (move_enpassant(move)) {
        no_progress_count = 0;
        if (us == white)
            clear_bit(bitboards[piece::p], target + 8);
        else
            clear_bit(bitboards[piece::P], target - 8);
    }
    enpassant = no_square;
    if (move_double_push(move)) {
        no_progress_count = 0;
        enpassant = us == white ? target + 8 : target - 8;
    }
    if (move_castling(move)) {
        // The rook's destination is set even when its home square is empty.
        if (const CastlingRook r = castling_rook(target); r.rook >= 0) {
            clear_bit(bitboards[r.rook], r.from);
            set_bit(bitboards[r.rook], r.to);
        }
    }
    castle &= castle_keep_mask[source] & castle_keep_mask[target];

    Bitboard white_pieces = 0;
    Bitboard black_pieces = 0;
    for (int32_t i = 0; i < 6; ++i) {
        white_pieces |= bitboards[i];
        black_pieces |= bitboards[i + 6];
    }
    occupancies[white] = white_pieces;
    occupancies[black] = black_pieces;
    occupancies[both] = white_pieces | black_pieces;

    no_progress_count = wrapping_increment(no_progress_count);
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

void Board::play_legal_move(Move move) {
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t source = move_source(move);
    const int32_t target = move_target(move);
    const int32_t mover = move_piece(move);
    const int32_t promoted = move_promoted(move);
    const Bitboard from = square_bit(source);
    const Bitboard to = square_bit(target);
    const int32_t pawn = us == white ? piece::P : piece::p;

    bool progress = mover == pawn;
    bitboards[mover] ^= from | to;
    occupancies[us] ^= from | to;
    if (move_capture(move)) {
        progress = true;
        const int32_t first = them == white ? 0 : 6;
        for (int32_t victim = first; victim < first + 6; ++victim) {
            if (bitboards[victim] & to) {
                bitboards[victim] ^= to;
                occupancies[them] ^= to;
                break;
            }
        }
    }
    if (promoted) {
        bitboards[pawn] ^= to;
        bitboards[promoted] |= to;
    }
    if (move_enpassant(move)) {
        const int32_t victim = us == white ? piece::p : piece::P;
        const Bitboard taken = square_bit(us == white ? target + 8 : target - 8);
        if (bitboards[victim] & taken) {
            bitboards[victim] ^= taken;
            occupancies[them] ^= taken;
        }
    }
    enpassant = no_square;
    if (move_double_push(move)) enpassant = us == white ? target + 8 : target - 8;
    if (move_castling(move)) {
        // The rook's destination is set even when its home square is empty.
        if (const CastlingRook r = castling_rook(target); r.rook >= 0) {
            const Bitboard home = square_bit(r.from);
            if (bitboards[r.rook] & home) {
                bitboards[r.rook] ^= home;
                occupancies[us] ^= home;
            }
            bitboards[r.rook] |= square_bit(r.to);
            occupancies[us] |= square_bit(r.to);
        }
    }
    castle &= castle_keep_mask[source] & castle_keep_mask[target];
    occupancies[both] = occupancies[white] | occupancies[black];
    no_progress_count = progress ? 1 : wrapping_increment(no_progress_count);
    side = them;
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
