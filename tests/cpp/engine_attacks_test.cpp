// Attack tables: leaper sets, relevance masks, the magic-multiplier lookup of the sliders.
//
// The slider lookups are checked against a ray walk written here from scratch (by file and
// rank coordinates), not against the engine's own ray walk, so a fault shared by the table
// builder and its reference still shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "engine/attacks.h"
#include "engine/bits.h"
#include "engine/board.h"
#include "engine/types.h"
#include "engine_support.h"

namespace ortolan {
namespace {

bool on_board(int32_t row, int32_t file) { return row >= 0 && row < 8 && file >= 0 && file < 8; }

struct Step {
    int32_t dr, df;
};
constexpr Step diagonal_steps[4] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
constexpr Step straight_steps[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

// Slider attack set from first principles: every square along each line up to and including
// the first occupied one.
Bitboard reference_slider(const Step (&steps)[4], int32_t square, Bitboard occupancy) {
    Bitboard result = 0;
    for (const Step& st : steps) {
        int32_t row = square / 8 + st.dr;
        int32_t file = square % 8 + st.df;
        while (on_board(row, file)) {
            const int32_t target = row * 8 + file;
            result |= Bitboard{1} << target;
            if ((occupancy >> target) & 1) break;
            row += st.dr;
            file += st.df;
        }
    }
    return result;
}

Bitboard reference_bishop(int32_t square, Bitboard occupancy) {
    return reference_slider(diagonal_steps, square, occupancy);
}
Bitboard reference_rook(int32_t square, Bitboard occupancy) {
    return reference_slider(straight_steps, square, occupancy);
}

constexpr Bitboard edge_squares = 0xff000000000000ffULL | 0x8181818181818181ULL;
constexpr Bitboard file_a_and_h = 0x8181818181818181ULL;
constexpr Bitboard rows_0_and_7 = 0xff000000000000ffULL;

// Relevance masks by a second route: the empty-board attack set without the ray ends.
Bitboard reference_bishop_mask(int32_t square) {
    return reference_bishop(square, 0) & ~edge_squares;
}
Bitboard reference_rook_mask(int32_t square) {
    const Bitboard attacks = reference_rook(square, 0);
    const Bitboard same_file = 0x0101010101010101ULL << (square % 8);
    const Bitboard same_row = 0xffULL << (8 * (square / 8));
    return (attacks & same_file & ~rows_0_and_7) | (attacks & same_row & ~file_a_and_h);
}

Bitboard reference_leaper(int32_t square, std::initializer_list<Step> steps) {
    Bitboard result = 0;
    for (const Step& st : steps) {
        const int32_t row = square / 8 + st.dr;
        const int32_t file = square % 8 + st.df;
        if (on_board(row, file)) result |= Bitboard{1} << (row * 8 + file);
    }
    return result;
}

// Every subset of mask, by the carry-rippler walk (independent of occupancy_subset).
std::vector<Bitboard> all_subsets(Bitboard mask) {
    std::vector<Bitboard> subsets;
    Bitboard b = 0;
    do {
        subsets.push_back(b);
        b = (b - mask) & mask;
    } while (b != 0);
    return subsets;
}

class EngineAttackTables : public ::testing::Test {
protected:
    static void SetUpTestSuite() { init_attack_tables(); }
};

// All 2^n blocker patterns of every square: a wrong multiplier shows as a colliding index.
TEST_F(EngineAttackTables, BishopLookupMatchesRayWalkForEveryBlockerSubset) {
    for (int32_t square = 0; square < 64; ++square) {
        const std::vector<Bitboard> subsets = all_subsets(reference_bishop_mask(square));
        ASSERT_EQ(subsets.size(), size_t{1} << bishop_index_bits[square]) << square;
        for (Bitboard blockers : subsets) {
            const Bitboard expected = reference_bishop(square, blockers);
            ASSERT_EQ(bishop_attacks(square, blockers), expected)
                << "square " << square << " blockers " << std::hex << blockers;
            ASSERT_EQ(bishop_rays(square, blockers), expected)
                << "square " << square << " blockers " << std::hex << blockers;
        }
    }
}

// Up to 4096 patterns per square; the rook tables are where a bad multiplier hides best.
TEST_F(EngineAttackTables, RookLookupMatchesRayWalkForEveryBlockerSubset) {
    for (int32_t square = 0; square < 64; ++square) {
        const std::vector<Bitboard> subsets = all_subsets(reference_rook_mask(square));
        ASSERT_EQ(subsets.size(), size_t{1} << rook_index_bits[square]) << square;
        for (Bitboard blockers : subsets) {
            const Bitboard expected = reference_rook(square, blockers);
            ASSERT_EQ(rook_attacks(square, blockers), expected)
                << "square " << square << " blockers " << std::hex << blockers;
            ASSERT_EQ(rook_rays(square, blockers), expected)
                << "square " << square << " blockers " << std::hex << blockers;
        }
    }
}

// The multipliers themselves, apart from the table builder: within one square, two blocker
// subsets that share a hash index must share their attack set.
TEST_F(EngineAttackTables, MagicMultipliersNeverCollideHarmfully) {
    for (int32_t bishop = 0; bishop < 2; ++bishop) {
        for (int32_t square = 0; square < 64; ++square) {
            const Bitboard mask =
                bishop ? reference_bishop_mask(square) : reference_rook_mask(square);
            const int32_t bits = bishop ? bishop_index_bits[square] : rook_index_bits[square];
            const Bitboard magic = bishop ? bishop_magic[square] : rook_magic[square];
            std::vector<Bitboard> seen(size_t{1} << bits, ~Bitboard{0});
            for (Bitboard blockers : all_subsets(mask)) {
                const uint64_t index = (blockers * magic) >> (64 - bits);
                ASSERT_LT(index, seen.size());
                const Bitboard attacks =
                    bishop ? reference_bishop(square, blockers) : reference_rook(square, blockers);
                if (seen[index] == ~Bitboard{0}) seen[index] = attacks;
                ASSERT_EQ(seen[index], attacks)
                    << (bishop ? "bishop" : "rook") << " square " << square;
            }
        }
    }
}

// Pieces outside the relevance mask (the board edge, the far side of a blocker, the square
// itself) must not disturb the lookup.
TEST_F(EngineAttackTables, LookupIgnoresOccupancyOutsideRelevanceMask) {
    std::mt19937_64 rng(20240611);
    for (int32_t square = 0; square < 64; ++square) {
        for (int32_t trial = 0; trial < 300; ++trial) {
            Bitboard occupancy = rng();
            // Vary the density: one random word is about half full, an AND of three sparse.
            if (trial % 3 == 1) occupancy &= rng();
            if (trial % 3 == 2) occupancy &= rng() & rng();
            ASSERT_EQ(bishop_attacks(square, occupancy), reference_bishop(square, occupancy))
                << square << " " << std::hex << occupancy;
            ASSERT_EQ(rook_attacks(square, occupancy), reference_rook(square, occupancy))
                << square << " " << std::hex << occupancy;
            ASSERT_EQ(queen_attacks(square, occupancy),
                      reference_bishop(square, occupancy) | reference_rook(square, occupancy));
        }
        // The full board: every neighbour blocks.
        ASSERT_EQ(rook_attacks(square, ~Bitboard{0}), reference_rook(square, ~Bitboard{0}));
        ASSERT_EQ(bishop_attacks(square, ~Bitboard{0}), reference_bishop(square, ~Bitboard{0}));
    }
}

// The fixed multiplier rows that the published tables share.
TEST_F(EngineAttackTables, MagicMultiplierRowsHaveTheFixedValues) {
    struct Row {
        int32_t square;
        Bitboard bishop, rook;
    };
    const Row rows[] = {
        {0, 0x0040040844404084ULL, 0x8a80104000800020ULL},
        {1, 0x002004208a004208ULL, 0x0140002000100040ULL},
        {2, 0x0010190041080202ULL, 0x02801880a0017001ULL},
        {7, 0x03c0808410220200ULL, 0x2080088004402900ULL},
        {27, 0x0020080002081110ULL, 0x0020100080080080ULL},
        {60, 0x0028000010020204ULL, 0x00020030a0244872ULL},
        {63, 0x4010011029020020ULL, 0x0001004081002402ULL},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bishop_magic[row.square], row.bishop) << row.square;
        EXPECT_EQ(rook_magic[row.square], row.rook) << row.square;
    }
}

// 6 on corners, 9 on the centre four, 7 on the ring around the centre, 5 elsewhere; rooks
// 12 on corners, 11 on other edge squares, 10 inside.
TEST_F(EngineAttackTables, IndexBitsFollowTheBoardGeometry) {
    for (int32_t square = 0; square < 64; ++square) {
        const int32_t row = square / 8, file = square % 8;
        const bool corner = (row == 0 || row == 7) && (file == 0 || file == 7);
        const bool edge = row == 0 || row == 7 || file == 0 || file == 7;
        const bool centre = (row == 3 || row == 4) && (file == 3 || file == 4);
        const bool ring = row >= 2 && row <= 5 && file >= 2 && file <= 5 && !centre;
        const int32_t bishop_expected = corner ? 6 : centre ? 9 : ring ? 7 : 5;
        const int32_t rook_expected = corner ? 12 : edge ? 11 : 10;
        EXPECT_EQ(bishop_index_bits[square], bishop_expected) << square;
        EXPECT_EQ(rook_index_bits[square], rook_expected) << square;
        EXPECT_EQ(count_bits(bishop_relevance_mask[square]), bishop_expected) << square;
        EXPECT_EQ(count_bits(rook_relevance_mask[square]), rook_expected) << square;
    }
}

// Masks by a second route: edge squares never change a slider's set, so they stay out.
TEST_F(EngineAttackTables, RelevanceMasksLeaveOutRayEndsAndTheSquareItself) {
    for (int32_t square = 0; square < 64; ++square) {
        EXPECT_EQ(bishop_relevance_mask[square], reference_bishop_mask(square)) << square;
        EXPECT_EQ(rook_relevance_mask[square], reference_rook_mask(square)) << square;
        EXPECT_EQ(bishop_mask(square), reference_bishop_mask(square)) << square;
        EXPECT_EQ(rook_mask(square), reference_rook_mask(square)) << square;
    }
    // a8: the long diagonal without h1; the 8th row and the a-file without the ends.
    EXPECT_EQ(bishop_relevance_mask[a8], squares_of({b7, c6, d5, e4, f3, g2}));
    EXPECT_EQ(rook_relevance_mask[a8],
              squares_of({b8, c8, d8, e8, f8, g8, a7, a6, a5, a4, a3, a2}));
    // e4 (centre): the rook mask keeps e2 and e7, b4 and g4 but not e1, e8, a4, h4.
    EXPECT_EQ(rook_relevance_mask[e4], squares_of({e7, e6, e5, e3, e2, b4, c4, d4, f4, g4}));
}

// Index k picks the k-th lowest square of the mask.
TEST_F(EngineAttackTables, OccupancySubsetPicksMaskSquaresByIndexBits) {
    const Bitboard mask = squares_of({3, 10, 40, 62});
    EXPECT_EQ(occupancy_subset(0, 4, mask), Bitboard{0});
    EXPECT_EQ(occupancy_subset(15, 4, mask), mask);
    EXPECT_EQ(occupancy_subset(0b0101, 4, mask), squares_of({3, 40}));
    EXPECT_EQ(occupancy_subset(0b1010, 4, mask), squares_of({10, 62}));
    EXPECT_EQ(occupancy_subset(0b1000, 4, mask), squares_of({62}));
    // Only the first bit_count squares are eligible.
    EXPECT_EQ(occupancy_subset(0b1111, 2, mask), squares_of({3, 10}));
}

// White attacks towards row 0, Black towards row 7; a- and h-file pawns must not wrap.
TEST_F(EngineAttackTables, PawnAttacksGoForwardDiagonallyWithoutWrapping) {
    EXPECT_EQ(pawn_attack_table[white][e2], squares_of({d3, f3}));
    EXPECT_EQ(pawn_attack_table[black][e7], squares_of({d6, f6}));
    EXPECT_EQ(pawn_attack_table[white][a2], squares_of({b3}));
    EXPECT_EQ(pawn_attack_table[white][h2], squares_of({g3}));
    EXPECT_EQ(pawn_attack_table[black][a7], squares_of({b6}));
    EXPECT_EQ(pawn_attack_table[black][h7], squares_of({g6}));
    for (int32_t square = 0; square < 64; ++square) {
        const Bitboard white_expected = reference_leaper(square, {{-1, -1}, {-1, 1}});
        const Bitboard black_expected = reference_leaper(square, {{1, -1}, {1, 1}});
        EXPECT_EQ(pawn_attack_table[white][square], white_expected) << square;
        EXPECT_EQ(pawn_attack_table[black][square], black_expected) << square;
        EXPECT_EQ(pawn_attack_mask(white, square), white_expected) << square;
        EXPECT_EQ(pawn_attack_mask(black, square), black_expected) << square;
    }
    // A pawn on its last row attacks nothing.
    for (int32_t file = 0; file < 8; ++file) {
        EXPECT_EQ(pawn_attack_table[white][file], Bitboard{0}) << file;
        EXPECT_EQ(pawn_attack_table[black][56 + file], Bitboard{0}) << file;
    }
}

// Corner and near-edge squares are where wrap-around from file h to file a shows.
TEST_F(EngineAttackTables, KnightAndKingJumpsStayOnTheBoard) {
    EXPECT_EQ(knight_attack_table[a8], squares_of({c7, b6}));
    EXPECT_EQ(king_attack_table[a8], squares_of({b8, a7, b7}));
    EXPECT_EQ(knight_attack_table[h1], squares_of({f2, g3}));
    EXPECT_EQ(king_attack_table[h1], squares_of({g1, g2, h2}));
    EXPECT_EQ(count_bits(knight_attack_table[d4]), 8);
    EXPECT_EQ(count_bits(king_attack_table[d4]), 8);
    // Knight on g2 must not wrap onto the a-file.
    EXPECT_EQ(knight_attack_table[g2], squares_of({e1, e3, f4, h4}));
    for (int32_t square = 0; square < 64; ++square) {
        const Bitboard knight = reference_leaper(
            square, {{1, 2}, {1, -2}, {-1, 2}, {-1, -2}, {2, 1}, {2, -1}, {-2, 1}, {-2, -1}});
        const Bitboard king = reference_leaper(
            square, {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}});
        EXPECT_EQ(knight_attack_table[square], knight) << square;
        EXPECT_EQ(king_attack_table[square], king) << square;
        EXPECT_EQ(knight_attack_mask(square), knight) << square;
        EXPECT_EQ(king_attack_mask(square), king) << square;
    }
}

// Corner a8 has the longest lines, d4 the most squares for a queen (27).
TEST_F(EngineAttackTables, SlidersFromCornerAndCentreOnEmptyBoard) {
    EXPECT_EQ(rook_attacks(a8, 0),
              squares_of({b8, c8, d8, e8, f8, g8, h8, a7, a6, a5, a4, a3, a2, a1}));
    EXPECT_EQ(bishop_attacks(a8, 0), squares_of({b7, c6, d5, e4, f3, g2, h1}));
    EXPECT_EQ(count_bits(queen_attacks(d4, 0)), 27);
    EXPECT_EQ(queen_attacks(d4, 0),
              squares_of({d8, d7, d6, d5, d3, d2, d1, a4, b4, c4, e4, f4, g4, h4,
                          a7, b6, c5, e3, f2, g1, a1, b2, c3, e5, f6, g7, h8}));
}

// An edge square is never in the mask, so a piece there changes nothing in the index, yet
// it stays in the attack set; one square nearer, it cuts the ray off.
TEST_F(EngineAttackTables, EdgeBlockerIsAttackedButDoesNotChangeIndex) {
    const Bitboard h1_piece = squares_of({h1});
    EXPECT_EQ((h1_piece & rook_relevance_mask[a1]), Bitboard{0});
    EXPECT_EQ(rook_attacks(a1, h1_piece), rook_attacks(a1, 0));
    EXPECT_TRUE(get_bit(rook_attacks(a1, h1_piece), h1));
    EXPECT_EQ(rook_attacks(a1, squares_of({g1})),
              squares_of({b1, c1, d1, e1, f1, g1, a2, a3, a4, a5, a6, a7, a8}));
}

// The first blocker is included, anything behind it is not.
TEST_F(EngineAttackTables, RookStopsAtFirstBlockerOnFile) {
    EXPECT_EQ(rook_attacks(e1, squares_of({e2})), squares_of({e2, a1, b1, c1, d1, f1, g1, h1}));
    // The blocker belongs to the set whoever owns it; pieces behind it are ignored.
    EXPECT_EQ(rook_attacks(e1, squares_of({e2, e5, b1})), squares_of({e2, b1, c1, d1, f1, g1, h1}));
    EXPECT_EQ(bishop_attacks(c1, squares_of({e3, f4})), squares_of({b2, a3, d2, e3}));
}

// The empty set has no lowest square: -1, not 64 or 0.
TEST(EngineBits, LowestSquareAndBitCount) {
    EXPECT_EQ(lowest_square(0), -1);
    EXPECT_EQ(lowest_square(1), 0);
    EXPECT_EQ(lowest_square(Bitboard{1} << 63), 63);
    EXPECT_EQ(lowest_square(squares_of({e1, c3})), c3);
    EXPECT_EQ(count_bits(0), 0);
    EXPECT_EQ(count_bits(~Bitboard{0}), 64);
    Bitboard b = squares_of({h1, a8, e4});
    EXPECT_EQ(pop_lowest(b), a8);
    EXPECT_EQ(pop_lowest(b), e4);
    EXPECT_EQ(pop_lowest(b), h1);
    EXPECT_EQ(b, Bitboard{0});
}

// Building is once per process: a second initialisation, or a new Board, must not rebuild
// the tables. A sentinel written into one entry survives both.
TEST(EngineAttackTableSetUp, TablesAreBuiltOncePerProcess) {
    init_attack_tables();
    const Bitboard saved = knight_attack_table[a8];
    knight_attack_table[a8] = 0x123456789abcdef0ULL;
    init_attack_tables();
    const Board board;
    const Bitboard after = knight_attack_table[a8];
    knight_attack_table[a8] = saved;
    EXPECT_EQ(after, 0x123456789abcdef0ULL);
    EXPECT_EQ(knight_attack_table[a8], squares_of({c7, b6}));
}

}  // namespace
}  // namespace ortolan
