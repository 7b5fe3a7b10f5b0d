// reset and step: the start of an episode, refused actions leaving the Board untouched,
// checkmates for either side, stalemates, positions without a king, the no-progress draw
// and the order in which the end-of-game tests apply.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/board.h"
#include "extras/state.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

const std::vector<int32_t> start_actions = {496, 497, 498, 499, 500, 501, 502,  503,  560,  561,
                                            562, 563, 564, 565, 566, 567, 3641, 3646, 3705, 3710};

// The message of the invalid-argument error a step raises, or "" when it does not raise.
std::string step_error(Board& board, int32_t action) {
    try {
        board.step(action);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

// reset does four things at once (record, observation, map, flag); each is checked here.
TEST(EnvEpisode, ResetStartsAFreshEpisode) {
    Board board;
    const StepResult r = board.reset();
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(map_keys(board.ActionMap), start_actions);
    EXPECT_EQ(board.just_reset, 1);
    EXPECT_EQ(board.state_history.size(), 1);
    EXPECT_EQ(board.state_pos, 1);
    EXPECT_EQ(board.repetition_count.size(), 1u);
    ASSERT_NE(board.repetition_count.find(0x07259D7613375B63ULL), nullptr);
    EXPECT_EQ(*board.repetition_count.find(0x07259D7613375B63ULL), 1);
    EXPECT_EQ(board.n_repititions, 0);
    EXPECT_EQ(board.no_progress_count, 0);
    EXPECT_EQ(board.castle, 15);
    EXPECT_EQ(board.enpassant, 64);
}

// A second reset throws away the last episode's history and counts, but not the move count.
TEST(EnvEpisode, ResetClearsTheLastEpisodeButKeepsTheMoveCount) {
    Board board;
    board.reset();
    play(board, {564, 524, 56 * 64 + 62});
    board.reset();
    EXPECT_EQ(board.state_history.size(), 1);
    EXPECT_EQ(board.state_pos, 1);
    EXPECT_EQ(board.repetition_count.size(), 1u);
    EXPECT_EQ(board.total_move_count, 3);
    EXPECT_EQ(board.just_reset, 1);
    EXPECT_EQ(board.no_progress_count, 0);
    EXPECT_EQ(map_keys(board.ActionMap), start_actions);
}

// new_game from the start position is reset's game: after an episode, the same Board but for
// the ActionMap, which only reset rebuilds.
TEST(EnvEpisode, NewGameFromTheStartIsWhatResetDoesToTheGame) {
    Board board;
    board.reset();
    play(board, {56 * 64 + 62, 61 * 64 + 6, 57 * 64 + 57, 60 * 64 + 1, 60 * 64 + 45, 57 * 64 + 21,
                 564, 524});
    Board fresh = board;
    board.reset();
    fresh.new_game(start_position);
    EXPECT_TRUE(same_board(fresh, board, {.action_map = true}));
}

// The smallest step: the side flips, the counter grows and the pawn really moves.
TEST(EnvEpisode, FirstPawnStepHandsTheMoveToBlack) {
    Board board;
    board.reset();
    const StepResult r = board.step(496);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(board.total_move_count, 1);
    EXPECT_EQ(board.just_reset, 0);
    EXPECT_EQ(board.bitboards[piece::P], 0x00FE010000000000ULL);  // b2..h2 and a3
    EXPECT_EQ(board.state_history.size(), 2);
}

// Action 0 would be a forward-left move from a8. The refusal happens after the ActionMap is
// rebuilt and before anything else: only just_reset and the map may change.
TEST(EnvEpisode, InvalidActionLeavesTheBoardAsItWas) {
    Board board;
    board.reset();
    const Board before = board;
    EXPECT_EQ(step_error(board, 0), "Invalid action");
    EXPECT_EQ(board.just_reset, 0);
    EXPECT_TRUE(same_board(board, before, {.just_reset = true, .action_map = true}));
    EXPECT_EQ(map_keys(board.ActionMap), start_actions);

    const StepResult r = board.step(496);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(r.done, 0);
}

// Numbers off the action range, and numbers of moves the position does not have.
TEST(EnvEpisode, EveryNumberThatIsNotALegalActionIsRefused) {
    Board board;
    board.reset();
    const Board before = board;
    for (int32_t action : {-1, 4672, 73 * 64 + 48, INT32_MAX, INT32_MIN, 524, 9 * 64 + 52,
                           56 * 64 + 58, 22 * 64 + 60}) {
        EXPECT_EQ(step_error(board, action), "Invalid action") << action;
        EXPECT_TRUE(same_board(board, before, {.just_reset = true, .action_map = true})) << action;
    }
}

// The map is rebuilt before the lookup, so a stale or planted entry is never played.
TEST(EnvEpisode, StepIgnoresAnActionMapItDidNotBuild) {
    Board board;
    board.reset();
    board.ActionMap.insert(0, board.ActionMap.find(564) ? *board.ActionMap.find(564) : 0);
    EXPECT_EQ(step_error(board, 0), "Invalid action");
    EXPECT_EQ(map_keys(board.ActionMap), start_actions);
    EXPECT_EQ(board.bitboards[piece::P], 0x00FF000000000000ULL);
}

// A snapshot whose move_index holds garbage under a real action number: the step plays the
// engine's own a2-a3, exactly as from a clean reset.
TEST(EnvEpisode, RestoredGarbageMoveIndexIsNeverPlayed) {
    Board clean;
    clean.reset();
    State s = clean.save_state();
    s.move_index = ActionMap{};
    s.move_index.insert(496, 0x000fffff);
    s.move_index.insert(1, 0x00000e30);

    Board board;
    board.reset();
    board.restore_state(s);
    EXPECT_EQ(step_error(board, 1), "Invalid action");
    const StepResult r = board.step(496);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(board.bitboards[piece::P], 0x00FE010000000000ULL);

    clean.step(496);
    EXPECT_TRUE(same_board(board, clean));
}

// 1. f3 e5 2. g4 Qh4#: Black mates, reward -1 with White to move; after the mate every
// action is refused.
TEST(EnvEpisode, FoolsMateEndsWithBlackWinning) {
    Board board;
    board.reset();
    const StepResult r = play(board, {501, 524, 566, 195});
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, -1);
    EXPECT_EQ(r.side, 0);
    EXPECT_TRUE(get_bit(board.bitboards[piece::q], sq("h4")));
    for (int32_t action : {496, 497, 560, 3641})
        EXPECT_EQ(step_error(board, action), "Invalid action") << action;
    EXPECT_TRUE(board.ActionMap.empty());
}

// 1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7#: White mates, reward +1 with Black to move.
TEST(EnvEpisode, ScholarsMateEndsWithWhiteWinning) {
    Board board;
    board.reset();
    const StepResult r = play(board, {564, 524, 17 * 64 + 59, 3841, 2 * 64 + 61, 3910, 64 + 31});
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 1);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(board.no_progress_count, 1);  // the mate was a capture
}

