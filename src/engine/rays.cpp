// Attack sets computed square by square: the leaper masks, the slider relevance masks and the
// slow ray walk. They fill the lookup tables once and serve as the reference that checks them.
#include <initializer_list>

#include "engine/attacks.h"
#include "engine/types.h"

namespace ortolan {

namespace {

// Adds (row + dr, file + df) to the set when it is on the board.
void add_if_on_board(Bitboard& set, int32_t square, int32_t dr, int32_t df) {
    const int32_t row = row_of(square) + dr;
    const int32_t file = file_of(square) + df;
    if (row >= 0 && row < 8 && file >= 0 && file < 8) set_bit(set, row * 8 + file);
}

constexpr int32_t bishop_directions[4][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
constexpr int32_t rook_directions[4][2] = {{-1, 0}, {1, 0}, {0, 1}, {0, -1}};

Bitboard walk_rays(const int32_t (&directions)[4][2], int32_t square, Bitboard blockers) {
    Bitboard attacks = 0;
    for (const auto& d : directions) {
        int32_t row = row_of(square) + d[0];
        int32_t file = file_of(square) + d[1];
        for (; row >= 0 && row < 8 && file >= 0 && file < 8; row += d[0], file += d[1]) {
            const int32_t target = row * 8 + file;
            set_bit(attacks, target);
            if (get_bit(blockers, target)) break;
        }
    }
    return attacks;
}

}  // namespace

Bitboard pawn_attack_mask(int32_t side, int32_t square) {
    Bitboard set = 0;
    const int32_t forward = side == white ? -1 : 1;
    add_if_on_board(set, square, forward, -1);
    add_if_on_board(set, square, forward, 1);
    return set;
}

Bitboard knight_attack_mask(int32_t square) {
    Bitboard set = 0;
    for (int32_t dr : {-2, -1, 1, 2})
        for (int32_t df : {-2, -1, 1, 2})
            if (dr != df && dr != -df) add_if_on_board(set, square, dr, df);
    return set;
}

Bitboard king_attack_mask(int32_t square) {
    Bitboard set = 0;
    for (int32_t dr = -1; dr <= 1; ++dr)
        for (int32_t df = -1; df <= 1; ++df)
            if (dr != 0 || df != 0) add_if_on_board(set, square, dr, df);
    return set;
}

Bitboard bishop_mask(int32_t square) {
    Bitboard mask = 0;
    for (const auto& d : bishop_directions) {
        int32_t row = row_of(square) + d[0];
        int32_t file = file_of(square) + d[1];
        for (; row >= 1 && row <= 6 && file >= 1 && file <= 6; row += d[0], file += d[1])
            set_bit(mask, row * 8 + file);
    }
    return mask;
}

Bitboard rook_mask(int32_t square) {
    Bitboard mask = 0;
    const int32_t row = row_of(square);
    const int32_t file = file_of(square);
    for (int32_t r = 1; r <= 6; ++r)
        if (r != row) set_bit(mask, r * 8 + file);
    for (int32_t f = 1; f <= 6; ++f)
        if (f != file) set_bit(mask, row * 8 + f);
    return mask;
}

Bitboard bishop_rays(int32_t square, Bitboard blockers) {
    return walk_rays(bishop_directions, square, blockers);
}

Bitboard rook_rays(int32_t square, Bitboard blockers) {
    return walk_rays(rook_directions, square, blockers);
}

Bitboard occupancy_subset(int32_t index, int32_t bit_count, Bitboard mask) {
    Bitboard subset = 0;
    for (int32_t k = 0; k < bit_count && mask; ++k) {
        const int32_t square = pop_lowest(mask);
        if (index & (1 << k)) set_bit(subset, square);
    }
    return subset;
}

}  // namespace ortolan
