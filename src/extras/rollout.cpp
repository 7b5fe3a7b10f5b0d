// Random playouts.
#include <cstring>
#include <exception>
#include <random>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/board.h"
#include "engine/perft.h"

namespace ortolan {

namespace {

// A rollout ends after this many steps at the latest.
constexpr int32_t rollout_steps = 400;

// Unbiased index in 0..n-1 by multiply-and-reject on 32-bit outputs, written out so that the
// draws do not depend on the standard library's distribution.
uint32_t draw_index(std::mt19937& engine, uint32_t n) {
    uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(engine())) * n;
    uint32_t low = static_cast<uint32_t>(product);
    if (low < n) {
        const uint32_t threshold = (0u - n) % n;
        while (low < threshold) {
            product = static_cast<uint64_t>(static_cast<uint32_t>(engine())) * n;
            low = static_cast<uint32_t>(product);
        }
    }
    return static_cast<uint32_t>(product >> 32);
}

// The move whose action number is the k-th smallest of the list. Action numbers are
// plane * 64 + source, so one 64-bit word per plane holds them in ascending order.
Move kth_smallest_action(const ActionMap::Entry* entries, int32_t count, uint32_t k) {
    uint64_t planes[action_planes] = {};
    for (int32_t i = 0; i < count; ++i)
        planes[entries[i].first >> 6] |= uint64_t{1} << (entries[i].first & 63);
    int32_t plane = 0;
    for (;; ++plane) {
        if (!planes[plane]) continue;
        const uint32_t here = static_cast<uint32_t>(count_bits(planes[plane]));
        if (k < here) break;
        k -= here;
    }
    uint64_t word = planes[plane];
    for (; k > 0; --k) word &= word - 1;
    const int32_t action = plane * 64 + lowest_square(word);
    for (int32_t i = 0;; ++i)
        if (entries[i].first == action) return entries[i].second;
}

// The action whose number is the k-th smallest of the legal ones, counting from 0: planes are
// passed eight or sixteen at a time by the sum of their counts, then one at a time, then the
// sources of the plane in ascending order.
int32_t kth_smallest_action(const LegalPlanes& legal, uint32_t k) {
    int32_t plane = 0;
#if defined(__SSE2__)
    // Sixteen planes at a time: the sum of absolute differences against zero adds up each
    // half of the sixteen counts.
    const __m128i zero = _mm_setzero_si128();
    for (;; plane += 16) {
        const __m128i sums = _mm_sad_epu8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(legal.counts + plane)), zero);
        const uint32_t low = static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
        if (k < low) break;
        k -= low;
        const uint32_t high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        if (k < high) {
            plane += 8;
            break;
        }
        k -= high;
    }
#else
    for (;; plane += 8) {
        uint64_t counts;
        std::memcpy(&counts, legal.counts + plane, sizeof counts);
        counts = (counts & 0x00ff00ff00ff00ffULL) + ((counts >> 8) & 0x00ff00ff00ff00ffULL);
        const uint32_t here = static_cast<uint32_t>((counts * 0x0001000100010001ULL) >> 48);
        if (k < here) break;
        k -= here;
    }
#endif
    for (;; ++plane) {
        const uint32_t here = legal.counts[plane];
        if (k < here) break;
        k -= here;
    }
    Bitboard sources = legal.planes[plane];
    for (; k > 0; --k) sources &= sources - 1;
    return plane * 64 + lowest_square(sources);
}

// Code of the piece on a square of packed squares: piece + 1, 0 when empty.
inline int32_t packed_code(const PackedSquares& packed, int32_t square) {
    return (packed.codes[square >> 1] >> ((square & 1) * 4)) & 15;
}

// The key of the position after a move, from the key before it: each bitboard the move
// changed, the side to move, the en passant square and the castling rights are swapped.
uint64_t moved_key(uint64_t key, const PositionCopy& before, const Board& after, Move move,
                   int32_t victim) {
    auto swap_bitboard = [&](int32_t p) {
        key ^= before.bitboards[p] * hash_piece_multiplier ^
               after.bitboards[p] * hash_piece_multiplier;
    };
    const int32_t us = before.side;
    swap_bitboard(move_piece(move));
    if (victim >= 0) swap_bitboard(victim);
    if (move_promoted(move)) swap_bitboard(move_promoted(move));
    if (move_enpassant(move)) swap_bitboard(us == white ? piece::p : piece::P);
    if (move_castling(move)) swap_bitboard(us == white ? piece::R : piece::r);
    key ^= hash_white_to_move ^ hash_black_to_move;
    if (before.enpassant != no_square) key ^= uint64_t{1} << (before.enpassant & 63);
    if (after.enpassant != no_square) key ^= uint64_t{1} << (after.enpassant & 63);
    if (before.castle != after.castle)
        key ^= static_cast<uint64_t>(static_cast<int64_t>(before.castle)) * hash_castle_multiplier ^
               static_cast<uint64_t>(static_cast<int64_t>(after.castle)) * hash_castle_multiplier;
    return key;
}