// Mates from loaded positions where the mating move is the only legal move.
TEST(EnvEpisode, MatesFromLoadedPositionsScoreForTheMatingSide) {
    // Qb7xb1: row +6 on the b-file, White direction 5, plane 40.
    Board white_mates = board_from_fen("8/1Q6/8/3q4/5N2/8/8/kqK1n3 w - - 0 1");
    StepResult r = white_mates.step(40 * 64 + sq("b7"));
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 1);
    EXPECT_EQ(r.side, 1);

    // The same with colours exchanged: ...Qb2xb8, row -6, Black direction 5, plane 40.
    Board black_mates = board_from_fen("KQk1N3/8/8/5n2/3Q4/8/1q6/8 b - - 0 1");
    r = black_mates.step(40 * 64 + sq("b2"));
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, -1);
    EXPECT_EQ(r.side, 0);
}

// Qb5-b6 leaves the Black king on a8 without a move and not in check.
TEST(EnvEpisode, StalemateEndsTheGameWithoutAWinner) {
    Board board = board_from_fen("k7/8/8/1Q6/8/8/8/7K w - - 0 1");
    const StepResult r = board.step(7 * 64 + sq("b5"));
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(step_error(board, 7 * 64 + sq("a8")), "Invalid action");

    // A stalemate delivered by Black: ...Ka4xb4 (row 0, file +1: Black direction 7).
    Board black = board_from_fen("n7/6q1/K7/8/kQ6/8/8/8 b - - 0 1");
    const StepResult rb = black.step(49 * 64 + sq("a4"));
    EXPECT_EQ(rb.done, 1);
    EXPECT_EQ(rb.reward, 0);
    EXPECT_EQ(rb.side, 0);
}

