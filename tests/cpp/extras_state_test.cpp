// Snapshots: the text form, save and restore giving back every member, restoring into another
// Board, refusing out-of-range records before anything is written, and records without kings.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/board.h"
#include "extras/state.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

constexpr int32_t nf3 = 56 * 64 + 62, nf6 = 61 * 64 + 6, nc3 = 57 * 64 + 57, nc6 = 60 * 64 + 1;

// Ten lines joined by newlines, the last without one; state_pos is already 1 after reset.
TEST(ExtrasState, TextAfterTheFirstResetListsTheFieldsInOrder) {
    Board board;
    board.reset();
    EXPECT_EQ(state_text(board.save_state()),
              "State(\n  side=0,\n  enpassant=64,\n  castle=15,\n  state_pos=1,\n"
              "  total_move_count=0,\n  no_progress_count=0,\n  n_repititions=0,\n"
              "  state_history size=1\n)");
}

// The blank record: en passant 0 (not 64) and an empty history, and no newline at the end.
TEST(ExtrasState, TextOfABlankStateShowsZerosAndEndsWithoutNewline) {
    const std::string text = state_text(State());
    EXPECT_EQ(text,
              "State(\n  side=0,\n  enpassant=0,\n  castle=0,\n  state_pos=0,\n"
              "  total_move_count=0,\n  no_progress_count=0,\n  n_repititions=0,\n"
              "  state_history size=0\n)");
    EXPECT_NE(text.back(), '\n');
}

// Negative values print with a minus sign; the last line counts records, even irregular ones;
// prev_n_repititions is not shown.
TEST(ExtrasState, TextShowsNegativeValuesAndTheRecordCount) {
    State s;
    s.side = 1;
    s.enpassant = 44;
    s.castle = 5;
    s.state_pos = 7;
    s.total_move_count = INT32_MIN;
    s.no_progress_count = 49;
    s.n_repititions = -3;
    s.prev_n_repititions = 123456;
    s.state_history.assign(NestedHistory(9, std::vector<std::vector<int32_t>>(1)));
    EXPECT_EQ(state_text(s),
              "State(\n  side=1,\n  enpassant=44,\n  castle=5,\n  state_pos=7,\n"
              "  total_move_count=-2147483648,\n  no_progress_count=49,\n  n_repititions=-3,\n"
              "  state_history size=9\n)");
}

// Thirteen members, two of them maps and one a history: each must be copied, not defaulted.
TEST(ExtrasState, SaveStateCopiesEveryMember) {
    Board board;
    board.reset();
    play(board, {564, nc6, nf3});
    const State s = board.save_state();
    EXPECT_TRUE(std::equal(s.bitboards, s.bitboards + 12, board.bitboards));
    EXPECT_TRUE(std::equal(s.occupancies, s.occupancies + 3, board.occupancies));
    EXPECT_EQ(s.side, 1);
    EXPECT_EQ(s.enpassant, 64);
    EXPECT_EQ(s.castle, 15);
    EXPECT_TRUE(s.state_history == board.state_history);
    EXPECT_EQ(s.state_history.size(), 4);
    EXPECT_TRUE(s.move_index == board.ActionMap);
    EXPECT_EQ(s.state_pos, 4);
    EXPECT_EQ(s.total_move_count, 3);
    EXPECT_EQ(s.no_progress_count, 3);
    EXPECT_TRUE(s.repetition_count == board.repetition_count);
    EXPECT_EQ(s.repetition_count.size(), 4u);
    EXPECT_EQ(s.n_repititions, board.n_repititions);
    EXPECT_EQ(s.prev_n_repititions, board.prev_n_repititions);
}

