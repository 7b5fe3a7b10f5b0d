// The batched tree search: mates found and mates avoided, repetition draws that count the game
// before the root, visit counts, the leaves the evaluator sees, results independent of how the
// trees are split among threads, tree reuse, and refused evaluator answers.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "batch/search.h"
#include "search_support.h"
#include "test_support.h"

namespace ortolan {
namespace {

using namespace search_support;

SearchSettings settings_with(int32_t simulations, int32_t leaves = 1, float noise = 0.25f) {
    SearchSettings s;
    s.simulations = simulations;
    s.leaves_per_batch = leaves;
    s.dirichlet_fraction = noise;
    return s;
}

std::vector<Board> games_from(const std::vector<std::string>& fens) {
    std::vector<Board> games;
    for (const std::string& fen : fens) games.push_back(game_from_fen(fen));
    return games;
}

// Each leaf's value says that White is winning, whoever is to move.
void white_is_winning(int32_t rows, const uint8_t* observations, const bool*, float* priors,
                      float* values) {
    std::fill(priors, priors + static_cast<size_t>(rows) * action_count, 1.0f);
    for (int32_t r = 0; r < rows; ++r) {
        const bool black_to_move = observations[(static_cast<size_t>(r) * 119 + 112) * 64] != 0;
        values[r] = black_to_move ? -0.9f : 0.9f;
    }
}

bool mates(Board game, int32_t action) {
    const StepResult r = game.step(action);
    return r.done && r.reward == (game.side == black ? 1 : -1);
}

TEST(SearchMates, FindsTheMateInOneOfEveryPosition) {
    const std::vector<Board> games = games_from(read_fens("tests/data/mate_in_one.txt"));
    ASSERT_GE(games.size(), 15u);
    // Random playouts favour the side with more material, whose untried moves count as draws
    // meanwhile, so they need more simulations to reach every move.
    for (const bool rollouts : {false, true}) {
        Search search(settings_with(rollouts ? 1000 : 300), games.data(),
                      static_cast<int32_t>(games.size()), 1, 2);
        search.start_run();
        if (rollouts)
            search.run_rollouts();
        else
            run(search, uniform);
        for (int32_t t = 0; t < search.size(); ++t)
            EXPECT_TRUE(mates(games[t], most_visited(search, t)))
                << "position " << t << (rollouts ? " with rollouts" : "");
    }
}

TEST(SearchMates, AvoidsEveryMoveThatAllowsAMateInOne) {
    const std::vector<Board> games = games_from(read_fens("tests/data/mate_threats.txt"));
    Search search(settings_with(800, 4), games.data(), static_cast<int32_t>(games.size()), 2, 2);
    run(search, uniform);
    for (int32_t t = 0; t < search.size(); ++t) {
        Board after = games[t];
        after.step(most_visited(search, t));
        ActionMap::Entry replies[max_moves];
        const int32_t count = after.legal_actions(replies);
        for (int32_t i = 0; i < count; ++i)
            EXPECT_FALSE(mates(after, replies[i].first)) << "position " << t;
    }
}

// White's king shuffles between h1 and g1, its only moves. Black pushes a pawn two squares once
// (a position with an en passant square counts apart) and then repeats rook moves, so that at
// the root White's only move brings the position after it a third time.
TEST(SearchRepetition, AForcedThirdOccurrenceIsADrawWhateverTheEvaluatorSays) {
    Board game = game_from_fen("2k2r2/p7/8/8/6p1/6Pp/7P/7K b - - 0 1");
    for (const char* move :
         {"a7a5", "h1g1", "f8f7", "g1h1", "f7f8", "h1g1", "f8f7", "g1h1", "f7f8"})
        ASSERT_FALSE(game.step(action_of(game, move)).done) << move;
    Board fresh = game_from_fen("2k2r2/8/8/p7/6p1/6Pp/7P/7K w - - 0 1");
    const Board roots[2] = {game, fresh};
    Search search(settings_with(50), roots, 2, 3, 2);
    run(search, white_is_winning);
    const std::vector<int32_t> counts = visit_counts(search);
    const int32_t only_move = action_of(game, "h1g1");
    EXPECT_EQ(counts[only_move], 50);
    EXPECT_EQ(root_values(search)[0], 0.0f);
    // The same position without its history: nothing repeats and the evaluator decides.
    EXPECT_EQ(counts[action_count + only_move], 50);
    EXPECT_GT(root_values(search)[1], 0.8f);
}

TEST(SearchVisits, AddUpToTheSimulationsAndEndedGamesGetNone) {
    const std::vector<Board> games = games_from({
        start_position, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1",  // Black is mated
        "k7/8/1Q6/8/8/8/8/7K b - - 0 1",   // stalemate
    });
    for (const int32_t simulations : {1, 7, 60}) {
        for (const int32_t leaves : {1, 3, 16}) {
            Search search(settings_with(simulations, leaves), games.data(), 4, 4, 2);
            run(search, uniform);
            const std::vector<int32_t> counts = visit_counts(search);
            for (int32_t t = 0; t < 4; ++t) {
                const auto row = counts.begin() + t * action_count;
                EXPECT_EQ(std::accumulate(row, row + action_count, 0), t < 2 ? simulations : 0)
                    << "root " << t << ", " << leaves << " leaves a batch";
            }
            EXPECT_EQ(root_values(search)[2], -1.0f);
            EXPECT_EQ(root_values(search)[3], 0.0f);
        }
    }
}

// Priors and values that depend on every byte of the observation, so that any difference in a
// leaf shows up in the search's results.
void hashed(int32_t rows, const uint8_t* observations, const bool*, float* priors, float* values) {
    for (int32_t r = 0; r < rows; ++r) {
        uint64_t h = 1469598103934665603ULL;
        const uint8_t* obs = observations + static_cast<size_t>(r) * 119 * 64;
        for (int32_t i = 0; i < 119 * 64; ++i) h = (h ^ obs[i]) * 1099511628211ULL;
        float* p = priors + static_cast<size_t>(r) * action_count;
        for (int32_t a = 0; a < action_count; ++a)
            p[a] = static_cast<float>(
                ((h ^ static_cast<uint64_t>(a) * 0x9E3779B97F4A7C15ULL) >> 40) & 1023);
        values[r] = static_cast<float>(static_cast<int64_t>(h >> 44) - (1 << 19)) / (1 << 19);
    }
}

Board random_game(uint32_t seed, int32_t plies) {
    Board game;
    game.reset();
    std::mt19937 rng(seed);
    for (int32_t i = 0; i < plies; ++i) {
        ActionMap::Entry legal[max_moves];
        const int32_t count = game.legal_actions(legal);
        if (game.step(legal[rng() % static_cast<uint32_t>(count)].first).done) break;
    }
    return game;
}

TEST(SearchLeaves, TheEvaluatorSeesTheGameSteppedAlongThePath) {
    Board just_reset;
    just_reset.reset();
    const Board roots[3] = {just_reset, random_game(5, 41), random_game(6, 120)};
    Search search(settings_with(40, 8), roots, 3, 5, 2);
    search.start_run();
    Batch batch;
    std::vector<int32_t> exact;
    int32_t checked = 0;
    while (!search.finished()) {
        const int32_t rows = next_batch(search, batch);
        exact.assign(static_cast<size_t>(rows) * 119 * 64, 0);
        search.write_leaves(exact.data(), observation_int32, batch.masks.get());
        for (int32_t t = 0, row = 0; t < 3; ++t) {
            const SearchTree& tree = search.tree(t);
            for (const PendingVisit& visit : tree.pending()) {
                if (visit.slot < 0) continue;
                Board game = roots[t];
                Observation expected = game.build_observation();
                for (int32_t i = visit.path_begin + 1; i < visit.path_end; ++i)
                    expected = game.step(tree.node(tree.paths()[i]).action).observation;
                const int32_t* got = exact.data() + static_cast<size_t>(row) * 119 * 64;
                const uint8_t* clipped =
                    batch.observations.data() + static_cast<size_t>(row) * 119 * 64;
                const int32_t* want = &expected.planes[0][0];
                for (int32_t i = 0; i < 119 * 64; ++i) {
                    ASSERT_EQ(got[i], want[i]) << "tree " << t << " value " << i;
                    ASSERT_EQ(clipped[i], std::clamp(want[i], 0, 255)) << "tree " << t;
                }
                const ActionMask mask = game.get_actions();
                for (int32_t a = 0; a < action_count; ++a)
                    ASSERT_EQ(batch.masks[static_cast<size_t>(row) * action_count + a],
                              mask.planes[a / 64][a % 64] == 1);
                ++row;
                ++checked;
            }
        }
        hashed(rows, batch.observations.data(), batch.masks.get(), batch.priors.data(),
               batch.values.data());
        search.apply(batch.priors.data(), batch.values.data());
    }
    EXPECT_GT(checked, 100);
}

struct Outcome {
    std::vector<int32_t> counts;
    std::vector<float> values;
};

Outcome search_on_threads(const std::vector<Board>& games, bool rollouts, int32_t threads) {
    Search search(settings_with(rollouts ? 30 : 120, 4), games.data(),
                  static_cast<int32_t>(games.size()), 6, threads);
    search.start_run();
    if (rollouts)
        search.run_rollouts();
    else
        run(search, hashed);
    return {visit_counts(search), root_values(search)};
}

// One tree: its playouts, not its trees, are shared among the threads.
TEST(SearchThreads, OneTreePlaysOutOnEveryThreadWithTheSameResults) {
    const Board root = random_game(3, 20);
    auto outcome = [&](int32_t threads) {
        Search search(settings_with(200, 8), &root, 1, 11, threads);
        search.start_run();
        search.run_rollouts();
        search.start_run(50);  // an increment: 50 visits more
        search.run_rollouts();
        return Outcome{visit_counts(search), root_values(search)};
    };
    const Outcome one = outcome(1);
    EXPECT_EQ(std::accumulate(one.counts.begin(), one.counts.end(), 0), 250);
    for (const int32_t threads : {2, 5}) {
        const Outcome many = outcome(threads);
        EXPECT_EQ(many.counts, one.counts) << threads << " threads";
        EXPECT_EQ(many.values, one.values) << threads << " threads";
    }
}

TEST(SearchThreads, ResultsAreTheSameForEveryThreadCount) {
    std::vector<Board> games;
    for (uint32_t seed = 0; seed < 7; ++seed) games.push_back(random_game(seed, 10 + 9 * seed));
    for (const bool rollouts : {false, true}) {
        const Outcome one = search_on_threads(games, rollouts, 1);
        for (const int32_t threads : {2, 3, 7}) {
            const Outcome many = search_on_threads(games, rollouts, threads);
            EXPECT_EQ(many.counts, one.counts) << threads << " threads, rollouts " << rollouts;
            EXPECT_EQ(many.values, one.values) << threads << " threads, rollouts " << rollouts;
        }
    }
}

TEST(SearchAdvance, TheChosenChildBecomesTheRootWithItsSubtree) {
    const Board roots[2] = {random_game(7, 12), random_game(8, 33)};
    Search search(settings_with(150, 4), roots, 2, 7, 2);
    run(search, hashed);
    int32_t actions[2];
    std::vector<int32_t> kept_visits(2), kept_counts(2 * action_count, 0);
    for (int32_t t = 0; t < 2; ++t) {
        actions[t] = most_visited(search, t);
        const SearchTree& tree = search.tree(t);
        for (int32_t i = 0; i < tree.node(0).child_count; ++i) {
            const SearchNode& child = tree.node(tree.node(0).first_child + i);
            if (child.action != actions[t]) continue;
            kept_visits[t] = child.visits;
            for (int32_t k = 0; k < child.child_count; ++k) {
                const SearchNode& grandchild = tree.node(child.first_child + k);
                kept_counts[t * action_count + grandchild.action] = grandchild.visits;
            }
        }
    }
    search.advance(actions);
    EXPECT_EQ(visit_counts(search), kept_counts);
    for (int32_t t = 0; t < 2; ++t) {
        EXPECT_GT(kept_visits[t], 20);
        EXPECT_EQ(search.tree(t).node(0).visits, kept_visits[t]);
        Board stepped = roots[t];
        stepped.step(actions[t]);
        EXPECT_TRUE(
            test_support::same_board(search.tree(t).root_board(), stepped, {.action_map = true}));
    }
    // The next run adds what the kept visits lack.
    run(search, hashed);
    const std::vector<int32_t> counts = visit_counts(search);
    for (int32_t t = 0; t < 2; ++t)
        EXPECT_EQ(std::accumulate(counts.begin() + t * action_count,
                                  counts.begin() + (t + 1) * action_count, 0),
                  150);
}

// White's only move is Kxb2, so every visit of a batch goes to that one child: it is evaluated
// once for all of them. Made the root, it must still get the run's full simulations.
TEST(SearchAdvance, ARootReachedByManyVisitsOfOneBatchStillGetsEverySimulation) {
    Board game = game_from_fen("k7/8/8/8/8/8/1r6/K7 w - - 0 1");
    Search search(settings_with(10, 8), &game, 1, 3, 1);
    run(search, uniform);
    const int32_t only = action_of(game, "a1b2");
    search.advance(&only);
    std::vector<int32_t> counts = visit_counts(search);
    // The kept root carries the visits of that batch beyond those its children got.
    ASSERT_GT(search.tree(0).node(0).visits, 1 + std::accumulate(counts.begin(), counts.end(), 0));
    run(search, uniform);
    counts = visit_counts(search);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 10);
}

TEST(SearchAdvance, RefusesActionsThatAreNotLegalAndChangesNothing) {
    const Board roots[3] = {random_game(9, 20), game_from_fen("k7/1Q6/1K6/8/8/8/8/8 b - - 0 1"),
                            random_game(10, 21)};
    Search search(settings_with(30), roots, 3, 8, 2);
    run(search, uniform);
    const std::vector<int32_t> before = visit_counts(search);
    const int32_t legal = most_visited(search, 0);
    for (const std::vector<int32_t>& actions :
         std::vector<std::vector<int32_t>>{{legal, 0, most_visited(search, 2)},
                                           {legal, -1, -1},
                                           {legal, -1, action_count},
                                           {-1, -1, most_visited(search, 2)}}) {
        EXPECT_THROW(search.advance(actions.data()), std::invalid_argument);
        EXPECT_EQ(visit_counts(search), before);
        for (int32_t t = 0; t < 3; ++t)
            EXPECT_TRUE(test_support::same_board(search.tree(t).root_board(), roots[t],
                                                 {.action_map = true}));
    }
    // The ended game takes -1 and stays where it is.
    const int32_t actions[3] = {legal, -1, most_visited(search, 2)};
    search.advance(actions);
    EXPECT_TRUE(search.tree(1).root_ended());
}

TEST(SearchFaults, ARefusedAnswerLeavesTheTreesAsTheyWere) {
    const Board roots[2] = {random_game(11, 8), random_game(12, 9)};
    Search search(settings_with(60, 5), roots, 2, 9, 2);
    search.start_run();
    Batch batch;
    for (int32_t round = 0; round < 4; ++round) {
        const std::vector<int32_t> before = visit_counts(search);
        const int32_t rows = next_batch(search, batch);
        ASSERT_GE(rows, 2);
        uniform(rows, nullptr, nullptr, batch.priors.data(), batch.values.data());
        const float* p = batch.priors.data();
        const float* v = batch.values.data();
        // One fault in row 1, of another kind each round; the good round goes through.
        const int32_t first_legal = static_cast<int32_t>(
            std::find(&batch.masks[action_count], &batch.masks[2 * action_count], true) -
            &batch.masks[action_count]);
        if (round == 0) batch.priors[action_count + first_legal] = NAN;
        if (round == 1) batch.priors[action_count + first_legal] = -0.5f;
        if (round == 2) batch.values[1] = 1.5f;
        const LeafFault fault = search.check(p, v);
        if (round == 3) {
            EXPECT_LT(fault.row, 0);
            search.apply(p, v);
            continue;
        }
        EXPECT_EQ(fault.row, 1);
        EXPECT_EQ(fault.action, round < 2 ? first_legal : -1);
        search.cancel();
        EXPECT_EQ(visit_counts(search), before);
        for (int32_t t = 0; t < 2; ++t) EXPECT_EQ(search.tree(t).node(0).pending, 0);
    }
    run(search, uniform);
    const std::vector<int32_t> counts = visit_counts(search);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 120);
}