// A side without a king is never in check: with no legal move it is a draw, not a loss, and
// with moves it simply plays on.
TEST(EnvEpisode, SideWithoutAKingIsNeverInCheck) {
    // After ...Kh8-g8 White has only a blocked pawn and no king.
    Board blocked = board_from_fen("7k/8/8/8/8/p7/P7/8 b - - 0 1");
    StepResult r = blocked.step(21 * 64 + sq("h8"));
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.side, 0);

    // White has a rook but no king, and the black queen stands next to it.
    Board rook_only = board_from_fen("4k3/8/8/8/8/8/q7/R7 b - - 0 1");
    r = rook_only.step(7 * 64 + sq("e8"));  // ...Ke8-e7
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.reward, 0);
    // Ra1xa2 and Ra1-b1..h1: nothing is illegal for a side that has no king to expose.
    EXPECT_EQ(mask_actions(rook_only.get_actions()).size(), 8u);
    r = rook_only.step(7 * 64 + sq("a1"));  // Ra1xa2
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(rook_only.bitboards[piece::q], 0u);

    // Neither side has a king at all.
    Board none = board_from_fen("8/8/8/8/8/8/8/R6r w - - 0 1");
    r = none.step(21 * 64 + sq("a1"));  // Ra1-b1
    EXPECT_EQ(r.done, 0);
    r = none.step(26 * 64 + sq("h1"));  // ...Rh1xb1: row 0, file -6, Black direction 3
    EXPECT_EQ(r.done, 1);               // White has nothing left
    EXPECT_EQ(r.reward, 0);
}

// Two bare kings walk round their two ranks: sixteen squares each, so no position comes a
// third time within fifty plies, and the fiftieth ply brings the counter to 50.
TEST(EnvEpisode, FiftiethQuietPlyIsADraw) {
    Board board = board_from_fen("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    const char* white_path[] = {"f1", "g1", "h1", "h2", "g2", "f2", "e2", "d2",
                                "c2", "b2", "a2", "a1", "b1", "c1", "d1", "e1"};
    const char* black_path[] = {"f8", "g8", "h8", "h7", "g7", "f7", "e7", "d7",
                                "c7", "b7", "a7", "a8", "b8", "c8", "d8", "e8"};
    int32_t white_at = sq("e1"), black_at = sq("e8");
    EXPECT_NE(board.get_actions().planes[21][60], 0);  // Ke1-f1: direction 3, distance 1
    for (int32_t ply = 1; ply <= 50; ++ply) {
        const bool white_moves = ply % 2 == 1;
        const int32_t to =
            sq(white_moves ? white_path[(ply / 2) % 16] : black_path[(ply / 2 - 1) % 16]);
        int32_t& from = white_moves ? white_at : black_at;
        int32_t action = -1;
        for (Move m : legal_moves_by_trial(board))
            if (move_source(m) == from && move_target(m) == to)
                action = reference_action(m, board.side);
        ASSERT_GE(action, 0) << "ply " << ply;
        const StepResult r = board.step(action);
        from = to;
        EXPECT_EQ(board.no_progress_count, ply);
        EXPECT_LE(board.n_repititions, 1) << "ply " << ply;
        EXPECT_EQ(r.reward, 0);
        EXPECT_EQ(r.done, ply == 50 ? 1 : 0) << "ply " << ply;
    }
    EXPECT_EQ(board.n_repititions, 1);  // ply 50 repeats ply 18's position
}

