// The observation and its history ring: exact planes after reset and after a move (swap and
// half-turn), the ring order once it is full, the repetition planes, the rotation exception
// right after reset, the exact storage of histories brought in from outside, and the turn of an
// observation to the other side's seat.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "engine/board.h"
#include "extras/state.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

Plane obs_plane(const Observation& obs, int32_t plane) { return plane_of(obs.planes[plane]); }

void expect_zero_planes(const Observation& obs, int32_t first, int32_t last) {
    for (int32_t p = first; p <= last; ++p) EXPECT_EQ(obs_plane(obs, p), uniform(0)) << p;
}

// The start position seen by White, no swap and no rotation; every plane exact.
TEST(EnvObservation, AfterResetEveryPlaneShowsTheStartFromWhite) {
    Board board;
    const StepResult r = board.reset();
    const Observation& obs = r.observation;
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(obs_plane(obs, 0), ones_at({48, 49, 50, 51, 52, 53, 54, 55}));
    EXPECT_EQ(obs_plane(obs, 1), ones_at({57, 62}));
    EXPECT_EQ(obs_plane(obs, 2), ones_at({58, 61}));
    EXPECT_EQ(obs_plane(obs, 3), ones_at({56, 63}));
    EXPECT_EQ(obs_plane(obs, 4), ones_at({59}));
    EXPECT_EQ(obs_plane(obs, 5), ones_at({60}));
    EXPECT_EQ(obs_plane(obs, 6), ones_at({8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(obs_plane(obs, 7), ones_at({1, 6}));
    EXPECT_EQ(obs_plane(obs, 8), ones_at({2, 5}));
    EXPECT_EQ(obs_plane(obs, 9), ones_at({0, 7}));
    EXPECT_EQ(obs_plane(obs, 10), ones_at({3}));
    EXPECT_EQ(obs_plane(obs, 11), ones_at({4}));
    expect_zero_planes(obs, 12, 112);
    EXPECT_EQ(obs_plane(obs, 113), uniform(0));
    for (int32_t p = 114; p <= 117; ++p) EXPECT_EQ(obs_plane(obs, p), uniform(1)) << p;
    EXPECT_EQ(obs_plane(obs, 118), uniform(0));
    EXPECT_EQ(board.state_history.size(), 1);
    EXPECT_EQ(board.state_pos, 1);
}

// reset keeps counting moves across episodes, and plane 113 shows it.
TEST(EnvObservation, ResetShowsTheMoveCountCarriedOverFromEarlierEpisodes) {
    Board board;
    board.reset();
    play(board, {496, 456, 488});  // a3 a6 a4
    const StepResult r = board.reset();
    EXPECT_EQ(board.total_move_count, 3);
    EXPECT_EQ(obs_plane(r.observation, 113), uniform(3));
}

// After e2-e4 Black is to move: Black's pieces come first and every plane is turned half
// round (square i shows square 63 - i).
TEST(EnvObservation, AfterE4BlackSeesSwappedAndTurnedPlanes) {
    Board board;
    board.reset();
    const StepResult r = board.step(8 * 64 + 52);
    const Observation& obs = r.observation;
    EXPECT_EQ(r.side, 1);
    // Slot 0: the position after e4.
    EXPECT_EQ(obs_plane(obs, 0), ones_at({48, 49, 50, 51, 52, 53, 54, 55}));
    EXPECT_EQ(obs_plane(obs, 1), ones_at(turned({1, 6})));
    EXPECT_EQ(obs_plane(obs, 2), ones_at(turned({2, 5})));
    EXPECT_EQ(obs_plane(obs, 3), ones_at(turned({0, 7})));
    EXPECT_EQ(obs_plane(obs, 4), ones_at({60}));
    EXPECT_EQ(obs_plane(obs, 5), ones_at({59}));
    EXPECT_EQ(obs_plane(obs, 6), ones_at({8, 9, 10, 12, 13, 14, 15, 27}));
    EXPECT_EQ(obs_plane(obs, 7), ones_at(turned({57, 62})));
    EXPECT_EQ(obs_plane(obs, 8), ones_at(turned({58, 61})));
    EXPECT_EQ(obs_plane(obs, 9), ones_at(turned({56, 63})));
    EXPECT_EQ(obs_plane(obs, 10), ones_at({4}));
    EXPECT_EQ(obs_plane(obs, 11), ones_at({3}));
    expect_zero_planes(obs, 12, 13);
    // Slot 1: the start position, drawn from Black's seat as well.
    EXPECT_EQ(obs_plane(obs, 14), ones_at({48, 49, 50, 51, 52, 53, 54, 55}));
    EXPECT_EQ(obs_plane(obs, 19), ones_at({59}));
    EXPECT_EQ(obs_plane(obs, 20), ones_at({8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(obs_plane(obs, 25), ones_at({3}));
    expect_zero_planes(obs, 26, 111);
    EXPECT_EQ(obs_plane(obs, 112), uniform(1));
    EXPECT_EQ(obs_plane(obs, 113), uniform(1));
    for (int32_t p = 114; p <= 117; ++p) EXPECT_EQ(obs_plane(obs, p), uniform(1)) << p;
    EXPECT_EQ(obs_plane(obs, 118), uniform(1));  // a pawn move leaves the counter at 1
}

// Knight tour: the white and black knight squares after each step, so every slot can be
// checked against the position it must hold.
constexpr int32_t tour[8] = {
    56 * 64 + 62,  // 1. Nf3   g1-f3
    61 * 64 + 6,   // 1... Nf6 g8-f6
    57 * 64 + 57,  // 2. Nc3   b1-c3
    60 * 64 + 1,   // 2... Nc6 b8-c6
    56 * 64 + 42,  // 3. Nb5   c3-b5
    61 * 64 + 18,  // 3... Nb4 c6-b4
    63 * 64 + 45,  // 4. Nd4   f3-d4
    62 * 64 + 21,  // 4... Nd5 f6-d5
};
const std::vector<int32_t> white_knights_after[9] = {
    {57, 62}, {45, 57}, {45, 57}, {42, 45}, {42, 45}, {25, 45}, {25, 45}, {25, 35}, {25, 35}};
const std::vector<int32_t> black_knights_after[9] = {
    {1, 6}, {1, 6}, {1, 21}, {1, 21}, {18, 21}, {18, 21}, {21, 33}, {21, 33}, {27, 33}};

std::vector<int32_t> turned_all(const std::vector<int32_t>& squares) {
    std::vector<int32_t> out;
    for (int32_t s : squares) out.push_back(63 - s);
    return out;
}

// Seven steps fill the ring (state_pos back at 0) with the start position still in slot 7;
// the eighth step overwrites the oldest record.
TEST(EnvObservation, RingOfEightHoldsTheLatestPositionsNewestFirst) {
    Board board;
    board.reset();
    StepResult r{};
    for (int32_t i = 0; i < 7; ++i) r = board.step(tour[i]);
    EXPECT_EQ(board.state_history.size(), 8);
    EXPECT_EQ(board.state_pos, 0);
    ASSERT_EQ(r.side, 1);
    for (int32_t e = 0; e < 8; ++e) {
        // Black to move: Black's knights in plane 1 of each slot, White's in plane 7, turned.
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 1),
                  ones_at(turned_all(black_knights_after[7 - e])))
            << "slot " << e;
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 7),
                  ones_at(turned_all(white_knights_after[7 - e])))
            << "slot " << e;
    }

    r = board.step(tour[7]);
    EXPECT_EQ(board.state_history.size(), 8);
    EXPECT_EQ(board.state_pos, 1);
    ASSERT_EQ(r.side, 0);
    for (int32_t e = 0; e < 8; ++e) {
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 1), ones_at(white_knights_after[8 - e]))
            << "slot " << e;
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 7), ones_at(black_knights_after[8 - e]))
            << "slot " << e;
    }
    // The start position (knights on b1 and g1) is gone from every slot.
    for (int32_t e = 0; e < 8; ++e)
        EXPECT_NE(obs_plane(r.observation, 14 * e + 1), ones_at({57, 62})) << "slot " << e;
}

