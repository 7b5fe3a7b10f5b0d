#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "batch/observation_type.h"
#include "batch/pgn_batches.h"

namespace ortolan {
namespace {

std::string tricky_games() {
    const auto path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "pgn" / "tricky.pgn";
    std::ifstream in(path, std::ios::binary);
    const std::string one((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    for (int i = 0; i < 12; ++i) text += one;
    return text;
}

struct Batches {
    std::vector<uint8_t> observation, mask;
    std::vector<int32_t> action, ply;
    std::vector<float> outcome;
    std::vector<int64_t> game;
    std::vector<int64_t> sizes;
};

// Every batch of 37 rows of the text fed 997 bytes at a time.
Batches read(const std::string& text, int32_t threads, int64_t shuffle) {
    PgnBatchSettings settings;
    settings.threads = threads;
    settings.read.rules = rules_standard;
    settings.filter.unfinished = true;
    settings.shuffle = shuffle;
    settings.seed = 5;
    PgnBatches batches(settings);
    constexpr int64_t rows = 37;
    Batches all;
    std::vector<uint8_t> observation(rows * observation_size), mask(rows * action_count);
    std::vector<int32_t> action(rows), ply(rows);
    std::vector<float> outcome(rows);
    std::vector<int64_t> game(rows);
    const PgnBatchOutput out{observation.data(), mask.data(), action.data(),
                             outcome.data(),     ply.data(),  game.data()};
    auto drain = [&](int64_t least) {
        while (batches.available() >= least) {
            const int64_t n = batches.next(rows, out);
            all.sizes.push_back(n);
            all.observation.insert(all.observation.end(), observation.begin(),
                                   observation.begin() + n * observation_size);
            all.mask.insert(all.mask.end(), mask.begin(), mask.begin() + n * action_count);
            all.action.insert(all.action.end(), action.begin(), action.begin() + n);
            all.ply.insert(all.ply.end(), ply.begin(), ply.begin() + n);
            all.outcome.insert(all.outcome.end(), outcome.begin(), outcome.begin() + n);
            all.game.insert(all.game.end(), game.begin(), game.begin() + n);
        }
    };
    for (size_t i = 0; i < text.size(); i += 997) {
        batches.feed(text.data() + i, std::min<size_t>(997, text.size() - i));
        drain(rows);
    }
    batches.finish();
    drain(1);
    return all;
}

TEST(VectorPgnBatches, ThreadCountDoesNotChangeTheBatches) {
    const std::string text = tricky_games();
    // The positions read: every move of every game the reader accepts.
    pgn::Reader reader(pgn::Options{});
    std::vector<pgn::Entry> entries;
    reader.feed(text.data(), text.size(), entries);
    reader.finish(entries);
    size_t plies = 0;
    for (const pgn::Entry& e : entries) plies += e.actions.size();
    ASSERT_GT(plies, 500u);
    for (const int64_t shuffle : {int64_t{0}, int64_t{100}}) {
        const Batches one = read(text, 1, shuffle);
        const Batches two = read(text, 2, shuffle);
        EXPECT_EQ(one.action.size(), plies) << shuffle;
        EXPECT_EQ(one.sizes, two.sizes) << shuffle;
        EXPECT_EQ(one.observation, two.observation) << shuffle;
        EXPECT_EQ(one.mask, two.mask) << shuffle;
        EXPECT_EQ(one.action, two.action) << shuffle;
        EXPECT_EQ(one.ply, two.ply) << shuffle;
        EXPECT_EQ(one.outcome, two.outcome) << shuffle;
        EXPECT_EQ(one.game, two.game) << shuffle;
    }
}

}  // namespace
}  // namespace ortolan