bool refused(void (*change)(SearchSettings&)) {
    const Board start = game_from_fen(start_position);
    SearchSettings settings = settings_with(10);
    change(settings);
    try {
        Search search(settings, &start, 1, 0, 1);
    } catch (const std::invalid_argument&) {
        return true;
    }
    return false;
}

TEST(SearchSettingsCheck, OutOfRangeSettingsAndRootsAreRefused) {
    EXPECT_TRUE(refused([](SearchSettings& s) { s.simulations = 0; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.c_puct = -1.0f; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.c_puct = NAN; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.dirichlet_alpha = 0.0f; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.dirichlet_fraction = 1.5f; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.leaves_per_batch = 0; }));
    EXPECT_TRUE(refused([](SearchSettings& s) { s.leaves_per_batch = 5000; }));
    EXPECT_FALSE(refused([](SearchSettings&) {}));
    // Positions the engine cannot play from: no king, two kings a side, a square taken twice.
    for (const char* fen : {"8/8/8/8/8/8/8/4K3 w - - 0 1", "k7/8/8/8/8/8/8/KK6 w - - 0 1"}) {
        const Board bad = game_from_fen(fen);
        EXPECT_THROW(Search(settings_with(10), &bad, 1, 0, 1), std::invalid_argument) << fen;
    }
    Board overlapping = game_from_fen(start_position);
    overlapping.bitboards[piece::N] |= overlapping.bitboards[piece::P];
    EXPECT_THROW(Search(settings_with(10), &overlapping, 1, 0, 1), std::invalid_argument);
}

