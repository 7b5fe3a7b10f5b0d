// Random playouts: the seeded rollout must leave exactly the Board that the plain loop of
// get_actions and step leaves, for many seeds and positions; positions without a legal move;
// forced mates and stalemates; the 400-step cut; counters at the int32 limits.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/board.h"
#include "extras/mt19937.h"
#include "extras/state.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

// Runs the plain rollout on one copy and Board::roll_out on another, and compares results
// and every member of the two Boards afterwards (all but the scratch copy that trial moves
// use, which depends on how many trials were made).
::testing::AssertionResult rollouts_agree(const Board& start, uint32_t seed,
                                          int32_t* steps = nullptr) {
    Board plain = start;
    Board fast = start;
    const ReferenceRollout expected = reference_roll_out(plain, seed);
    const int32_t result = fast.roll_out(seed);
    if (steps) *steps = expected.steps;
    if (result != expected.result)
        return ::testing::AssertionFailure()
               << "seed " << seed << ": result " << result << ", plain loop " << expected.result;
    ::testing::AssertionResult same = same_board(fast, plain);
    if (!same) return ::testing::AssertionFailure() << "seed " << seed << ": " << same.message();
    return ::testing::AssertionSuccess();
}

// The rollout's engine gives the standard engine's outputs for the same seed, across several
// regenerations of the 624 state words.
TEST(ExtrasRollout, EngineGivesTheOutputsOfTheStandardMersenneTwister) {
    for (uint32_t seed : {0u, 1u, 5489u, 123456789u, 0xffffffffu}) {
        std::mt19937 standard(seed);
        Mt19937 engine(seed);
        for (int32_t i = 0; i < 2000; ++i)
            ASSERT_EQ(engine(), static_cast<uint32_t>(standard())) << seed << " output " << i;
    }
}

// Two hundred games from the start: different lengths, mates, draws by repetition and by the
// no-progress rule, and cut-offs all have to end on the same Board.
TEST(ExtrasRollout, SeededRolloutMatchesThePlainLoopFromTheStart) {
    Board start;
    start.reset();
    int32_t longest = 0, shortest = 400;
    for (uint32_t seed = 0; seed < 200; ++seed) {
        int32_t steps = 0;
        EXPECT_TRUE(rollouts_agree(start, seed, &steps));
        longest = std::max(longest, steps);
        shortest = std::min(shortest, steps);
    }
    EXPECT_EQ(longest, 400);
    EXPECT_LT(shortest, 400);
}

// Loaded positions (empty history, state_pos 0), including promotion, castling and en
// passant positions, positions with more than 255 legal moves for either side, and a game
// already under way with repetitions on record.
TEST(ExtrasRollout, SeededRolloutMatchesThePlainLoopFromOtherPositions) {
    const char* fens[] = {
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
        "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
        "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1",
        "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
        "KQQQQQQQ/Q6Q/Q6Q/Q2Q3Q/Q6Q/Q6Q/Q6Q/QQQQQQQk w - - 0 1",  // 279 moves
        "kqqqqqqq/q6q/q6q/q2q3q/q6q/q6q/q6q/qqqqqqqK b - - 0 1",
    };
    for (const char* fen : fens) {
        const Board start = board_from_fen(fen);
        for (uint32_t seed = 1000; seed < 1015; ++seed)
            EXPECT_TRUE(rollouts_agree(start, seed)) << fen;
    }

    Board under_way;
    under_way.reset();
    play(under_way, {56 * 64 + 62, 61 * 64 + 6, 60 * 64 + 45, 57 * 64 + 21, 564});
    for (uint32_t seed = 7; seed < 37; ++seed) EXPECT_TRUE(rollouts_agree(under_way, seed));
}

