// Legal actions found from the position itself. The squares the enemy attacks once the king
// has left its square, the pinned pieces and the checking pieces decide every move but en
// passant, which is played as a trial. A legal move sets its source square in its action plane.
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/attacks.h"
#include "engine/board.h"

namespace ortolan {

namespace {

constexpr Bitboard file_a = 0x0101010101010101ULL;
constexpr Bitboard file_h = file_a << 7;
constexpr Bitboard row_mask(int32_t row) { return Bitboard{0xff} << (row * 8); }

// Number of set bits, written out so that no library call is made where the instruction set
// has no population count.
inline int32_t bit_total(Bitboard b) {
    b = b - ((b >> 1) & 0x5555555555555555ULL);
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return static_cast<int32_t>((b * 0x0101010101010101ULL) >> 56);
}

// The first of the three under-promotion planes (knight, bishop, rook) of a pawn move whose
// straight plane is given: 64 + direction * 3.
constexpr int32_t under_promotion_plane(int32_t straight_plane) {
    return 64 + straight_plane / 7 * 3;
}

// The sum of the plane counts, added up once at the end rather than move by move.
inline int32_t count_total(const LegalPlanes& out) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (size_t i = 0; i < sizeof out.counts; i += 16)
        sums = _mm_add_epi64(
            sums,
            _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out.counts + i)), zero));
    return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
#else
    int32_t total = 0;
    for (uint8_t c : out.counts) total += c;
    return total;
#endif
}

struct CastlingSquares {
    int32_t right;
    Bitboard must_be_empty;
    int32_t passed;  // the square the king crosses
    int32_t target;
};

// clang-format off
constexpr CastlingSquares castling_squares[2][2] = {
    {{white_kingside,  square_bit(f1) | square_bit(g1),                  f1, g1},
     {white_queenside, square_bit(b1) | square_bit(c1) | square_bit(d1), d1, c1}},
    {{black_kingside,  square_bit(f8) | square_bit(g8),                  f8, g8},
     {black_queenside, square_bit(b8) | square_bit(c8) | square_bit(d8), d8, c8}},
};
// clang-format on

// Square steps of the eight directions from White's seat; Black's are the opposites.
constexpr int32_t white_steps[8] = {-9, -8, -7, 1, 9, 8, 7, -1};
constexpr int32_t knight_offsets[8] = {17, 15, 6, -10, -17, -15, -6, 10};

struct PlaneWriter {
    LegalPlanes& out;

    void add(int32_t plane, Bitboard sources) {
        out.planes[plane] |= sources;
        const int32_t n = bit_total(sources);
        out.counts[plane] = static_cast<uint8_t>(out.counts[plane] + n);
    }
    void add_one(int32_t plane, Bitboard source_bit) {
        out.planes[plane] |= source_bit;
        ++out.counts[plane];
    }
    // One piece's moves to every target of the set; row holds the planes by target.
    void add_targets(const int8_t* row, Bitboard source_bit, Bitboard targets) {
        while (targets) add_one(row[pop_lowest(targets)], source_bit);
    }
    void add_under_promotions(int32_t straight_plane, Bitboard sources) {
        const int32_t first = under_promotion_plane(straight_plane);
        add(first, sources);
        add(first + 1, sources);
        add(first + 2, sources);
    }
    // Pawn moves found for all free pawns at once, as source sets by plane: one step (queen
    // promotions included), two steps, captures forward-left and forward-right.
    void add_pawn_sets(Bitboard step, Bitboard jump, Bitboard left, Bitboard right,
                       Bitboard promotion_row) {
        if (step) add(7, step);
        if (jump) add(8, jump);
        if (left) add(0, left);
        if (right) add(14, right);
        if (const Bitboard p = step & promotion_row) add_under_promotions(7, p);
        if (const Bitboard p = left & promotion_row) add_under_promotions(0, p);
        if (const Bitboard p = right & promotion_row) add_under_promotions(14, p);
    }
};

}  // namespace

bool Board::consistent_position() const {
    Bitboard seen = 0;
    Bitboard by_side[2] = {0, 0};
    for (int32_t p = 0; p < 12; ++p) {
        if (bitboards[p] & seen) return false;
        seen |= bitboards[p];
        by_side[p / 6] |= bitboards[p];
    }
    return occupancies[white] == by_side[white] && occupancies[black] == by_side[black] &&
           occupancies[both] == seen;
}

