// The batched environment: every slot steps as a Board driven by reset and step, results do not
// depend on the number of threads, a refused action changes no slot, and a snapshot that cannot
// be played is refused before any slot is restored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "batch/vector_ortolan.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace test_support;

// A VectorOrtolan with int32 observations and the buffers one step fills.
struct Batch {
    Batch(int32_t slots, int32_t threads, int32_t autoreset = autoreset_next_step,
          std::optional<int64_t> max_plies = std::nullopt)
        : env(slots, threads, observation_int32, autoreset, max_plies),
          observation(static_cast<size_t>(slots) * observation_size),
          mask(static_cast<size_t>(slots) * action_count),
          rewards(static_cast<size_t>(slots)),
          terminated(static_cast<size_t>(slots)),
          truncated(static_cast<size_t>(slots)),
          to_play(static_cast<size_t>(slots)) {
        env.seed(7);
    }
    BatchOutput batch() { return {observation.data(), mask.data()}; }
    StepOutput out() {
        return {batch(), rewards.data(), terminated.data(), truncated.data(), to_play.data()};
    }
    const int32_t* row(int32_t slot) const { return observation.data() + slot * observation_size; }

    VectorOrtolan env;
    std::vector<int32_t> observation;
    std::vector<uint8_t> mask;
    std::vector<float> rewards;
    std::vector<uint8_t> terminated, truncated;
    std::vector<int8_t> to_play;
};

// A random legal action per slot, from the mask the batch wrote; -1 for a slot with none.
std::vector<int32_t> random_actions(const Batch& batch, std::mt19937& engine) {
    const int32_t slots = batch.env.num_envs();
    std::vector<int32_t> actions(static_cast<size_t>(slots), -1);
    for (int32_t i = 0; i < slots; ++i) {
        std::vector<int32_t> legal;
        for (int32_t a = 0; a < action_count; ++a)
            if (batch.mask[static_cast<size_t>(i * action_count + a)]) legal.push_back(a);
        if (!legal.empty()) actions[static_cast<size_t>(i)] = legal[engine() % legal.size()];
    }
    return actions;
}

TEST(VectorOrtolan, SlotsStepAsBoardsDrivenByResetAndStep) {
    constexpr int32_t slots = 5;
    Batch batch(slots, 2);
    batch.env.reset(nullptr, nullptr, batch.batch());
    std::vector<Board> boards(slots);
    std::vector<bool> ended(slots, false);
    for (Board& board : boards) board.reset();
    std::mt19937 engine(3);
    int32_t endings = 0;
    for (int32_t step = 0; step < 600; ++step) {
        const std::vector<int32_t> actions = random_actions(batch, engine);
        ASSERT_EQ(batch.env.step(actions.data(), batch.out()), 0);
        for (int32_t i = 0; i < slots; ++i) {
            StepResult expected;
            if (ended[i]) {
                expected = boards[i].reset();
                ended[i] = false;
            } else {
                expected = boards[i].step(actions[i]);
                ended[i] = expected.done;
                endings += expected.done;
            }
            ASSERT_EQ(std::memcmp(batch.row(i), expected.observation.planes,
                                  sizeof expected.observation.planes),
                      0)
                << "slot " << i << " step " << step;
            const ActionMask legal = boards[i].get_actions();
            for (int32_t a = 0; a < action_count; ++a)
                ASSERT_EQ(batch.mask[i * action_count + a], legal.planes[a / 64][a % 64]);
            EXPECT_EQ(batch.rewards[i], static_cast<float>(expected.reward));
            EXPECT_EQ(batch.terminated[i], expected.done);
            EXPECT_EQ(batch.to_play[i], expected.side);
        }
    }
    EXPECT_GT(endings, 0);
}