// Rewinding gives back every member except total_move_count, which keeps counting, and the
// observation it returns shows that live count.
TEST(ExtrasState, RestoreAfterStepsGivesBackEveryMemberButTheMoveCount) {
    Board board;
    board.reset();
    play(board, {nf3, nf6, nc3});
    const Board at_save = board;
    const State s = board.save_state();
    play(board, {nc6, 60 * 64 + 45, 57 * 64 + 21, 564, 524});
    ASSERT_EQ(board.total_move_count, 8);

    const StepResult r = board.restore_state(s);
    EXPECT_TRUE(same_board(board, at_save, {.total_move_count = true}));
    EXPECT_EQ(board.total_move_count, 8);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.done, 0);
    const Observation expected = board.build_observation();
    EXPECT_EQ(std::memcmp(&r.observation, &expected, sizeof expected), 0);
    EXPECT_EQ(plane_of(r.observation.planes[113]), uniform(8));

    // The game continues exactly as it would have at the moment of saving.
    Board replay = at_save;
    const StepResult a = board.step(nc6);
    const StepResult b = replay.step(nc6);
    EXPECT_TRUE(same_board(board, replay, {.total_move_count = true}));
    EXPECT_EQ(a.side, b.side);
    EXPECT_EQ(a.done, b.done);
}

// load_state leaves the Board restore_state leaves, into a Board whose history, repetition
// table and action list have grown past the snapshot's, and does not consume the snapshot.
TEST(ExtrasState, LoadStateTakesWhatRestoreStateTakes) {
    Board board;
    board.reset();
    play(board, {nf3, nf6});
    board.get_actions();
    const State s = board.save_state();
    const State untouched = s;
    play(board, {nc3, nc6, 60 * 64 + 45, 57 * 64 + 21, 564, 524});
    board.get_actions();
    Board restored = board;
    restored.restore_state(s);
    board.load_state(s);
    EXPECT_TRUE(same_board(board, restored));
    EXPECT_EQ(board.total_move_count, 8);
    EXPECT_TRUE(same_state(s, untouched));
}

// Restoring is repeatable and does not consume the snapshot.
TEST(ExtrasState, RestoringTwiceGivesTheSameBoardAndLeavesTheStateAlone) {
    Board board;
    board.reset();
    play(board, {564, 524, nf3});
    const State s = board.save_state();
    const State untouched = s;
    play(board, {nc6});
    board.restore_state(s);
    const Board once = board;
    play(board, {nc6, 2 * 64 + 61});
    board.restore_state(s);
    EXPECT_TRUE(same_board(board, once, {.total_move_count = true}));
    EXPECT_TRUE(same_state(s, untouched));
}

// A snapshot carries everything needed: another Board continues the same game.
TEST(ExtrasState, SnapshotRestoresIntoAnotherBoard) {
    Board source;
    source.reset();
    play(source, {501, 524, 566});
    const State s = source.save_state();

    Board target;
    target.total_move_count = 1000;
    const StepResult r = target.restore_state(s);
    EXPECT_TRUE(same_board(target, source, {.total_move_count = true, .just_reset = true}));
    EXPECT_EQ(target.total_move_count, 1000);
    EXPECT_EQ(target.just_reset, 0);
    EXPECT_EQ(r.side, 1);
    const StepResult mate = target.step(195);  // ...Qh4#
    EXPECT_EQ(mate.done, 1);
    EXPECT_EQ(mate.reward, -1);
    EXPECT_EQ(target.total_move_count, 1001);
}

// A finished game restores with reward 0 and done 0; the next step finds no action.
TEST(ExtrasState, RestoringAMatedPositionReportsAGameInProgress) {
    Board board;
    board.reset();
    play(board, {501, 524, 566, 195});
    const State mated = board.save_state();
    board.reset();
    const StepResult r = board.restore_state(mated);
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(r.reward, 0);
    EXPECT_EQ(r.done, 0);
    EXPECT_THROW(board.step(496), std::invalid_argument);
    EXPECT_TRUE(board.ActionMap.empty());
}

// restore_state leaves just_reset as it finds it.
TEST(ExtrasState, RestoreKeepsJustReset) {
    Board board;
    board.reset();
    board.step(nf3);
    const State s = board.save_state();
    board.reset();
    board.restore_state(s);
    EXPECT_EQ(board.just_reset, 1);
    board.step(nf6);
    board.restore_state(s);
    EXPECT_EQ(board.just_reset, 0);
}