// What a plain move (no promotion, en passant or castling) of the plane path changed, enough
// to take it back: such a move changes the mover's bitboard and at most the victim's.
struct PlainMove {
    Move move;
    int32_t victim;                                // Piece taken on the target, -1 for none
    int32_t castle, enpassant, no_progress_count;  // before the move
};

constexpr Move special_flags = 0xf << 16 | 1 << 22 | 1 << 23;  // promoted, en passant, castling

// The key after a plain move, from the key before it and the position after it.
uint64_t plain_moved_key(uint64_t key, const PlainMove& last, const Board& after) {
    const Bitboard path = square_bit(move_source(last.move)) | square_bit(move_target(last.move));
    const Bitboard mover = after.bitboards[move_piece(last.move)];
    key ^= (mover ^ path) * hash_piece_multiplier ^ mover * hash_piece_multiplier;
    if (last.victim >= 0) {
        const Bitboard victim = after.bitboards[last.victim];
        key ^= (victim | square_bit(move_target(last.move))) * hash_piece_multiplier ^
               victim * hash_piece_multiplier;
    }
    key ^= hash_white_to_move ^ hash_black_to_move;
    if (last.enpassant != no_square) key ^= uint64_t{1} << (last.enpassant & 63);
    if (after.enpassant != no_square) key ^= uint64_t{1} << (after.enpassant & 63);
    if (last.castle != after.castle)
        key ^= static_cast<uint64_t>(static_cast<int64_t>(last.castle)) * hash_castle_multiplier ^
               static_cast<uint64_t>(static_cast<int64_t>(after.castle)) * hash_castle_multiplier;
    return key;
}

// The position before a plain move, from the position after it.
PositionCopy before_plain_move(const Board& after, const PlainMove& last) {
    PositionCopy before(after);
    const Bitboard target = square_bit(move_target(last.move));
    before.bitboards[move_piece(last.move)] ^= square_bit(move_source(last.move)) | target;
    if (last.victim >= 0) before.bitboards[last.victim] |= target;
    Bitboard by_side[2] = {0, 0};
    for (int32_t p = 0; p < 12; ++p) by_side[p / 6] |= before.bitboards[p];
    before.occupancies[white] = by_side[white];
    before.occupancies[black] = by_side[black];
    before.occupancies[both] = by_side[white] | by_side[black];
    before.side ^= 1;
    before.castle = last.castle;
    before.enpassant = last.enpassant;
    before.no_progress_count = last.no_progress_count;
    return before;
}

// Code of the piece on a square, as pack_squares gives it.
uint8_t code_at(const Bitboard (&pieces)[12], int32_t square) {
    for (int32_t p = 0; p < 12; ++p)
        if (get_bit(pieces[p], square)) return static_cast<uint8_t>(p + 1);
    return 0;
}

inline void set_code(PackedSquares& packed, int32_t square, uint8_t code) {
    const int32_t shift = (square & 1) * 4;
    uint8_t& byte = packed.codes[square >> 1];
    byte = static_cast<uint8_t>((byte & ~(15 << shift)) | code << shift);
}

// Brings the packed squares of a consistent position up to date after a move was played.
void update_packed(PackedSquares& packed, const Bitboard (&pieces)[12], Move move) {
    const int32_t target = move_target(move);
    const int32_t promoted = move_promoted(move);
    set_code(packed, move_source(move), 0);
    set_code(packed, target, static_cast<uint8_t>((promoted ? promoted : move_piece(move)) + 1));
    if (move_enpassant(move)) {
        const int32_t taken = move_piece(move) == piece::P ? target + 8 : target - 8;
        set_code(packed, taken, code_at(pieces, taken));
    }
    if (move_castling(move)) {
        // Rook home and destination by the king's target; other targets move no rook.
        int32_t squares[2] = {-1, -1};
        switch (target) {
            case g1:
                squares[0] = h1, squares[1] = f1;
                break;
            case c1:
                squares[0] = a1, squares[1] = d1;
                break;
            case g8:
                squares[0] = h8, squares[1] = f8;
                break;
            case c8:
                squares[0] = a8, squares[1] = d8;
                break;
            default:
                break;
        }
        for (int32_t s : squares)
            if (s >= 0) set_code(packed, s, code_at(pieces, s));
    }
}

