// Attack tables: leaper sets per square, slider sets found by a multiply-and-shift hash of
// the blockers on the relevant squares (magic bitboards).
#pragma once

#include <cstdint>

#include "engine/bits.h"
#include "engine/types.h"

namespace ortolan {

extern Bitboard pawn_attack_table[2][64];
extern Bitboard knight_attack_table[64];
extern Bitboard king_attack_table[64];
extern Bitboard bishop_relevance_mask[64];
extern Bitboard rook_relevance_mask[64];
extern const int32_t bishop_index_bits[64];
extern const int32_t rook_index_bits[64];
extern const Bitboard bishop_magic[64];
extern const Bitboard rook_magic[64];
extern Bitboard bishop_attack_table[64][512];
extern Bitboard rook_attack_table[64][4096];

// Squares strictly between two squares on one rank, file or diagonal; empty otherwise.
extern Bitboard between_table[64][64];

// Leaper sets of one square, computed from scratch.
Bitboard pawn_attack_mask(int32_t side, int32_t square);
Bitboard knight_attack_mask(int32_t square);
Bitboard king_attack_mask(int32_t square);

// Relevance masks: the squares whose occupancy can change the slider's attack set.
Bitboard bishop_mask(int32_t square);
Bitboard rook_mask(int32_t square);

// Slider sets by walking the rays; they build the tables and are the reference for them.
Bitboard bishop_rays(int32_t square, Bitboard blockers);
Bitboard rook_rays(int32_t square, Bitboard blockers);

// The subset of mask that index selects: the k-th set bit of mask, in ascending square
// order, is kept when bit k of index is 1.
Bitboard occupancy_subset(int32_t index, int32_t bit_count, Bitboard mask);

void build_leaper_tables();
void build_between_table();
void build_slider_tables(int32_t bishop);

// Builds every table once per process; later calls return at once.
void init_attack_tables();

inline Bitboard bishop_attacks(int32_t square, Bitboard occupancy) {
    occupancy &= bishop_relevance_mask[square];
    occupancy *= bishop_magic[square];
    return bishop_attack_table[square][occupancy >> (64 - bishop_index_bits[square])];
}

inline Bitboard rook_attacks(int32_t square, Bitboard occupancy) {
    occupancy &= rook_relevance_mask[square];
    occupancy *= rook_magic[square];
    return rook_attack_table[square][occupancy >> (64 - rook_index_bits[square])];
}

inline Bitboard queen_attacks(int32_t square, Bitboard occupancy) {
    return bishop_attacks(square, occupancy) | rook_attacks(square, occupancy);
}

// Whole sets of pawns at once: a set moved one row forward for the side, then one file left
// (-1) or right (+1) on the board, dropping what falls off it.
constexpr Bitboard file_a = 0x0101010101010101ULL;
constexpr Bitboard file_h = file_a << 7;
constexpr Bitboard row_mask(int32_t row) { return Bitboard{0xff} << (row * 8); }

template <int32_t us>
constexpr Bitboard forward(Bitboard b, int32_t file_step = 0) {
    if (file_step < 0) b &= ~file_a;
    if (file_step > 0) b &= ~file_h;
    const int32_t step = (us == white ? -8 : 8) + file_step;
    return step < 0 ? b >> -step : b << step;
}

}  // namespace ortolan