bool Board::legal_planes(LegalPlanes& out) {
    const int32_t us = side;
    const int32_t them = us ^ 1;
    const int32_t own_offset = us == white ? 0 : 6;
    const Bitboard king_bit = bitboards[own_offset + piece::K];
    if (!king_bit || (king_bit & (king_bit - 1))) return false;
    const int32_t king = lowest_square(king_bit);

    clear_bytes(&out, sizeof out);
    PlaneWriter writer{out};
    const int8_t(*straight)[64] = plane_tables.straight[us];

    const Bitboard all = occupancies[both];
    const Bitboard own = occupancies[us];
    const Bitboard enemy = occupancies[them];
    const Bitboard* foe = bitboards + (6 - own_offset);
    const Bitboard foe_diagonal = foe[piece::B] | foe[piece::Q];
    const Bitboard foe_straight = foe[piece::R] | foe[piece::Q];

    // What the enemy attacks with the king lifted off its square: a king step is legal exactly
    // when its target is not attacked that way.
    const Bitboard lifted = all & ~king_bit;
    const Bitboard foe_pawns = foe[piece::P];
    Bitboard attacked = us == white ? ((foe_pawns << 9) & ~file_a) | ((foe_pawns << 7) & ~file_h)
                                    : ((foe_pawns >> 9) & ~file_h) | ((foe_pawns >> 7) & ~file_a);
    for (Bitboard b = foe[piece::N]; b;) attacked |= knight_attack_table[pop_lowest(b)];
    for (Bitboard b = foe_diagonal; b;) attacked |= bishop_attacks(pop_lowest(b), lifted);
    for (Bitboard b = foe_straight; b;) attacked |= rook_attacks(pop_lowest(b), lifted);
    for (Bitboard b = foe[piece::K]; b;) attacked |= king_attack_table[pop_lowest(b)];

    // Targets open to the other pieces: any square not our own, and in check only the checker
    // and the squares between it and the king; none at all in double check.
    Bitboard target_mask = ~own;
    const bool check = attacked & king_bit;
    if (check) {
        const Bitboard checkers = (pawn_attack_table[us][king] & foe_pawns) |
                                  (knight_attack_table[king] & foe[piece::N]) |
                                  (bishop_attacks(king, all) & foe_diagonal) |
                                  (rook_attacks(king, all) & foe_straight) |
                                  (king_attack_table[king] & foe[piece::K]);
        if (checkers & (checkers - 1))
            target_mask = 0;
        else if (checkers)
            target_mask = between_table[king][lowest_square(checkers)] | checkers;
    }

    // A piece that alone stands between the king and an enemy slider may only move along
    // that line, up to taking the slider.
    Bitboard pinned = 0;
    int32_t pin_count = 0;
    int32_t pin_square[8];
    Bitboard pin_line[8];
    for (Bitboard snipers =
             (rook_attacks(king, 0) & foe_straight) | (bishop_attacks(king, 0) & foe_diagonal);
         snipers;) {
        const int32_t sniper = pop_lowest(snipers);
        const Bitboard between = between_table[king][sniper] & all;
        if (between && !(between & (between - 1)) && (between & own)) {
            pinned |= between;
            pin_square[pin_count] = lowest_square(between);
            pin_line[pin_count++] = between_table[king][sniper] | square_bit(sniper);
        }
    }
    auto pin_line_of = [&](int32_t square) {
        for (int32_t i = 0;; ++i)
            if (pin_square[i] == square) return pin_line[i];
    };

    // Pawns that are not pinned, all at once.
    const int32_t pawn = own_offset + piece::P;
    const Bitboard pawns = bitboards[pawn];
    const Bitboard free_pawns = pawns & ~pinned;
    const Bitboard empty = ~all;
    if (us == white) {
        const Bitboard step = (free_pawns >> 8) & empty;
        writer.add_pawn_sets((step & target_mask) << 8,
                             (((step & row_mask(5)) >> 8) & empty & target_mask) << 16,
                             ((free_pawns >> 9) & ~file_h & enemy & target_mask) << 9,
                             ((free_pawns >> 7) & ~file_a & enemy & target_mask) << 7, row_mask(1));
    } else {
        const Bitboard step = (free_pawns << 8) & empty;
        writer.add_pawn_sets((step & target_mask) >> 8,
                             (((step & row_mask(2)) << 8) & empty & target_mask) >> 16,
                             ((free_pawns << 9) & ~file_a & enemy & target_mask) >> 9,
                             ((free_pawns << 7) & ~file_h & enemy & target_mask) >> 7, row_mask(6));
    }
    // Pinned pawns one by one.
    const int32_t forward = us == white ? -8 : 8;
    const int32_t promotion_row = us == white ? 1 : 6;
    const int32_t start_row = us == white ? 6 : 1;
    for (Bitboard b = pawns & pinned; b;) {
        const int32_t source = pop_lowest(b);
        const Bitboard source_bit = square_bit(source);
        Bitboard targets = pawn_attack_table[us][source] & enemy;
        const int32_t ahead = source + forward;
        if (ahead >= 0 && ahead <= 63 && !get_bit(all, ahead)) {
            set_bit(targets, ahead);
            if (row_of(source) == start_row && !get_bit(all, ahead + forward))
                set_bit(targets, ahead + forward);
        }
        targets &= pin_line_of(source) & target_mask;
        const bool promotes = row_of(source) == promotion_row;
        while (targets) {
            const int32_t plane = straight[source][pop_lowest(targets)];
            writer.add_one(plane, source_bit);
            if (promotes) writer.add_under_promotions(plane, source_bit);
        }
    }

    // Knights (a pinned knight has no move), bishops, rooks and queens.
    for (Bitboard b = bitboards[own_offset + piece::N] & ~pinned; b;) {
        const int32_t source = pop_lowest(b);
        const Bitboard source_bit = square_bit(source);
        for (Bitboard targets = knight_attack_table[source] & target_mask; targets;)
            writer.add_one(plane_tables.knight[source - pop_lowest(targets) + 17], source_bit);
    }
    for (int32_t kind = piece::B; kind <= piece::Q; ++kind) {
        for (Bitboard b = bitboards[own_offset + kind]; b;) {
            const int32_t source = pop_lowest(b);
            const Bitboard source_bit = square_bit(source);
            Bitboard targets = kind == piece::B   ? bishop_attacks(source, all)
                               : kind == piece::R ? rook_attacks(source, all)
                                                  : queen_attacks(source, all);
            targets &= target_mask;
            if (pinned & source_bit) targets &= pin_line_of(source);
            writer.add_targets(straight[source], source_bit, targets);
        }
    }

    // The king: steps, then castling out of a position without check, through and onto
    // squares that are not attacked.
    writer.add_targets(straight[king], king_bit, king_attack_table[king] & ~own & ~attacked);
    if (!check && king == (us == white ? e1 : e8)) {
        for (const CastlingSquares& c : castling_squares[us]) {
            if ((castle & c.right) && !(all & c.must_be_empty) && !get_bit(attacked, c.passed) &&
                !get_bit(attacked, c.target))
                writer.add_one(straight[king][c.target], king_bit);
        }
    }

    // En passant, by trial: taking the pawn can open a line onto the king.
    if (enpassant != no_square && !get_bit(all, enpassant)) {
        for (Bitboard b = pawn_attack_table[them][enpassant] & pawns; b;) {
            const int32_t source = pop_lowest(b);
            if (try_move(encode_move(source, enpassant, pawn, 0, 1, 0, 1, 0)))
                writer.add_one(straight[source][enpassant], square_bit(source));
        }
    }
    out.count = count_total(out);
    return true;
}