// One value from the standard library's random device. Where the library was built with the
// system's getentropy, that source is asked for by name: the default device first probes the
// processor's random-number instructions, which costs over ten microseconds per construction
// on some machines, a sixth of a whole rollout. A library that refuses the name gets the
// default device.
uint32_t device_seed() {
#if defined(_GLIBCXX_HAVE_GETENTROPY)
    try {
        std::random_device device("getentropy");
        return static_cast<uint32_t>(device());
    } catch (const std::exception&) {
    }
#endif
    std::random_device device;
    return static_cast<uint32_t>(device());
}

}  // namespace

int32_t Board::roll_out() { return roll_out(device_seed()); }

// Plays exactly what repeated get_actions and step would play for the same draws, with every
// member ending as they would leave it, but enumerates the legal moves once per ply and builds
// no observations. After the last step the ActionMap holds the actions of the position before
// that step's move, as step leaves it; it is filled once, from that position, at the end.
//
// The legal moves come from legal_planes when the position allows it, and from the generator
// and its legality filter otherwise. A consistent position stays consistent under make_move.
int32_t Board::roll_out(uint32_t seed) {
    std::mt19937 engine(seed);
    LegalPlanes planes;
    ActionMap::Entry entries[max_moves];
    bool consistent = consistent_position();
    bool by_planes = false;
    // While the rollout takes the plane path, the packed piece planes and the key of the
    // current position are kept up to date move by move.
    PackedSquares packed;
    uint64_t key = 0;
    bool tracked = false;
    auto count_legal = [&] {
        if (!consistent) consistent = consistent_position();
        by_planes = consistent && legal_planes(planes);
        return by_planes ? planes.count : legal_actions(entries);
    };

    // The position before the last move: copied whole before a special move or one of the
    // trial path, found by taking back a plain move.
    PositionCopy before(*this);
    PlainMove last{};
    bool last_plain = false;
    auto keep_action_map = [&] {
        const PositionCopy now(*this);
        if (last_plain) before = before_plain_move(*this, last);
        before.put_back(*this);
        rebuild_action_map();
        now.put_back(*this);
    };
    int32_t count = count_legal();
    if (count == 0) {
        rebuild_action_map();
        return terminal_reward();
    }
    // Room for every position the rollout can record, so that the repetition map does not
    // grow table by table on the way.
    repetition_count.reserve(repetition_count.size() + rollout_steps);
    try {
        for (int32_t steps = 1;; ++steps) {
            const uint32_t k = draw_index(engine, static_cast<uint32_t>(count));
            if (by_planes) {
                if (!tracked) {
                    packed = pack_squares(bitboards);
                    key = hash_state();
                    tracked = true;
                }
                const int32_t action = kth_smallest_action(planes, k);
                const int32_t source = action & 63;
                const Move move = action_move(action >> 6, source, packed_code(packed, source) - 1);
                const int32_t victim = packed_code(packed, move_target(move)) - 1;
                last_plain = !(move & special_flags);
                if (last_plain)
                    last = {move, victim, castle, enpassant, no_progress_count};
                else
                    before = PositionCopy(*this);
                just_reset = 0;
                play_legal_move(move);
                key = last_plain ? plain_moved_key(key, last, *this)
                                 : moved_key(key, before, *this, move, victim);
                update_packed(packed, bitboards, move);
                record_position(packed, key);
            } else {
                const Move move = kth_smallest_action(entries, count, k);
                last_plain = false;
                before = PositionCopy(*this);
                just_reset = 0;
                make_move(move);
                tracked = false;
                record_position();
            }
            total_move_count = static_cast<int32_t>(static_cast<uint32_t>(total_move_count) + 1u);

            count = count_legal();
            int32_t result = -2;
            if (count == 0)
                result = terminal_reward();
            else if (n_repititions == 2 || no_progress_count >= 50 || steps == rollout_steps)
                result = 0;
            if (result != -2) {
                keep_action_map();
                return result;
            }
        }
    } catch (...) {
        keep_action_map();
        throw;
    }
}

}  // namespace ortolan
