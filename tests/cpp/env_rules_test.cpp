// The rule sets in the one step path: the clock after a pawn move, the en passant square in the
// position identity, the ending by repetition and by insufficient material, and a playout that
// ends where the rule set ends the game.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/board.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

constexpr int32_t e4 = 8 * 64 + 52;    // e2-e4: north, distance 2
constexpr int32_t nf3 = 56 * 64 + 62;  // g1-f3
constexpr int32_t nf6 = 61 * 64 + 6;   // g8-f6
constexpr int32_t ng1 = 60 * 64 + 45;  // f3-g1
constexpr int32_t ng8 = 57 * 64 + 21;  // f6-g8

Board ruled(int32_t rules, const char* fen = start_position) {
    Board board;
    board.rules = rules;
    board.new_game(fen);
    board.rebuild_action_map();
    return board;
}

// The clock reads 1 after a pawn move under the environment's own rules, 0 under chess's.
TEST(EnvRules, ThePawnMoveClockReadsOneOrZero) {
    for (const int32_t rules : {rules_ortolan, rules_standard, rules_fide}) {
        Board board = ruled(rules);
        board.step(e4);
        EXPECT_EQ(board.no_progress_count, rules == rules_ortolan ? 1 : 0);
        board.step(nf6);
        EXPECT_EQ(board.no_progress_count, rules == rules_ortolan ? 2 : 1);
    }
}

// After 1. e4 and knights out and back, chess counts the position after 1. e4 again at ply 5
// (its en passant square cannot be taken), so the third occurrence comes at ply 9; the
// environment's own key always counts the en passant square, so the position after 1. e4 never
// comes back and the first to come a third time is that after 1... Nf6, at ply 10.
TEST(EnvRules, AnEnPassantSquareNoPawnCanTakeIsNoPartOfTheChessIdentity) {
    for (const int32_t rules : {rules_ortolan, rules_standard}) {
        Board board = ruled(rules);
        int32_t ended_at = 0;
        const int32_t moves[] = {e4, nf6, nf3, ng8, ng1};
        StepResult result = board.step(moves[0]);
        for (int32_t ply = 1; !result.done && ply < 20; ++ply) {
            result = board.step(moves[1 + (ply - 1) % 4]);
            if (result.done) ended_at = ply + 1;
        }
        EXPECT_EQ(ended_at, rules == rules_ortolan ? 10 : 9);
        EXPECT_EQ(result.reward, 0);
    }
}

// A capturable en passant square is part of the identity: the same placement without it is
// another position.
TEST(EnvRules, AnEnPassantSquareAPawnCanTakeIsPartOfTheChessIdentity) {
    Board with = ruled(rules_standard, "4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1");
    Board without = ruled(rules_standard, "4k3/8/8/8/3pP3/8/8/4K3 b - - 0 1");
    Board pinned = ruled(rules_standard, "8/8/8/K2pP2r/8/8/8/7k w - d6 0 1");
    Board pinned_without = ruled(rules_standard, "8/8/8/K2pP2r/8/8/8/7k w - - 0 1");
    EXPECT_NE(with.position_key(), without.position_key());
    EXPECT_EQ(pinned.position_key(), pinned_without.position_key());
}

// Pieces of different kinds on the same squares are different positions for chess.
TEST(EnvRules, TheChessIdentityTellsPieceKindsApart) {
    const char* knights = "4k3/8/8/8/8/2B2B2/8/1N2K1N1 w - - 0 1";
    const char* bishops = "4k3/8/8/8/8/2N2N2/8/1B2K1B1 w - - 0 1";
    EXPECT_EQ(ruled(rules_ortolan, knights).position_key(),
              ruled(rules_ortolan, bishops).position_key());
    EXPECT_NE(ruled(rules_standard, knights).position_key(),
              ruled(rules_standard, bishops).position_key());
}

TEST(EnvRules, InsufficientMaterialIsDeclaredAsPythonChessDeclaresIt) {
    const struct {
        const char* fen;
        bool dead;
    } cases[] = {
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", true},      // bare kings
        {"4k3/8/8/8/8/8/8/4KN2 w - - 0 1", true},     // a knight
        {"2b1k3/8/8/8/8/8/8/4KB2 w - - 0 1", true},   // bishops on one colour
        {"1b2k3/8/8/8/8/8/8/4KB2 w - - 0 1", false},  // bishops on both colours
        {"4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1", false},  // two knights
        {"4kn2/8/8/8/8/8/8/4KN2 w - - 0 1", false},   // a knight each
        {"4k3/8/8/8/8/8/8/4KB1n w - - 0 1", false},   // bishop and knight
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", false},   // a pawn
    };
    for (const auto& c : cases)
        EXPECT_EQ(board_from_fen(c.fen).insufficient_material(), c.dead) << c.fen;
}

// The rollout ends where the step path ends the game: against a lone king a knight's first
// move ends a chess game, while the environment's own rules play on to the no-progress draw.
TEST(EnvRules, APlayoutEndsWhereTheRuleSetEndsTheGame) {
    for (const int32_t rules : {rules_ortolan, rules_standard}) {
        Board board = ruled(rules, "4k3/8/8/8/8/8/8/4KN2 w - - 0 1");
        const int32_t before = board.total_move_count;
        EXPECT_EQ(board.roll_out(7u), 0);
        EXPECT_EQ(board.total_move_count - before, rules == rules_ortolan ? 50 : 1);
    }
}

// The chess rule sets take the FEN's clocks: the half-move clock and the ply.
TEST(EnvRules, AChessGameStartsFromTheFensClocks) {
    const Board ortolan_rules = ruled(rules_ortolan, "4k3/8/8/8/8/8/8/4K2R b K - 37 21");
    const Board chess_rules = ruled(rules_standard, "4k3/8/8/8/8/8/8/4K2R b K - 37 21");
    EXPECT_EQ(ortolan_rules.no_progress_count, 0);
    EXPECT_EQ(ortolan_rules.total_move_count, 0);
    EXPECT_EQ(chess_rules.no_progress_count, 37);
    EXPECT_EQ(chess_rules.total_move_count, 41);
}

}  // namespace
}  // namespace ortolan