// Proofs over the tree: mate in two plies' worth of moves for the side to move (3 plies), and
// the mated side's view of a mate in one after its only move (2 plies).
TEST(SearchMates, ATreeProvesMatesAndItsLineFollowsTheVisits) {
    const std::vector<Board> games =
        games_from({"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "k7/8/1K6/8/8/8/8/7R b - - 0 1",
                    "7k/8/8/8/8/8/8/K7 w - - 0 1"});
    Search search(settings_with(3000, 1, 0.0f), games.data(), 3, 5, 1);
    search.start_run();
    search.run_rollouts();
    EXPECT_EQ(search.tree(0).proven_mate(), 1);
    EXPECT_EQ(search.tree(1).proven_mate(), -2);
    EXPECT_EQ(search.tree(2).proven_mate(), 0);  // a lone king each: no mate to prove
    Move line[8];
    ASSERT_EQ(search.tree(0).principal_line(line, 8), 1);  // the mate ends the line
    EXPECT_EQ(move_source(line[0]), a1);
    EXPECT_EQ(move_target(line[0]), a8);
    const int32_t length = search.tree(1).principal_line(line, 8);
    ASSERT_EQ(length, 2);
    EXPECT_EQ(move_target(line[0]), b8);
    EXPECT_EQ(move_target(line[1]), h8);
    EXPECT_EQ(search.tree(0).principal_line(line, 0), 0);
}

}  // namespace
}  // namespace ortolan
