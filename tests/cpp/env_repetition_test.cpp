// Position keys and repetition counting: the fixed keys, the en passant and castling parts,
// the order-independence of the bitboard mix, the threefold draw counted exactly, and
// counters at the limits of int32 wrapping instead of overflowing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "engine/board.h"
#include "extras/state.h"
#include "test_data.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

constexpr uint64_t white_constant = 0x6E57394121878680ULL;
constexpr uint64_t castle_multiplier = 0xF0F0F0F0F0F0F0F0ULL;

constexpr int32_t nf3 = 56 * 64 + 62;  // g1-f3: row -2, file -1
constexpr int32_t nf6 = 61 * 64 + 6;   // g8-f6: row +2, file -1
constexpr int32_t ng1 = 60 * 64 + 45;  // f3-g1: row +2, file +1
constexpr int32_t ng8 = 57 * 64 + 21;  // f6-g8: row -2, file +1

// The key has no random tables, so each position's key is one fixed number: the start
// position's; with no pieces, no rights and no en passant square only the side constant; one
// piece on a8 is bitboard 1, so it adds the multiplier itself, whatever its kind; on h1 (bit
// 63) the product keeps only the multiplier's lowest bit, shifted to the top.
class EnvRepetitionKeys : public ::testing::TestWithParam<test_data::DataPosition> {};

TEST_P(EnvRepetitionKeys, KeyIsTheFixedNumber) {
    ASSERT_EQ(GetParam().values.size(), 1u);
    EXPECT_EQ(key_of_fen(GetParam().fen.c_str()), GetParam().values[0]);
}

INSTANTIATE_TEST_SUITE_P(Examples, EnvRepetitionKeys,
                         ::testing::ValuesIn(test_data::data_positions("key")),
                         test_data::DataName());

// A newly built Board is an empty board with White to move; reset gives the start key.
TEST(EnvRepetition, FreshAndResetBoardsHaveTheFixedKeys) {
    Board board;
    EXPECT_EQ(board.hash_state(), white_constant);
    board.reset();
    EXPECT_EQ(board.hash_state(), key_of_fen(start_position));
    EXPECT_EQ(test_data::data_positions("key").size(), 6u);
}

// The rights are multiplied as a whole number, not hashed bit by bit.
TEST(EnvRepetition, CastlingRightsAddTheirValueTimesTheCastleMultiplier) {
    const uint64_t none = key_of_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1");
    const uint64_t all = key_of_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    const uint64_t king_side = key_of_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w K - 0 1");
    const uint64_t kq = key_of_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Kk - 0 1");
    EXPECT_EQ(all ^ none, 15ULL * castle_multiplier);
    EXPECT_EQ(king_side ^ none, castle_multiplier);
    EXPECT_EQ(kq ^ none, 5ULL * castle_multiplier);
}

// After 1. e4 the en passant square e3 flips bit 44; the same placement without the square
// has another key even though no capture is possible.
TEST(EnvRepetition, EnPassantSquareFlipsItsBit) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);
    ASSERT_EQ(board.enpassant, 44);
    const uint64_t without =
        key_of_fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
    EXPECT_EQ(board.hash_state(), without ^ (1ULL << 44));
    EXPECT_EQ(board.hash_state(),
              key_of_fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
    // A square where a capture is possible flips its bit the same way.
    const uint64_t d6 = key_of_fen("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 3");
    const uint64_t no_d6 =
        key_of_fen("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq - 0 3");
    EXPECT_EQ(d6 ^ no_d6, 1ULL << 19);
}

// XOR with one shared multiplier cannot tell which piece kind holds which bitboard: knights
// and bishops trading their squares give one key, and the positions count as one.
TEST(EnvRepetition, SwappingKnightAndBishopBitboardsGivesTheSameKeyAndCount) {
    const char* knights_home = "4k3/8/8/8/8/2B2B2/8/1N2K1N1 w - - 0 1";
    const char* bishops_home = "4k3/8/8/8/8/2N2N2/8/1B2K1B1 w - - 0 1";
    EXPECT_EQ(key_of_fen(knights_home), key_of_fen(bishops_home));
    EXPECT_NE(key_of_fen(knights_home), key_of_fen("4k3/8/8/8/8/2B2B2/8/1N2K1N1 b - - 0 1"));

    Board board;
    board.parse_fen(knights_home);
    board.record_position();
    EXPECT_EQ(board.n_repititions, 0);
    board.parse_fen(bishops_home);
    board.record_position();
    EXPECT_EQ(board.n_repititions, 1);
    EXPECT_EQ(board.repetition_count.size(), 1u);
    const int32_t* count = board.repetition_count.find(key_of_fen(knights_home));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(*count, 2);
}

// Equality of occurrence maps looks at keys and counts, not at insertion order or capacity.
TEST(EnvRepetition, RepetitionMapEqualityComparesKeysAndCounts) {
    RepetitionMap a, b;
    for (uint64_t k = 0; k < 100; ++k) a[k * 0x9E3779B97F4A7C15ULL] = static_cast<int32_t>(k);
    for (uint64_t k = 100; k-- > 0;) b[k * 0x9E3779B97F4A7C15ULL] = static_cast<int32_t>(k);
    EXPECT_TRUE(a == b);
    RepetitionMap c = b;
    c[5 * 0x9E3779B97F4A7C15ULL] = 6;
    EXPECT_FALSE(a == c);
    RepetitionMap d = b;
    d[12345] = 0;
    EXPECT_FALSE(a == d);
    EXPECT_FALSE(d == a);
    RepetitionMap e;
    e.reserve(1000);
    EXPECT_TRUE(e == RepetitionMap());
    a.clear();
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.find(0), nullptr);
    a[7] = 1;
    EXPECT_EQ(a.size(), 1u);
    EXPECT_EQ(*a.find(7), 1);
}