TEST(VectorThreads, ResultsAreTheSameForEveryNumberOfThreads) {
    constexpr int32_t slots = 37;
    std::deque<Batch> batches;  // not movable: each holds its thread pool
    for (int32_t threads : {1, 2, 3}) batches.emplace_back(slots, threads, autoreset_next_step, 90);
    std::vector<int32_t> outcomes[3];
    for (Batch& batch : batches) batch.env.reset(nullptr, nullptr, batch.batch());
    std::mt19937 engine(5);
    for (int32_t step = 0; step < 150; ++step) {
        const std::vector<int32_t> actions = random_actions(batches[0], engine);
        for (size_t b = 0; b < batches.size(); ++b) {
            ASSERT_EQ(batches[b].env.step(actions.data(), batches[b].out()), 0);
            if (step % 50 == 49) {
                outcomes[b].resize(slots);
                batches[b].env.roll_out(outcomes[b].data());
                batches[b].env.observe(batches[b].batch());
            }
        }
        for (size_t b = 1; b < batches.size(); ++b) {
            ASSERT_EQ(batches[b].observation, batches[0].observation) << "step " << step;
            ASSERT_EQ(batches[b].mask, batches[0].mask);
            ASSERT_EQ(batches[b].truncated, batches[0].truncated);
            ASSERT_EQ(outcomes[b], outcomes[0]);
        }
    }
}

TEST(VectorOrtolan, ARefusedActionChangesNoSlot) {
    Batch batch(3, 2);
    batch.env.reset(nullptr, nullptr, batch.batch());
    const std::vector<int32_t> before = batch.observation;
    const int32_t actions[3] = {8 * 64 + 52, 0, 4672};  // e2-e4, then two that are never legal
    EXPECT_EQ(batch.env.step(actions, batch.out()), 2);
    EXPECT_FALSE(batch.env.refused(0));
    EXPECT_TRUE(batch.env.refused(1));
    EXPECT_TRUE(batch.env.refused(2));
    EXPECT_EQ(batch.observation, before);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(batch.env.save_state(i).total_move_count, 0);
}

TEST(VectorOrtolan, SameStepResetsEndedSlotsAfterReportingThem) {
    Batch batch(2, 1, autoreset_same_step);
    batch.env.reset(nullptr, nullptr, batch.batch());
    for (int32_t action : {501, 524, 566, 195}) {  // 1. f3 e5 2. g4 Qh4#
        const int32_t actions[2] = {action, action};
        ASSERT_EQ(batch.env.step(actions, batch.out()), 0);
    }
    EXPECT_TRUE(batch.env.ended(0));
    EXPECT_EQ(batch.rewards[1], -1.0f);
    batch.env.reset_ended(batch.batch());
    EXPECT_FALSE(batch.env.ended(0));
    Board fresh;
    const StepResult start = fresh.reset();
    EXPECT_EQ(std::memcmp(batch.row(1), start.observation.planes, 113 * 64 * sizeof(int32_t)), 0);
}

TEST(VectorOrtolan, RestoreStatesRefusesABadStateBeforeRestoringAny) {
    Batch batch(3, 2);
    batch.env.reset(nullptr, nullptr, batch.batch());
    const int32_t actions[3] = {8 * 64 + 52, 8 * 64 + 52, 8 * 64 + 52};
    batch.env.step(actions, batch.out());
    Board start;
    start.reset();
    const State good = start.save_state();
    State bad = good;
    bad.state_pos = 8;
    const State* states[3] = {&good, &good, &bad};
    EXPECT_THROW(batch.env.restore_states(states, batch.batch()), std::invalid_argument);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(batch.env.save_state(i).side, black);
    states[2] = &good;
    batch.env.restore_states(states, batch.batch());
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(batch.env.save_state(i).side, white);
}

