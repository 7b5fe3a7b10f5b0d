// The position key, its update move by move, and the occurrence count of each position.
#include "env/repetition.h"

#include "engine/board.h"

namespace ortolan {

namespace {

// A fixed mix without random tables: every bitboard shares one multiplier, so the key does not
// depend on which piece kind holds which bitboard.
constexpr uint64_t piece_key(Bitboard b) { return b * hash_piece_multiplier; }
constexpr uint64_t side_key(int32_t side) {
    return side == white ? hash_white_to_move : hash_black_to_move;
}
constexpr uint64_t enpassant_key(int32_t square) {
    return square != no_square ? uint64_t{1} << (square & 63) : 0;
}
constexpr uint64_t castle_key(int32_t castle) {
    return static_cast<uint64_t>(static_cast<int64_t>(castle)) * hash_castle_multiplier;
}

}  // namespace

uint64_t Board::hash_state() const {
    uint64_t h = 0;
    for (const Bitboard b : bitboards) h ^= piece_key(b);
    return h ^ side_key(side) ^ enpassant_key(enpassant) ^ castle_key(castle);
}

// Each bitboard the move changed swaps its old term for its new one, and so do the side to
// move, the en passant square and the castling rights; the terms of an en passant square or
// of rights that did not change cancel out, as they most often do.
uint64_t Board::key_after(uint64_t key, const MoveUndo& undo) const {
    const Move move = undo.move;
    const int32_t us = side ^ 1;
    const int32_t target = move_target(move);
    auto swap = [&](int32_t piece, Bitboard changed) {
        key ^= piece_key(bitboards[piece] ^ changed) ^ piece_key(bitboards[piece]);
    };
    if (const int32_t promoted = move_promoted(move)) {
        swap(move_piece(move), square_bit(move_source(move)));
        swap(promoted, square_bit(target));
    } else {
        swap(move_piece(move), square_bit(move_source(move)) | square_bit(target));
    }
    if (undo.taken >= 0)
        swap(undo.taken,
             square_bit(move_enpassant(move) ? (us == white ? target + 8 : target - 8) : target));
    if (undo.rook >= 0) swap(undo.rook, undo.rook_squares);
    key ^= side_key(white) ^ side_key(black);
    if (undo.enpassant != enpassant)
        key ^= enpassant_key(undo.enpassant) ^ enpassant_key(enpassant);
    if (undo.castle != castle) key ^= castle_key(undo.castle) ^ castle_key(castle);
    return key;
}

void Board::record_position() { record_position(hash_state(), false); }

void Board::record_position(uint64_t key, bool consistent) {
    int32_t& count = repetition_count[key];
    count = wrapping_add(count, 1);
    const int32_t n = wrapping_add(count, -1);
    n_repititions = n;
    const int32_t repetition_white = side == white ? n : prev_n_repititions;
    const int32_t repetition_black = side == black ? n : prev_n_repititions;
    state_pos = (state_pos + 1) % history_capacity;
    if (state_history.size() < history_capacity)
        state_history.append(bitboards, repetition_white, repetition_black, consistent);
    else
        state_history.replace((state_pos + history_capacity - 1) % history_capacity, bitboards,
                              repetition_white, repetition_black, consistent);
    prev_n_repititions = n;
}

bool operator==(const RepetitionMap& a, const RepetitionMap& b) {
    if (a.size() != b.size()) return false;
    bool equal = true;
    a.for_each([&](uint64_t key, int32_t value) {
        const int32_t* other = b.find(key);
        equal = equal && other && *other == value;
    });
    return equal;
}

}  // namespace ortolan