// Reserving room in a filled map moves every entry into the larger table at once: the keys and
// counts stay, and so do the lookups of keys that are absent.
TEST(EnvRepetition, ReserveKeepsTheEntriesOfAFilledMap) {
    RepetitionMap filled;
    for (uint64_t k = 1; k <= 40; ++k) filled[k * 0x9E3779B97F4A7C15ULL] = static_cast<int32_t>(k);
    const RepetitionMap before = filled;
    filled.reserve(filled.size() + 400);
    EXPECT_TRUE(filled == before);
    EXPECT_EQ(filled.size(), 40u);
    EXPECT_EQ(*filled.find(17 * 0x9E3779B97F4A7C15ULL), 17);
    EXPECT_EQ(filled.find(41 * 0x9E3779B97F4A7C15ULL), nullptr);
    filled.reserve(10);  // less than it holds: nothing changes
    EXPECT_TRUE(filled == before);
}

// Only record_position counts; asking for the key must not.
TEST(EnvRepetition, HashStateIsAPureRead) {
    Board board;
    board.reset();
    const RepetitionMap counts = board.repetition_count;
    EXPECT_EQ(board.hash_state(), board.hash_state());
    EXPECT_TRUE(board.repetition_count == counts);
    EXPECT_EQ(board.repetition_count.size(), 1u);
}

// The knights go out and back twice: the start position's third occurrence ends the game,
// and only the exact value 2 does - the fourth occurrence plays on.
TEST(EnvRepetition, ThirdOccurrenceEndsTheGameAndTheFourthDoesNot) {
    Board board;
    board.reset();
    const uint64_t start = board.hash_state();
    StepResult r = play(board, {nf3, nf6, ng1, ng8});
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(board.n_repititions, 1);
    EXPECT_EQ(*board.repetition_count.find(start), 2);
    EXPECT_EQ(board.repetition_count.size(), 4u);

    r = play(board, {nf3, nf6, ng1, ng8});
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(board.n_repititions, 2);
    EXPECT_EQ(*board.repetition_count.find(start), 3);

    // Play goes on after a drawn game; each of these positions now occurs a third time.
    for (int32_t action : {nf3, nf6, ng1}) {
        r = board.step(action);
        EXPECT_EQ(r.done, 1) << action;
        EXPECT_EQ(board.n_repititions, 2) << action;
    }
    r = board.step(ng8);
    EXPECT_EQ(board.n_repititions, 3);
    EXPECT_EQ(*board.repetition_count.find(start), 4);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(board.repetition_count.size(), 4u);
    int32_t total = 0;
    board.repetition_count.for_each([&total](uint64_t, int32_t c) { total += c; });
    EXPECT_EQ(total, 13);  // the start and twelve steps, each counted once
}

// Counters restored at the edges of int32 wrap round on the next step.
TEST(EnvRepetition, CountersAtTheInt32LimitsWrapOnTheNextStep) {
    Board board;
    board.reset();
    State s = board.save_state();
    const uint64_t after_a3 =
        key_of_fen("rnbqkbnr/pppppppp/8/8/8/P7/1PPPPPPP/RNBQKBNR b KQkq - 0 1");
    s.repetition_count[after_a3] = INT32_MAX;
    s.prev_n_repititions = INT32_MIN;
    board.restore_state(s);
    board.total_move_count = INT32_MAX;

    const StepResult r = board.step(496);
    EXPECT_EQ(board.total_move_count, INT32_MIN);
    EXPECT_EQ(*board.repetition_count.find(after_a3), INT32_MIN);
    EXPECT_EQ(board.n_repititions, INT32_MAX);
    EXPECT_EQ(board.prev_n_repititions, INT32_MAX);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.observation.planes[113][0], INT32_MIN);
    // Black to move: plane 13 has the new value, plane 12 the one before.
    EXPECT_EQ(plane_of(r.observation.planes[13]), uniform(INT32_MAX));
    EXPECT_EQ(plane_of(r.observation.planes[12]), uniform(INT32_MIN));

    const StepResult next = board.step(456);  // a7-a6
    EXPECT_EQ(board.total_move_count, INT32_MIN + 1);
    EXPECT_EQ(next.observation.planes[113][5], INT32_MIN + 1);
}

// A no-progress counter at INT32_MAX wraps to a negative value, which is below 50.
TEST(EnvRepetition, NoProgressCounterWrapsRatherThanOverflowing) {
    Board board;
    board.reset();
    State s = board.save_state();
    s.no_progress_count = INT32_MAX;
    board.restore_state(s);
    const StepResult r = board.step(nf3);
    EXPECT_EQ(board.no_progress_count, INT32_MIN);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.observation.planes[118][17], INT32_MIN);
    board.step(nf6);
    EXPECT_EQ(board.no_progress_count, INT32_MIN + 1);
}

}  // namespace
}  // namespace ortolan