constexpr int32_t nf3 = 56 * 64 + 62, nf6 = 61 * 64 + 6, ng1 = 60 * 64 + 45, ng8 = 57 * 64 + 21;

// Plane 12 carries the repetition value of the latest White-to-move record and plane 13 that
// of the latest Black-to-move record, each record mixing the new value with the previous one.
TEST(EnvObservation, RepetitionPlanesFollowTheLatestValueOfEachSide) {
    Board board;
    board.reset();
    StepResult r = play(board, {nf3, nf6, ng1, ng8});
    EXPECT_EQ(r.side, 0);
    EXPECT_EQ(obs_plane(r.observation, 12), uniform(1));
    EXPECT_EQ(obs_plane(r.observation, 13), uniform(0));
    // Older slots: after Ng1, after Nf6, after Nf3, start: all first occurrences.
    for (int32_t e = 1; e <= 4; ++e) {
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 12), uniform(0)) << e;
        EXPECT_EQ(obs_plane(r.observation, 14 * e + 13), uniform(0)) << e;
    }

    r = board.step(nf3);
    EXPECT_EQ(r.side, 1);
    EXPECT_EQ(obs_plane(r.observation, 12), uniform(1));
    EXPECT_EQ(obs_plane(r.observation, 13), uniform(1));
    EXPECT_EQ(obs_plane(r.observation, 26), uniform(1));
    EXPECT_EQ(obs_plane(r.observation, 27), uniform(0));
}