// The draw must reject the few outputs that would bias it. Rejection is rare (a few outputs
// in 2^32), so these seeds were searched for: their first output falls in the rejected band
// for the legal move count of the position (43 and 48 moves).
TEST(ExtrasRollout, BiasedDrawsAreRejectedAndRedrawn) {
    const struct {
        const char* fen;
        uint32_t moves;
        uint32_t seed;
    } cases[] = {
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 0 1", 43, 41019708u},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 48, 51403818u},
    };
    for (const auto& c : cases) {
        Board start = board_from_fen(c.fen);
        ASSERT_EQ(mask_actions(start.get_actions()).size(), c.moves) << c.fen;
        std::mt19937 engine(c.seed);
        const uint64_t first = static_cast<uint64_t>(engine()) * c.moves;
        const uint32_t threshold = static_cast<uint32_t>(0u - c.moves) % c.moves;
        ASSERT_LT(static_cast<uint32_t>(first), threshold) << "seed no longer rejects";
        std::mt19937 again(c.seed);
        EXPECT_NE(reference_draw(again, c.moves), static_cast<uint32_t>(first >> 32));
        EXPECT_TRUE(rollouts_agree(start, c.seed)) << c.fen;
    }
}

// Boards with pieces but no kings: nobody is ever in check.
TEST(ExtrasRollout, SeededRolloutMatchesThePlainLoopWithoutKings) {
    for (const char* fen :
         {"8/8/8/3r4/8/8/8/R7 w - - 0 1", "8/pppppppp/8/8/8/8/PPPPPPPP/8 w - - 0 1",
          "4k3/pppppppp/8/8/8/8/PPPPPPPP/8 b - - 0 1"}) {
        const Board start = board_from_fen(fen);
        for (uint32_t seed = 0; seed < 20; ++seed) EXPECT_TRUE(rollouts_agree(start, seed)) << fen;
    }
}