// The message of restore_state's refusal, "" when it takes the State; load_state must refuse
// with the same message.
std::string restore_error(Board& board, const State& s) {
    std::string loaded;
    try {
        board.load_state(s);
    } catch (const std::invalid_argument& e) {
        loaded = e.what();
    }
    try {
        board.restore_state(s);
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(loaded, e.what());
        return e.what();
    }
    EXPECT_EQ(loaded, "");
    return "";
}

const char* const side_message = "invalid State: side must be 0 or 1";
const char* const enpassant_message = "invalid State: enpassant must be in 0..64";
const char* const castle_message = "invalid State: castle must be in 0..15";
const char* const state_pos_message = "invalid State: state_pos must be in 0..7";
const char* const history_message =
    "invalid State: state_history must hold at most 8 records of 14 planes of 64 values";

std::vector<std::vector<int32_t>> record_of(int32_t value) {
    return std::vector<std::vector<int32_t>>(14, std::vector<int32_t>(64, value));
}

// Every out-of-range field is refused with its own message, before anything is written: the
// whole Board, backup copies included, is as it was.
TEST(ExtrasState, OutOfRangeRecordsAreRefusedBeforeAnythingIsWritten) {
    Board donor;
    donor.reset();
    play(donor, {564, 524, 566, 8 * 64 + 11, nf3});
    const State good = donor.save_state();

    struct Case {
        const char* what;
        std::function<void(State&)> spoil;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"side 2", [](State& s) { s.side = 2; }, side_message},
        {"side -1", [](State& s) { s.side = -1; }, side_message},
        {"side min", [](State& s) { s.side = INT32_MIN; }, side_message},
        {"enpassant -1", [](State& s) { s.enpassant = -1; }, enpassant_message},
        {"enpassant 65", [](State& s) { s.enpassant = 65; }, enpassant_message},
        {"enpassant max", [](State& s) { s.enpassant = INT32_MAX; }, enpassant_message},
        {"castle -1", [](State& s) { s.castle = -1; }, castle_message},
        {"castle 16", [](State& s) { s.castle = 16; }, castle_message},
        {"state_pos -1", [](State& s) { s.state_pos = -1; }, state_pos_message},
        {"state_pos 8", [](State& s) { s.state_pos = 8; }, state_pos_message},
        {"state_pos 100", [](State& s) { s.state_pos = 100; }, state_pos_message},
        {"tiny record",
         [](State& s) {
             s.state_history.assign({{{1, 2}}});
         },
         history_message},
        {"nine records", [](State& s) { s.state_history.assign(NestedHistory(9, record_of(0))); },
         history_message},
        {"thirteen planes",
         [](State& s) {
             NestedHistory h = {record_of(0)};
             h[0].pop_back();
             s.state_history.assign(h);
         },
         history_message},
        {"plane of 65",
         [](State& s) {
             NestedHistory h = {record_of(0), record_of(1)};
             h[1][5].push_back(0);
             s.state_history.assign(h);
         },
         history_message},
        // With several fields wrong, the first in the order side, enpassant, castle,
        // state_pos, history is reported.
        {"side and castle",
         [](State& s) {
             s.side = 7;
             s.castle = 99;
         },
         side_message},
        {"enpassant and state_pos",
         [](State& s) {
             s.enpassant = -5;
             s.state_pos = 9;
         },
         enpassant_message},
        {"castle and history",
         [](State& s) {
             s.castle = 16;
             s.state_history.assign({{{1}}});
         },
         castle_message},
        {"state_pos and history",
         [](State& s) {
             s.state_pos = 8;
             s.state_history.assign({{{1}}});
         },
         state_pos_message},
    };

    Board board;
    board.reset();
    play(board, {nf3, nf6});
    board.get_actions();
    for (const Case& c : cases) {
        State bad = good;
        c.spoil(bad);
        const State bad_copy = bad;
        const Board before = board;
        EXPECT_EQ(restore_error(board, bad), c.message) << c.what;
        EXPECT_TRUE(same_board(board, before, {.backup = false})) << c.what;
        EXPECT_TRUE(same_state(bad, bad_copy)) << c.what;
    }
}

