// Storage and one-time set-up of the attack tables.
#include "engine/attacks.h"

#include <mutex>

#include "engine/types.h"

namespace ortolan {

Bitboard pawn_attack_table[2][64];
Bitboard knight_attack_table[64];
Bitboard king_attack_table[64];
Bitboard bishop_relevance_mask[64];
Bitboard rook_relevance_mask[64];
Bitboard bishop_attack_table[64][512];
Bitboard rook_attack_table[64][4096];
Bitboard between_table[64][64];

void build_leaper_tables() {
    for (int32_t square = 0; square < 64; ++square) {
        pawn_attack_table[white][square] = pawn_attack_mask(white, square);
        pawn_attack_table[black][square] = pawn_attack_mask(black, square);
        knight_attack_table[square] = knight_attack_mask(square);
        king_attack_table[square] = king_attack_mask(square);
    }
}

void build_slider_tables(int32_t bishop) {
    for (int32_t square = 0; square < 64; ++square) {
        bishop_relevance_mask[square] = bishop_mask(square);
        rook_relevance_mask[square] = rook_mask(square);
        const Bitboard mask = bishop ? bishop_relevance_mask[square] : rook_relevance_mask[square];
        const int32_t bits = count_bits(mask);
        const int32_t shift = 64 - (bishop ? bishop_index_bits[square] : rook_index_bits[square]);
        const Bitboard magic = bishop ? bishop_magic[square] : rook_magic[square];
        // Every subset of the mask, by stepping the carry through the mask's bits: the same
        // subsets that occupancy_subset gives for the indices 0 .. 2^bits - 1, in that order.
        Bitboard blockers = 0;
        for (int32_t index = 0; index < (1 << bits); ++index, blockers = (blockers - mask) & mask) {
            const uint64_t h = (blockers * magic) >> shift;
            if (bishop)
                bishop_attack_table[square][h] = bishop_rays(square, blockers);
            else
                rook_attack_table[square][h] = rook_rays(square, blockers);
        }
    }
}

void build_between_table() {
    for (int32_t from = 0; from < 64; ++from) {
        for (int32_t dr = -1; dr <= 1; ++dr) {
            for (int32_t df = -1; df <= 1; ++df) {
                if (dr == 0 && df == 0) continue;
                Bitboard passed = 0;
                int32_t row = row_of(from) + dr;
                int32_t file = file_of(from) + df;
                for (; row >= 0 && row < 8 && file >= 0 && file < 8; row += dr, file += df) {
                    between_table[from][row * 8 + file] = passed;
                    set_bit(passed, row * 8 + file);
                }
            }
        }
    }
}

void init_attack_tables() {
    static std::once_flag once;
    std::call_once(once, [] {
        build_leaper_tables();
        build_slider_tables(1);
        build_slider_tables(0);
        build_between_table();
    });
}

}  // namespace ortolan