// Sides with two kings, and snapshots whose bitboards overlap or whose occupancies are stale:
// the rollout takes the trial filter for those plies and still plays what the plain loop plays.
TEST(ExtrasRollout, SeededRolloutMatchesThePlainLoopInIrregularPositions) {
    for (const char* fen :
         {"4k3/8/8/8/8/8/PPPPPPPP/K3K3 w - - 0 1", "k6k/pppppppp/8/8/8/8/PPPPPPPP/4K3 b - - 0 1",
          "k6k/pppppppp/8/8/8/8/PPPPPPPP/K6K w - - 0 1"}) {
        const Board start = board_from_fen(fen);
        for (uint32_t seed = 0; seed < 20; ++seed) EXPECT_TRUE(rollouts_agree(start, seed)) << fen;
    }
    Board board;
    board.reset();
    State overlapping = board.save_state();
    overlapping.bitboards[piece::N] |= square_bit(e2);  // a knight on the e2 pawn's square
    State stale = board.save_state();
    stale.occupancies[both] &= ~square_bit(d2);  // d2 looks empty to the sliders
    stale.occupancies[black] |= square_bit(e4);  // and e4 looks taken
    // Knights on every square but the kings', hidden from the occupancies: 329 moves, more
    // than 255 of them on the eight knight planes.
    Board kings = board_from_fen("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    State knights = kings.save_state();
    knights.bitboards[piece::N] = ~(square_bit(e1) | square_bit(e8));
    for (const State* s : {&overlapping, &stale, &knights}) {
        board.restore_state(*s);
        ASSERT_FALSE(board.consistent_position());
        for (uint32_t seed = 0; seed < 20; ++seed) EXPECT_TRUE(rollouts_agree(board, seed));
    }
}

// A queen and a bishop on one square give two moves of each diagonal action. The plain loop
// plays the move step finds for an action, the first of the ActionMap; the rollout plays the
// same and leaves the same Board, its ActionMap holding each action once, with that move.
TEST(ExtrasRollout, TwoMovesOfOneActionPlayAsStepPlaysThem) {
    Board start = board_from_fen("4k3/8/8/8/3Q4/8/8/4K3 w - - 0 1");
    start.bitboards[piece::B] |= square_bit(d4);
    for (uint32_t seed = 0; seed < 20; ++seed) {
        Board plain = start;
        Board fast = start;
        const ReferenceRollout expected = reference_roll_out(plain, seed);
        EXPECT_EQ(fast.roll_out(seed), expected.result) << seed;
        EXPECT_TRUE(same_board(fast, plain, {.action_map = true})) << seed;
        std::vector<int32_t> keys = map_keys(plain.ActionMap);
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        EXPECT_EQ(map_keys(fast.ActionMap), keys) << seed;
        for (const ActionMap::Entry& e : fast.ActionMap)
            EXPECT_EQ(e.second, *plain.ActionMap.find(e.first)) << seed;
    }
}

// Counters restored at the edges of int32: every increment wraps, in both implementations.
TEST(ExtrasRollout, RolloutWithCountersAtTheInt32LimitsWraps) {
    Board board;
    board.reset();
    play(board, {564, 524});
    State s = board.save_state();
    s.no_progress_count = INT32_MAX - 3;
    s.n_repititions = INT32_MIN;
    s.prev_n_repititions = INT32_MAX;
    const uint64_t after_nf3 =
        key_of_fen("rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2");
    s.repetition_count[after_nf3] = INT32_MAX;
    board.restore_state(s);
    board.total_move_count = INT32_MAX - 5;
    for (uint32_t seed = 0; seed < 20; ++seed) EXPECT_TRUE(rollouts_agree(board, seed));

    // A long game crosses the limit of total_move_count.
    Board fresh;
    fresh.reset();
    fresh.total_move_count = INT32_MAX - 100;
    Board copy = fresh;
    ASSERT_EQ(reference_roll_out(copy, 3).steps, 400);
    EXPECT_EQ(fresh.roll_out(3), 0);
    EXPECT_EQ(fresh.total_move_count, INT32_MIN + 299);
}

// Seed 3 from the start runs the full 400 steps in the plain loop (found by running that
// loop alone); the rollout stops there with result 0 and exactly 400 more moves counted.
TEST(ExtrasRollout, RolloutIsCutAfterFourHundredSteps) {
    Board plain;
    plain.reset();
    const ReferenceRollout expected = reference_roll_out(plain, 3);
    ASSERT_EQ(expected.steps, 400);
    ASSERT_EQ(expected.result, 0);

    Board board;
    board.reset();
    board.total_move_count = 17;
    EXPECT_EQ(board.roll_out(3), 0);
    EXPECT_EQ(board.total_move_count, 417);
    EXPECT_EQ(board.just_reset, 0);
    EXPECT_EQ(board.state_history.size(), 8);
    EXPECT_EQ(board.state_pos, 1);  // 1 after reset, plus 400 records
    int32_t recorded = 0;
    board.repetition_count.for_each([&recorded](uint64_t, int32_t c) { recorded += c; });
    EXPECT_EQ(recorded, 401);
}

// No legal move at the start: nothing is played, the ActionMap is rebuilt (empty) and the
// result is the mate score from White's point of view, or 0 for a stalemate.
TEST(ExtrasRollout, PositionWithoutLegalMovesPlaysNothing) {
    // After fool's mate the ActionMap still holds Black's actions from before the mate.
    Board fools;
    fools.reset();
    play(fools, {501, 524, 566, 195});
    ASSERT_FALSE(fools.ActionMap.empty());
    Board before = fools;
    EXPECT_EQ(fools.roll_out(11u), -1);
    EXPECT_TRUE(fools.ActionMap.empty());
    EXPECT_TRUE(same_board(fools, before, {.action_map = true}));
    EXPECT_TRUE(rollouts_agree(before, 11u));

    Board scholars;
    scholars.reset();
    play(scholars, {564, 524, 17 * 64 + 59, 3841, 2 * 64 + 61, 3910, 64 + 31});
    before = scholars;
    EXPECT_EQ(scholars.roll_out(5u), 1);
    EXPECT_TRUE(scholars.ActionMap.empty());
    EXPECT_TRUE(same_board(scholars, before, {.action_map = true}));

    Board stalemate = board_from_fen("k7/8/1Q6/8/8/8/8/7K b - - 0 1");
    stalemate.ActionMap.insert(496, 0);
    before = stalemate;
    EXPECT_EQ(stalemate.roll_out(5u), 0);
    EXPECT_TRUE(stalemate.ActionMap.empty());
    EXPECT_TRUE(same_board(stalemate, before, {.action_map = true}));

    // Loaded mates: White to move and mated gives -1, Black to move and mated +1.
    EXPECT_EQ(board_from_fen("Kqk1N3/8/8/5n2/3Q4/8/8/8 w - - 0 1").roll_out(1u), -1);
    EXPECT_EQ(board_from_fen("8/8/8/3q4/5N2/8/8/kQK1n3 b - - 0 1").roll_out(1u), 1);
}

// The only legal move mates: the rollout plays it, scores it for the mating side and stops
// on the mated position.
TEST(ExtrasRollout, ForcedMateInOneIsPlayedAndScored) {
    for (uint32_t seed : {0u, 1u, 99u, 123456789u}) {
        Board white_mates = board_from_fen("8/1Q6/8/3q4/5N2/8/8/kqK1n3 w - - 0 1");
        ASSERT_EQ(mask_actions(white_mates.get_actions()).size(), 1u);
        EXPECT_EQ(white_mates.roll_out(seed), 1);
        EXPECT_EQ(white_mates.total_move_count, 1);
        EXPECT_EQ(white_mates.side, black);
        EXPECT_EQ(white_mates.bitboards[piece::Q], 1ULL << sq("b1"));
        EXPECT_EQ(white_mates.bitboards[piece::q], 1ULL << sq("d5"));

        Board black_mates = board_from_fen("KQk1N3/8/8/5n2/3Q4/8/1q6/8 b - - 0 1");
        ASSERT_EQ(mask_actions(black_mates.get_actions()).size(), 1u);
        EXPECT_EQ(black_mates.roll_out(seed), -1);
        EXPECT_EQ(black_mates.total_move_count, 1);
        EXPECT_EQ(black_mates.side, white);
        EXPECT_EQ(black_mates.bitboards[piece::q], 1ULL << sq("b8"));
        EXPECT_EQ(black_mates.bitboards[piece::Q], 1ULL << sq("d4"));
    }
}

// The only legal move stalemates: one step, result 0.
TEST(ExtrasRollout, ForcedStalemateScoresZero) {
    Board board = board_from_fen("1k6/5R2/1N6/8/KqN5/8/8/6N1 w - - 0 1");
    ASSERT_EQ(mask_actions(board.get_actions()).size(), 1u);
    EXPECT_EQ(board.roll_out(42u), 0);
    EXPECT_EQ(board.total_move_count, 1);
    EXPECT_EQ(board.bitboards[piece::K], 1ULL << sq("b4"));
    EXPECT_EQ(board.bitboards[piece::q], 0u);
}

// save_state, roll_out, restore_state rewinds everything but the move count.
TEST(ExtrasRollout, SaveRollOutRestoreRewindsTheBoard) {
    Board board;
    board.reset();
    play(board, {564, 524, 56 * 64 + 62});
    const Board at_save = board;
    const State s = board.save_state();
    board.roll_out(2024u);
    EXPECT_NE(board.total_move_count, at_save.total_move_count);
    board.restore_state(s);
    EXPECT_TRUE(same_board(board, at_save, {.total_move_count = true}));
}

// The unseeded rollout: whatever game it plays, it must stop for a reason the rules give and
// report the matching result.
TEST(ExtrasRollout, UnseededRolloutEndsForAReasonAndReportsIt) {
    for (int32_t round = 0; round < 5; ++round) {
        Board board;
        board.reset();
        const int32_t result = board.roll_out();
        const int32_t steps = board.total_move_count;
        ASSERT_GE(steps, 1);
        ASSERT_LE(steps, 400);
        const std::vector<Move> legal = legal_moves_by_trial(board);
        if (legal.empty()) {
            const int32_t king = lowest_square(board.bitboards[board.side ? piece::k : piece::K]);
            const bool check = board.is_square_attacked(king, board.side ^ 1);
            EXPECT_EQ(result, check ? (board.side == black ? 1 : -1) : 0);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(steps == 400 || board.n_repititions == 2 || board.no_progress_count >= 50)
                << "stopped after " << steps << " steps without a reason";
        }
    }
}

}  // namespace
}  // namespace ortolan