// The legal lists are each slot's mask in ascending order, padded with -1 to the widest list;
// with no legal move anywhere there is still one column, of -1.
TEST(VectorOrtolan, LegalListsFollowTheMasksAndKeepAColumn) {
    const char* mated = "k5Q1/8/1K6/8/8/8/8/8 b - - 0 1";
    for (const std::vector<const char*>& fens :
         {std::vector<const char*>{nullptr, mated, "8/8/8/8/8/2k5/8/K7 w - - 0 1"},
          std::vector<const char*>{mated}}) {
        const auto slots = static_cast<int32_t>(fens.size());
        Batch batch(slots, 2);
        batch.env.reset(nullptr, fens.data(), batch.batch());
        const int32_t width = batch.env.legal_width();
        EXPECT_EQ(width, slots == 1 ? 1 : 20);
        std::vector<int32_t> actions(static_cast<size_t>(slots * width)), counts(slots);
        batch.env.legal_actions(width, actions.data(), counts.data());
        for (int32_t i = 0; i < slots; ++i) {
            std::vector<int32_t> expected;
            for (int32_t a = 0; a < action_count; ++a)
                if (batch.mask[static_cast<size_t>(i * action_count + a)]) expected.push_back(a);
            EXPECT_EQ(counts[i], static_cast<int32_t>(expected.size())) << i;
            expected.resize(static_cast<size_t>(width), -1);
            EXPECT_EQ(std::vector<int32_t>(actions.begin() + i * width,
                                           actions.begin() + (i + 1) * width),
                      expected)
                << i;
        }
        EXPECT_EQ(counts[slots == 1 ? 0 : 1], 0);
    }
}

// A queen and a bishop on one square give two moves of each diagonal action: a restored slot
// lists each action once and plays the move Board::step plays for it.
TEST(VectorOrtolan, TwoMovesOfOneActionListOnceAndPlayAsStepPlaysThem) {
    Board start = board_from_fen("4k3/8/8/8/3Q4/8/8/4K3 w - - 0 1");
    start.bitboards[piece::B] |= square_bit(sq("d4"));
    start.rebuild_action_map();
    std::vector<int32_t> keys = map_keys(start.ActionMap);
    std::sort(keys.begin(), keys.end());
    ASSERT_NE(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const State state = start.save_state();
    Batch batch(1, 1);
    batch.env.reset(nullptr, nullptr, batch.batch());
    for (const int32_t action : keys) {
        batch.env.restore_state(0, state, batch.observation.data(), batch.mask.data());
        const int32_t width = batch.env.legal_width();
        std::vector<int32_t> listed(static_cast<size_t>(width));
        int32_t count = 0;
        batch.env.legal_actions(width, listed.data(), &count);
        EXPECT_EQ(listed, keys);
        Board board = start;
        board.total_move_count = batch.env.save_state(0).total_move_count;
        const StepResult expected = board.step(action);
        ASSERT_EQ(batch.env.step(&action, batch.out()), 0) << action;
        EXPECT_EQ(std::memcmp(batch.row(0), expected.observation.planes,
                              sizeof expected.observation.planes),
                  0)
            << action;
    }
}

TEST(VectorOrtolan, RefusesSettingsOutOfRange) {
    constexpr int64_t beyond_int32 = int64_t{1} << 31;
    for (const int64_t slots : {int64_t{0}, beyond_int32})
        EXPECT_THROW(VectorOrtolan(slots, 1, observation_uint8, autoreset_next_step, std::nullopt),
                     std::invalid_argument)
            << slots;
    EXPECT_THROW(VectorOrtolan(1, 0, observation_uint8, autoreset_next_step, std::nullopt),
                 std::invalid_argument);
    EXPECT_THROW(VectorOrtolan(1, 1, 3, autoreset_next_step, std::nullopt), std::invalid_argument);
    EXPECT_THROW(VectorOrtolan(1, 1, observation_uint8, 3, std::nullopt), std::invalid_argument);
    for (const int64_t plies : {int64_t{-1}, int64_t{0}, beyond_int32})
        EXPECT_THROW(VectorOrtolan(1, 1, observation_uint8, autoreset_next_step, plies),
                     std::invalid_argument)
            << plies;
}

// A pool never has more threads than slots.
TEST(VectorOrtolan, RunsOnAtMostOneThreadASlot) {
    EXPECT_EQ(
        VectorOrtolan(3, int64_t{1} << 40, observation_uint8, autoreset_next_step, 5).threads(), 3);
}

}  // namespace
}  // namespace ortolan