// The test is "50 or more": a counter restored above 50 ends the game on the next quiet move,
// and a pawn move brings it back to 1.
TEST(EnvEpisode, NoProgressCountAboveFiftyAlsoEndsTheGame) {
    Board board;
    board.reset();
    State s = board.save_state();
    s.no_progress_count = 60;
    board.restore_state(s);
    StepResult r = board.step(56 * 64 + 62);
    EXPECT_EQ(board.no_progress_count, 61);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, 0);
    r = board.step(456);  // play on: a7-a6
    EXPECT_EQ(board.no_progress_count, 1);
    EXPECT_EQ(r.done, 0);

    s.no_progress_count = 48;
    board.restore_state(s);
    EXPECT_EQ(board.step(56 * 64 + 62).done, 0);  // 49
    EXPECT_EQ(board.step(61 * 64 + 6).done, 1);   // 50
}

// The no-legal-move test comes first: a mate that is also a third occurrence, and a mate
// with the no-progress counter past 50, still score the mate.
TEST(EnvEpisode, MateBeatsRepetitionAndNoProgressDraws) {
    Board board;
    board.reset();
    play(board, {501, 524, 566});
    State s = board.save_state();
    const uint64_t mated =
        key_of_fen("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
    s.repetition_count[mated] = 2;
    s.no_progress_count = 70;
    board.restore_state(s);
    const StepResult r = board.step(195);
    EXPECT_EQ(board.n_repititions, 2);
    EXPECT_EQ(board.no_progress_count, 71);
    EXPECT_EQ(r.done, 1);
    EXPECT_EQ(r.reward, -1);

    // And the same for a stalemate: a draw, but by stalemate.
    Board stale = board_from_fen("k7/8/8/1Q6/8/8/8/7K w - - 0 1");
    State t = stale.save_state();
    t.repetition_count[key_of_fen("k7/8/1Q6/8/8/8/8/7K b - - 0 1")] = 2;
    stale.restore_state(t);
    const StepResult rs = stale.step(7 * 64 + sq("b5"));
    EXPECT_EQ(stale.n_repititions, 2);
    EXPECT_EQ(rs.done, 1);
    EXPECT_EQ(rs.reward, 0);
}

// advance and outcome are step without its observation: the same Board after each ply of a
// game, and the same done and reward, mates and the repetition draw included. advance_direct,
// which carries the key from ply to ply, leaves the same Board and returns the key.
TEST(EnvEpisode, AdvanceAndOutcomeDoWhatStepDoes) {
    for (const auto& game : std::vector<std::vector<int32_t>>{
             {501, 524, 566, 195},  // fool's mate
             {56 * 64 + 62, 61 * 64 + 6, 60 * 64 + 45, 57 * 64 + 21, 56 * 64 + 62, 61 * 64 + 6,
              60 * 64 + 45, 57 * 64 + 21}}) {  // the start position three times
        Board stepped;
        stepped.reset();
        Board advanced = stepped;
        Board keyed = stepped;
        uint64_t key = keyed.hash_state();
        int32_t last_done = 0;
        for (int32_t action : game) {
            const StepResult r = stepped.step(action);
            last_done = r.done;
            advanced.rebuild_action_map();
            advanced.advance(*advanced.ActionMap.find(action));
            keyed.rebuild_action_map();
            key = keyed.advance_direct(*keyed.ActionMap.find(action), key);
            EXPECT_EQ(key, keyed.hash_state()) << action;
            MoveList list;
            const Outcome end = advanced.outcome(advanced.legal_moves(list));
            EXPECT_TRUE(same_board(advanced, stepped)) << action;
            EXPECT_TRUE(same_board(keyed, stepped)) << action;
            EXPECT_EQ(end.done, r.done) << action;
            EXPECT_EQ(end.reward, r.reward) << action;
        }
        EXPECT_EQ(last_done, 1);
    }
    Board mated;
    mated.parse_fen("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");
    EXPECT_EQ(mated.outcome(0).reward, 1);
    EXPECT_EQ(mated.outcome(0).done, 1);
    mated.no_progress_count = 50;
    EXPECT_EQ(mated.outcome(3).reward, 0);
    EXPECT_EQ(mated.outcome(3).done, 1);
    mated.no_progress_count = 49;
    EXPECT_EQ(mated.outcome(3).done, 0);
}

}  // namespace
}  // namespace ortolan