// The edges of each range are accepted.
TEST(ExtrasState, BoundaryValuesAreAccepted) {
    Board donor;
    donor.reset();
    const State good = donor.save_state();
    const std::vector<std::function<void(State&)>> edits = {
        [](State& s) { s.side = 1; },
        [](State& s) { s.enpassant = 0; },
        [](State& s) { s.enpassant = 63; },
        [](State& s) { s.enpassant = 64; },
        [](State& s) { s.castle = 0; },
        [](State& s) { s.castle = 15; },
        [](State& s) { s.state_pos = 0; },
        [](State& s) { s.state_pos = 7; },
        [](State& s) { s.state_history.assign(NestedHistory(8, record_of(1))); },
        [](State& s) { s.state_history.assign({}); },
    };
    int32_t index = 0;
    for (const auto& edit : edits) {
        State s = good;
        edit(s);
        Board board;
        board.reset();
        EXPECT_EQ(restore_error(board, s), "") << "edit " << index;
        EXPECT_TRUE(same_state(board.save_state(), s)) << "edit " << index;
        ++index;
    }
}

// The no-argument State has no kings, en passant square a8 and no history; it restores, and
// the operations after it work without a king to look at.
TEST(ExtrasState, BlankStateRestoresAndLeavesAPlayableEmptyBoard) {
    Board board;
    board.reset();
    play(board, {nf3, nf6, nc3});
    const StepResult r = board.restore_state(State());
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(r.done, 0);
    for (int32_t p = 0; p < observation_planes; ++p)
        EXPECT_EQ(plane_of(r.observation.planes[p]), uniform(p == 113 ? 3 : 0)) << p;
    EXPECT_EQ(board.state_history.size(), 0);
    EXPECT_EQ(board.enpassant, 0);
    // The en passant square a8 flips bit 0 of White's constant.
    EXPECT_EQ(board.hash_state(), 0x6E57394121878681ULL);
    EXPECT_TRUE(mask_actions(board.get_actions()).empty());
    EXPECT_THROW(board.step(496), std::invalid_argument);
    const Board before = board;
    EXPECT_EQ(board.roll_out(7u), 0);
    EXPECT_TRUE(same_board(board, before));
}

// Pieces but no kings, from a snapshot: moves are generated, played and recorded.
TEST(ExtrasState, SnapshotWithoutKingsCanBePlayed) {
    Board source = board_from_fen("8/8/8/3r4/8/8/8/R7 w - - 0 1");
    const State s = source.save_state();
    Board board;
    board.reset();
    board.restore_state(s);
    EXPECT_EQ(mask_actions(board.get_actions()).size(), 14u);
    const StepResult r = board.step(21 * 64 + sq("a1"));  // Ra1-b1
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(board.state_history.size(), 1);
    EXPECT_EQ(mask_actions(board.get_actions()).size(), 14u);
}

// Copies are deep; a moved-from State keeps its plain members and gives up its containers.
TEST(ExtrasState, CopiesAreDeepAndMovesHandOverTheContainers) {
    Board board;
    board.reset();
    play(board, {564, 524});
    State original = board.save_state();
    const State reference = original;

    State copy = original;
    copy.state_history.assign({record_of(3)});
    copy.repetition_count[12345] = 9;
    copy.move_index.insert(9999, 1);
    EXPECT_TRUE(same_state(original, reference));

    State moved = std::move(original);
    EXPECT_TRUE(same_state(moved, reference));
    EXPECT_EQ(original.state_history.size(), 0);
    EXPECT_TRUE(original.move_index.empty());
    EXPECT_TRUE(original.repetition_count.empty());
    EXPECT_EQ(original.repetition_count.size(), 0u);
    EXPECT_EQ(original.side, reference.side);
    EXPECT_EQ(original.total_move_count, reference.total_move_count);
    EXPECT_EQ(original.state_pos, reference.state_pos);
}

}  // namespace
}  // namespace ortolan
