// The position key, its update move by move, and the occurrence count of each position.
#include "env/repetition.h"

#include "engine/attacks.h"
#include "engine/board.h"
#include "extras/state.h"

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

// The chess rule sets' key: each piece kind has its own term, so positions that hand the same
// bitboards to different kinds differ, and each term goes through a finalising mix.
constexpr uint64_t mix(uint64_t x) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 29;
    x *= 0x94D049BB133111EBULL;
    return x ^ (x >> 32);
}
constexpr uint64_t kind_key(int32_t piece, Bitboard b) {
    return mix(b ^ (static_cast<uint64_t>(piece + 1) * 0xD1B54A32D192ED03ULL));
}
constexpr uint64_t chess_castle_key(int32_t castle) {
    return mix(static_cast<uint64_t>(castle & 15) + 0x632BE59BD9B4E019ULL);
}
constexpr uint64_t chess_enpassant_key(int32_t square) {
    return mix(static_cast<uint64_t>(square) + 0x8CB92BA72F3D8DD7ULL);
}

}  // namespace

uint64_t Board::position_key() { return key_of_carried(carried_key()); }

bool Board::enpassant_capturable() {
    if (enpassant < 0 || enpassant >= 64) return false;
    const int32_t pawn = side == white ? piece::P : piece::p;
    // Our pawns that attack the square are those a pawn of theirs there would attack.
    for (Bitboard from = pawn_attack_table[side ^ 1][enpassant] & bitboards[pawn]; from;)
        if (try_move(encode_move(pop_lowest(from), enpassant, pawn, 0, 1, 0, 1, 0))) return true;
    return false;
}

bool Board::insufficient_material() const {
    const Bitboard* b = bitboards;
    if (b[piece::P] | b[piece::p] | b[piece::R] | b[piece::r] | b[piece::Q] | b[piece::q])
        return false;
    const Bitboard knights = b[piece::N] | b[piece::n];
    const Bitboard bishops = b[piece::B] | b[piece::b];
    // A lone knight against a bare king; or bishops (of either side) all on one colour.
    if (knights) return !bishops && count_bits(occupancies[both]) == 3;
    constexpr Bitboard light = 0xAA55AA55AA55AA55ULL;
    return !(bishops & light) || !(bishops & ~light);
}

bool Board::draw_claimable() {
    ActionMap::Entry legal[max_moves];
    const int32_t count = legal_actions(legal);
    if (count == 0) return n_repititions >= 2;
    if (n_repititions >= 2 || no_progress_count >= 100) return true;
    // A move that brings the third occurrence, or a clock of 100 with a move left to the
    // opponent. Positions before the last pawn move or capture cannot come back, and a clock
    // below 99 cannot reach 100, so most positions need no trial.
    bool repeated = false;
    repetition_count.for_each([&](uint64_t, int32_t n) { repeated = repeated || n >= 2; });
    if (!repeated && no_progress_count < 99) return false;
    const State saved = save_state();
    const int32_t saved_reset = just_reset;
    for (int32_t i = 0; i < count; ++i) {
        advance(legal[i].second);
        const bool claim = n_repititions >= 2 || (no_progress_count >= 100 && has_legal_move());
        load_state(saved);
        total_move_count = saved.total_move_count;
        just_reset = saved_reset;
        if (claim) return true;
    }
    return false;
}

uint64_t Board::hash_state() const {
    uint64_t h = 0;
    for (const Bitboard b : bitboards) h ^= piece_key(b);
    return h ^ side_key(side) ^ enpassant_key(enpassant) ^ castle_key(castle);
}

// Each bitboard the move changed swaps its old term for its new one, and so do the side to
// move, the en passant square and the castling rights; the terms of an en passant square or
// of rights that did not change cancel out, as they most often do. Keys is the key's terms:
// piece(kind, bitboard), side(side), castle(rights) and enpassant(square).
template <class Keys>
uint64_t Board::updated_key(uint64_t key, const MoveUndo& undo, Keys keys) const {
    const Move move = undo.move;
    const int32_t us = side ^ 1;
    const int32_t target = move_target(move);
    auto swap = [&](int32_t piece, Bitboard changed) {
        key ^= keys.piece(piece, bitboards[piece] ^ changed) ^ keys.piece(piece, bitboards[piece]);
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
    key ^= keys.side(white) ^ keys.side(black);
    if (undo.enpassant != enpassant)
        key ^= keys.enpassant(undo.enpassant) ^ keys.enpassant(enpassant);
    if (undo.castle != castle) key ^= keys.castle(undo.castle) ^ keys.castle(castle);
    return key;
}

namespace {

struct OrtolanKeys {
    static uint64_t piece(int32_t, Bitboard b) { return piece_key(b); }
    static uint64_t side(int32_t s) { return side_key(s); }
    static uint64_t castle(int32_t c) { return castle_key(c); }
    static uint64_t enpassant(int32_t square) { return enpassant_key(square); }
};

// The chess key less its en passant term, which depends on more than the square.
struct ChessKeys {
    static uint64_t piece(int32_t p, Bitboard b) { return kind_key(p, b); }
    static uint64_t side(int32_t s) { return side_key(s); }
    static uint64_t castle(int32_t c) { return chess_castle_key(c); }
    static uint64_t enpassant(int32_t) { return 0; }
};

}  // namespace

uint64_t Board::key_after(uint64_t key, const MoveUndo& undo) const {
    return updated_key(key, undo, OrtolanKeys{});
}

uint64_t Board::carried_key() const {
    if (rules == rules_ortolan) return hash_state();
    uint64_t h = side_key(side) ^ chess_castle_key(castle);
    for (int32_t p = 0; p < 12; ++p) h ^= kind_key(p, bitboards[p]);
    return h;
}

uint64_t Board::chess_key_after(uint64_t key, const MoveUndo& undo) const {
    return updated_key(key, undo, ChessKeys{});
}

uint64_t Board::chess_key_of_carried(uint64_t carried) {
    return enpassant_capturable() ? carried ^ chess_enpassant_key(enpassant) : carried;
}

void Board::record_position() { record_position(position_key(), false); }

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