Move Board::action_move(int32_t plane, int32_t source) const {
    const int32_t own_offset = side == white ? 0 : 6;
    int32_t mover = own_offset;
    while (mover < own_offset + piece::K && !get_bit(bitboards[mover], source)) ++mover;
    return action_move(plane, source, mover);
}

namespace {

// What an action plane says about its move, by side: the square step from source to target,
// the piece kind of an under-promotion (0 for none) and whether it is a pawn's straight step.
struct PlaneStep {
    int8_t delta;
    int8_t promoted_kind;
    int8_t distance;
    int8_t straight_ahead;  // direction 1: forward
};

constexpr std::array<std::array<PlaneStep, action_planes>, 2> make_plane_steps() {
    std::array<std::array<PlaneStep, action_planes>, 2> t{};
    constexpr int32_t kinds[3] = {piece::N, piece::B, piece::R};
    for (int32_t us = 0; us < 2; ++us) {
        for (int32_t plane = 0; plane < action_planes; ++plane) {
            PlaneStep& s = t[us][plane];
            if (plane >= 56 && plane < 64) {
                s.delta = static_cast<int8_t>(-knight_offsets[plane - 56]);
                s.distance = 1;
                continue;
            }
            int32_t direction = plane / 7;
            int32_t distance = plane % 7 + 1;
            if (plane >= 64) {
                direction = (plane - 64) / 3;
                distance = 1;
                s.promoted_kind = static_cast<int8_t>(kinds[(plane - 64) % 3]);
            }
            const int32_t step = us == white ? white_steps[direction] : -white_steps[direction];
            s.delta = static_cast<int8_t>(step * distance);
            s.distance = static_cast<int8_t>(distance);
            s.straight_ahead = direction == 1;
        }
    }
    return t;
}

constexpr std::array<std::array<PlaneStep, action_planes>, 2> plane_steps = make_plane_steps();

}  // namespace

Move Board::action_move(int32_t plane, int32_t source, int32_t mover) const {
    const int32_t us = side;
    const int32_t own_offset = us == white ? 0 : 6;
    const PlaneStep step = plane_steps[us][plane];
    const int32_t target = source + step.delta;
    const int32_t capture = get_bit(occupancies[us ^ 1], target);
    if (mover == own_offset + piece::P) {
        // A pawn's diagonal step onto an empty square is en passant.
        if (!step.straight_ahead && !capture)
            return encode_move(source, target, mover, 0, 1, 0, 1, 0);
        int32_t promoted = step.promoted_kind ? own_offset + step.promoted_kind : 0;
        if (!promoted && row_of(source) == (us == white ? 1 : 6)) promoted = own_offset + piece::Q;
        return encode_move(source, target, mover, promoted, capture, step.distance == 2, 0, 0);
    }
    if (mover == own_offset + piece::K && step.distance == 2)
        return encode_move(source, target, mover, 0, 0, 0, 0, 1);
    return encode_move(source, target, mover, 0, capture, 0, 0, 0);
}

}  // namespace ortolan