// reset leaves prev_n_repititions alone, so the first record of the next episode carries
// the 2 of the third occurrence in plane 13.
TEST(EnvObservation, ResetAfterAThirdRepetitionCarriesTwoInPlaneThirteen) {
    Board board;
    board.reset();
    const StepResult end = play(board, {nf3, nf6, ng1, ng8, nf3, nf6, ng1, ng8});
    ASSERT_EQ(end.done, 1);
    EXPECT_EQ(obs_plane(end.observation, 12), uniform(2));
    EXPECT_EQ(obs_plane(end.observation, 13), uniform(1));

    const StepResult r = board.reset();
    EXPECT_EQ(obs_plane(r.observation, 12), uniform(0));
    EXPECT_EQ(obs_plane(r.observation, 13), uniform(2));
    EXPECT_EQ(obs_plane(r.observation, 113), uniform(8));
    expect_zero_planes(r.observation, 14, 112);
    EXPECT_EQ(board.n_repititions, 0);
    EXPECT_EQ(board.prev_n_repititions, 0);
}

// just_reset is still 1 when a Black-to-move snapshot comes back right after reset: the
// pieces are swapped but the board is not turned. The first step afterwards turns it.
TEST(EnvObservation, BlackSnapshotRestoredRightAfterResetIsSwappedButNotTurned) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);  // e4
    const State after_e4 = board.save_state();
    board.reset();
    const StepResult r = board.restore_state(after_e4);
    EXPECT_EQ(board.just_reset, 1);
    EXPECT_EQ(r.side, 1);
    const Observation& obs = r.observation;
    EXPECT_EQ(obs_plane(obs, 0), ones_at({8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(obs_plane(obs, 1), ones_at({1, 6}));
    EXPECT_EQ(obs_plane(obs, 5), ones_at({4}));
    EXPECT_EQ(obs_plane(obs, 6), ones_at({36, 48, 49, 50, 51, 53, 54, 55}));
    EXPECT_EQ(obs_plane(obs, 11), ones_at({60}));
    EXPECT_EQ(obs_plane(obs, 14), ones_at({8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(obs_plane(obs, 20), ones_at({48, 49, 50, 51, 52, 53, 54, 55}));
    EXPECT_EQ(obs_plane(obs, 112), uniform(1));

    const StepResult next = board.step(524);  // e5
    EXPECT_EQ(next.side, 0);
    EXPECT_EQ(board.just_reset, 0);
    const StepResult again = board.restore_state(after_e4);
    EXPECT_EQ(obs_plane(again.observation, 0), ones_at({48, 49, 50, 51, 52, 53, 54, 55}));
    EXPECT_EQ(obs_plane(again.observation, 6), ones_at({8, 9, 10, 12, 13, 14, 15, 27}));
}

// Plane 113 is filled after the counter grows.
TEST(EnvObservation, PlaneOneHundredThirteenShowsTheCountAfterTheStep) {
    Board board;
    board.reset();
    board.total_move_count = 41;
    const StepResult r = board.step(496);
    EXPECT_EQ(board.total_move_count, 42);
    EXPECT_EQ(obs_plane(r.observation, 113), uniform(42));
}

// Castling planes and the no-progress plane read the live position.
TEST(EnvObservation, ScalarPlanesShowCastlingRightsAndNoProgressCount) {
    Board board;
    board.reset();
    board.parse_fen("r3k2r/8/8/8/8/8/8/R3K2R w Kq - 0 1");
    board.no_progress_count = 17;
    const Observation obs = board.build_observation();
    EXPECT_EQ(obs_plane(obs, 114), uniform(1));
    EXPECT_EQ(obs_plane(obs, 115), uniform(0));
    EXPECT_EQ(obs_plane(obs, 116), uniform(0));
    EXPECT_EQ(obs_plane(obs, 117), uniform(1));
    EXPECT_EQ(obs_plane(obs, 118), uniform(17));
}

// parse_fen loads a position and nothing else: no record, no count, no map rebuild.
TEST(EnvObservation, ParseFenRecordsNothingAndKeepsTheEpisodeBookkeeping) {
    Board board;
    board.reset();
    play(board, {nf3, nf6});
    board.ActionMap.insert(9999, 123);  // must survive
    const Board before = board;
    board.parse_fen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    EXPECT_TRUE(board.state_history == before.state_history);
    EXPECT_EQ(board.state_history.size(), 3);
    EXPECT_EQ(board.state_pos, before.state_pos);
    EXPECT_TRUE(board.repetition_count == before.repetition_count);
    EXPECT_EQ(board.repetition_count.size(), 3u);
    EXPECT_EQ(board.n_repititions, before.n_repititions);
    EXPECT_EQ(board.prev_n_repititions, before.prev_n_repititions);
    EXPECT_TRUE(board.ActionMap == before.ActionMap);
    EXPECT_NE(board.ActionMap.find(9999), nullptr);
    EXPECT_EQ(board.total_move_count, 2);
    EXPECT_EQ(board.just_reset, 0);
    EXPECT_EQ(board.no_progress_count, 0);
    EXPECT_EQ(board.castle, 15);
}

// The observation a step returns is the one build_observation gives for the Board the step
// leaves, counters included.
TEST(EnvObservation, StepReturnsTheObservationOfTheBoardItLeaves) {
    Board board;
    board.reset();
    board.step(nf3);
    const StepResult r = board.step(524);
    const Observation a = board.build_observation();
    const Observation b = board.build_observation();
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(std::memcmp(&a, &r.observation, sizeof a), 0);
    EXPECT_EQ(obs_plane(a, 113), uniform(2));
    EXPECT_EQ(obs_plane(a, 118), uniform(1));
}

// A record of 14 planes filled by a formula, with values a compact form could not hold.
std::vector<std::vector<int32_t>> odd_record(int32_t seed) {
    std::vector<std::vector<int32_t>> record(14, std::vector<int32_t>(64, 0));
    for (int32_t p = 0; p < 14; ++p)
        for (int32_t s = 0; s < 64; ++s) record[p][s] = (p * 64 + s + seed) % 7 - 3;
    record[3][10] = 5;
    record[12][0] = INT32_MIN;
    record[13][63] = INT32_MAX;
    return record;
}

// A record the engine itself could have made: piece planes of 0 and 1, uniform repetitions.
std::vector<std::vector<int32_t>> plain_record(int32_t square, int32_t rep12, int32_t rep13) {
    std::vector<std::vector<int32_t>> record(14, std::vector<int32_t>(64, 0));
    record[0][square] = 1;
    record[11][63 - square] = 1;
    record[12].assign(64, rep12);
    record[13].assign(64, rep13);
    return record;
}

// Histories from outside keep every value: raw and compact records side by side read back
// identically.
TEST(EnvObservation, HistoryAssignKeepsArbitraryValuesExactly) {
    const NestedHistory nested = {plain_record(10, 0, 1), odd_record(1), plain_record(20, 2, 2),
                                  odd_record(5)};
    History h;
    h.assign(nested);
    EXPECT_TRUE(h.regular());
    EXPECT_EQ(h.size(), 4);
    EXPECT_EQ(h.to_nested(), nested);

    // Piece planes of 0 and 1 with one repetition entry out of line.
    NestedHistory uneven = {plain_record(5, 2, 2), plain_record(6, 0, 1)};
    uneven[0][13][40] = 3;
    h.assign(uneven);
    EXPECT_EQ(h.to_nested(), uneven);

    // Ones only, but one square set in two piece planes: both must come back.
    NestedHistory overlap = {plain_record(5, 0, 0)};
    overlap[0][7][5] = 1;
    overlap[0][11][20] = 1;
    overlap[0][3][20] = 1;
    h.assign(overlap);
    EXPECT_EQ(h.to_nested(), overlap);

    // Uniform repetition planes with one 5 among the piece planes.
    NestedHistory five = {plain_record(5, 1, 1)};
    five[0][2][9] = 5;
    h.assign(five);
    EXPECT_EQ(h.to_nested(), five);

    // A piece plane with one 5 in it and a repetition plane that is not uniform, alone.
    NestedHistory single = {plain_record(0, 1, 1)};
    single[0][4][7] = 5;
    single[0][12][33] = 0;
    h.assign(single);
    EXPECT_TRUE(h.regular());
    EXPECT_EQ(h.to_nested(), single);

    const History copy = h;
    EXPECT_TRUE(copy == h);
    NestedHistory changed = single;
    changed[0][13][63] = 2;
    History other;
    other.assign(changed);
    EXPECT_FALSE(other == h);
    h.assign(nested);
    EXPECT_EQ(copy.to_nested(), single);
    EXPECT_FALSE(copy == h);
}

// Shapes that cannot be played from are kept as given, read back, and flagged.
TEST(EnvObservation, IrregularHistoriesAreKeptButFlagged) {
    const NestedHistory tiny = {{{1, 2}}};
    History h;
    h.assign(tiny);
    EXPECT_FALSE(h.regular());
    EXPECT_EQ(h.size(), 1);
    EXPECT_EQ(h.to_nested(), tiny);

    NestedHistory nine(9, plain_record(3, 0, 0));
    h.assign(nine);
    EXPECT_FALSE(h.regular());
    EXPECT_EQ(h.size(), 9);
    EXPECT_EQ(h.to_nested(), nine);

    NestedHistory short_record = {plain_record(3, 0, 0)};
    short_record[0].pop_back();
    h.assign(short_record);
    EXPECT_FALSE(h.regular());
    EXPECT_EQ(h.to_nested(), short_record);

    NestedHistory short_plane = {plain_record(3, 0, 0)};
    short_plane[0][13].pop_back();
    h.assign(short_plane);
    EXPECT_FALSE(h.regular());
    EXPECT_EQ(h.to_nested(), short_plane);

    NestedHistory eight(8, plain_record(3, 0, 0));
    h.assign(eight);
    EXPECT_TRUE(h.regular());
    EXPECT_EQ(h.size(), 8);

    h.assign({});
    EXPECT_TRUE(h.regular());
    EXPECT_EQ(h.size(), 0);
    EXPECT_TRUE(h.to_nested().empty());
}

// The planes build_observation must show for record R in a slot, by the swap and turn rules.
Plane expected_slot_plane(const std::vector<std::vector<int32_t>>& record, int32_t p, bool swap,
                          bool turn) {
    const int32_t source = p < 12 && swap ? (p + 6) % 12 : p;
    Plane out;
    for (int32_t s = 0; s < 64; ++s) out[s] = record[source][turn ? 63 - s : s];
    return out;
}

// Raw records reach the observation unchanged apart from the swap and the half-turn, and a
// step afterwards records over them normally.
TEST(EnvObservation, RawHistoryValuesReachTheObservationExactly) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);  // e4: Black to move, just_reset 0
    State s = board.save_state();
    const NestedHistory nested = {odd_record(0), plain_record(12, 1, 0), odd_record(3)};
    s.state_history.assign(nested);
    s.state_pos = 3;
    const StepResult r = board.restore_state(s);
    ASSERT_EQ(r.side, 1);
    for (int32_t e = 0; e < 3; ++e)
        for (int32_t p = 0; p < 14; ++p)
            EXPECT_EQ(obs_plane(r.observation, 14 * e + p),
                      expected_slot_plane(nested[2 - e], p, true, true))
                << "slot " << e << " plane " << p;
    // The 5 at square 10 of record plane 3 (a White rook plane) shows in the other side's
    // rook plane, turned to square 53.
    EXPECT_EQ(r.observation.planes[14 * 2 + 9][53], 5);
    expect_zero_planes(r.observation, 42, 111);

    const StepResult next = board.step(524);  // e5: White to move, appended at index 3
    EXPECT_EQ(board.state_history.size(), 4);
    EXPECT_EQ(board.state_pos, 4);
    for (int32_t e = 1; e < 4; ++e)
        for (int32_t p = 0; p < 14; ++p)
            EXPECT_EQ(obs_plane(next.observation, 14 * e + p),
                      expected_slot_plane(nested[3 - e], p, false, false))
                << "slot " << e << " plane " << p;
    EXPECT_EQ(obs_plane(next.observation, 6), ones_at({8, 9, 10, 11, 13, 14, 15, 28}));
    const NestedHistory read_back = board.state_history.to_nested();
    ASSERT_EQ(read_back.size(), 4u);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(read_back[i], nested[i]) << i;
}

// A full ring of raw records: the next step overwrites the oldest one with the engine's own
// record, and that slot must show the new position, not the raw planes it replaced.
TEST(EnvObservation, StepOverwritesTheOldestRawRecordOfAFullRing) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);  // e4
    State s = board.save_state();
    NestedHistory nested;
    for (int32_t i = 0; i < 8; ++i) nested.push_back(odd_record(10 * i));
    s.state_history.assign(nested);
    s.state_pos = 3;
    board.restore_state(s);

    const StepResult r = board.step(524);  // e5: White to move, replaces index 3
    EXPECT_EQ(board.state_pos, 4);
    EXPECT_EQ(board.state_history.size(), 8);
    EXPECT_EQ(obs_plane(r.observation, 0), ones_at({36, 48, 49, 50, 51, 53, 54, 55}));
    EXPECT_EQ(obs_plane(r.observation, 6), ones_at({8, 9, 10, 11, 13, 14, 15, 28}));
    EXPECT_EQ(obs_plane(r.observation, 12), uniform(0));
    EXPECT_EQ(obs_plane(r.observation, 13), uniform(0));
    for (int32_t e = 1; e < 8; ++e)
        for (int32_t p = 0; p < 14; ++p)
            EXPECT_EQ(obs_plane(r.observation, 14 * e + p),
                      expected_slot_plane(nested[(11 - e) % 8], p, false, false))
                << "slot " << e << " plane " << p;
    const NestedHistory read_back = board.state_history.to_nested();
    EXPECT_EQ(read_back[3][0], std::vector<int32_t>(std::begin(r.observation.planes[0]),
                                                    std::end(r.observation.planes[0])));
    for (int32_t i : {0, 1, 2, 4, 5, 6, 7}) EXPECT_EQ(read_back[i], nested[i]) << i;
}

// A ring position pointing past the stored records leaves those slots zero.
TEST(EnvObservation, SlotsOutsideTheStoredRecordsStayZero) {
    Board board;
    board.reset();
    State s = board.save_state();
    s.state_history.assign({plain_record(1, 0, 0), plain_record(2, 0, 0), plain_record(3, 0, 0)});
    s.state_pos = 5;
    const StepResult r = board.restore_state(s);
    // Slot e reads index (5 + 7 - e) mod 8: 4, 3, 2, 1, 0, 7, 6, 5.
    expect_zero_planes(r.observation, 0, 27);
    EXPECT_EQ(obs_plane(r.observation, 28), ones_at({3}));
    EXPECT_EQ(obs_plane(r.observation, 42), ones_at({2}));
    EXPECT_EQ(obs_plane(r.observation, 56), ones_at({1}));
    EXPECT_EQ(obs_plane(r.observation, 56 + 11), ones_at({62}));
    expect_zero_planes(r.observation, 70, 111);
}

// The writer the batched environment uses: float planes hold the int32 values exactly and
// uint8 planes hold them clipped to 0..255, negative counters and raw values included.
TEST(EnvObservation, WriterGivesTheSameValuesForEveryElementType) {
    Board board;
    board.reset();
    board.step(8 * 64 + 52);
    State s = board.save_state();
    NestedHistory nested = {odd_record(0), plain_record(12, 1, 0)};
    nested[0][12].assign(64, 300);
    nested[0][13].assign(64, -4);
    s.state_history.assign(nested);
    s.state_pos = 2;
    s.no_progress_count = -7;
    board.restore_state(s);
    board.total_move_count = 70000;
    const Observation exact = board.build_observation();
    std::vector<uint8_t> bytes(observation_planes * 64, 99);
    std::vector<float> floats(observation_planes * 64, 99.0f);
    board.write_observation(bytes.data());
    board.write_observation(floats.data());
    int32_t clipped = 0;
    for (int32_t p = 0; p < observation_planes; ++p) {
        for (int32_t q = 0; q < 64; ++q) {
            const int32_t v = exact.planes[p][q];
            ASSERT_EQ(floats[p * 64 + q], static_cast<float>(v)) << p << " " << q;
            ASSERT_EQ(bytes[p * 64 + q], v < 0 ? 0 : v > 255 ? 255 : v) << p << " " << q;
            clipped += v < 0 || v > 255;
        }
    }
    EXPECT_EQ(exact.planes[113][0], 70000);
    EXPECT_EQ(exact.planes[118][5], -7);
    EXPECT_GE(clipped, 4 * 64);
}

// The other seat sees a position as the engine draws it with the other side to move: every
// plane but 113, the game's ply, which a FEN's side to move moves on by one.
TEST(EnvObservation, TheOtherSeatSeesAFenAsItsSideToMoveWould) {
    const char* fens[2] = {"r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
                           "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 4 4"};
    Observation drawn[2];
    for (int32_t i = 0; i < 2; ++i) {
        Board board;
        board.rules = rules_standard;
        board.new_game(fens[i]);
        board.build_observation(drawn[i]);
    }
    EXPECT_EQ(obs_plane(drawn[0], 113), uniform(6));
    EXPECT_EQ(obs_plane(drawn[1], 113), uniform(7));
    for (int32_t i = 0; i < 2; ++i) {
        Observation seen;
        write_other_seat(&drawn[i].planes[0][0], &seen.planes[0][0]);
        for (int32_t p = 0; p < observation_planes; ++p)
            EXPECT_EQ(obs_plane(seen, p), obs_plane(drawn[p == 113 ? i : 1 - i], p))
                << i << " " << p;
    }
}

// Through a game that repeats a position and fills the ring, each observation turned to the other
// seat is the one drawn with the side to move changed, every history slot included, and turning
// it again gives it back.
TEST(EnvObservation, TurningToTheOtherSeatTwiceGivesTheObservationBack) {
    Board board;
    board.rules = rules_standard;
    board.new_game(start_position);
    board.rebuild_action_map();
    for (const int32_t action : {nf3, nf6, ng1, ng8, tour[0], tour[1], tour[2], tour[3], tour[4],
                                 tour[5], tour[6], tour[7]}) {
        ASSERT_EQ(board.step(action).done, 0) << action;
        const Observation drawn = board.build_observation();
        board.side = 1 - board.side;
        const Observation other = board.build_observation();
        board.side = 1 - board.side;
        Observation seen, back;
        write_other_seat(&drawn.planes[0][0], &seen.planes[0][0]);
        write_other_seat(&seen.planes[0][0], &back.planes[0][0]);
        ASSERT_EQ(std::memcmp(&seen, &other, sizeof seen), 0) << action;
        ASSERT_EQ(std::memcmp(&back, &drawn, sizeof back), 0) << action;
    }
}

}  // namespace
}  // namespace ortolan
