// Helpers for the search tests: a driver that runs a Search through its batch steps with an
// evaluator written in C++, and small readers of positions and results.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/search.h"
#include "engine/board.h"

namespace ortolan::search_support {

// Fills priors (rows x action_count) and values (rows) for the observations and masks of a
// batch of `rows` leaves (uint8 observations).
using Evaluate = std::function<void(int32_t rows, const uint8_t* observations, const bool* masks,
                                    float* priors, float* values)>;

inline void uniform(int32_t rows, const uint8_t*, const bool*, float* priors, float* values) {
    std::fill(priors, priors + static_cast<size_t>(rows) * action_count, 1.0f);
    std::fill(values, values + rows, 0.0f);
}

struct Batch {
    std::vector<uint8_t> observations;
    std::unique_ptr<bool[]> masks;
    std::vector<float> priors, values;
};

// Selects and writes one batch; returns its number of leaves.
inline int32_t next_batch(Search& search, Batch& batch) {
    const int32_t rows = search.select();
    batch.observations.assign(static_cast<size_t>(rows) * observation_planes * 64, 0);
    batch.masks.reset(new bool[static_cast<size_t>(rows) * action_count]);
    batch.priors.assign(static_cast<size_t>(rows) * action_count, 0.0f);
    batch.values.assign(static_cast<size_t>(rows), 0.0f);
    search.write_leaves(batch.observations.data(), observation_uint8, batch.masks.get());
    return rows;
}

// The C++ evaluator as the search's Evaluator, with uint8 observations.
class FunctionEvaluator final : public Evaluator {
public:
    explicit FunctionEvaluator(const Evaluate& evaluate)
        : Evaluator(observation_uint8), evaluate_(evaluate) {}
    LeafRows room(int32_t rows) override {
        batch_.observations.assign(static_cast<size_t>(rows) * observation_size, 0);
        batch_.masks.reset(new bool[static_cast<size_t>(rows) * action_count]);
        return {batch_.observations.data(), batch_.masks.get()};
    }
    LeafAnswer evaluate(int32_t rows) override {
        batch_.priors.assign(static_cast<size_t>(rows) * action_count, 0.0f);
        batch_.values.assign(static_cast<size_t>(rows), 0.0f);
        evaluate_(rows, batch_.observations.data(), batch_.masks.get(), batch_.priors.data(),
                  batch_.values.data());
        return {batch_.priors.data(), batch_.values.data()};
    }

private:
    const Evaluate& evaluate_;
    Batch batch_;
};

// A whole run; the evaluator's answers must pass the search's checks.
inline void run(Search& search, const Evaluate& evaluate) {
    FunctionEvaluator evaluator(evaluate);
    try {
        search.run(evaluator);
    } catch (const AnswerRefused& refused) {
        ADD_FAILURE() << refused.what();
    }
}

inline std::vector<int32_t> visit_counts(const Search& search) {
    std::vector<int32_t> counts(static_cast<size_t>(search.size()) * action_count);
    std::vector<float> values(static_cast<size_t>(search.size()));
    search.results(counts.data(), values.data());
    return counts;
}

inline std::vector<float> root_values(const Search& search) {
    std::vector<int32_t> counts(static_cast<size_t>(search.size()) * action_count);
    std::vector<float> values(static_cast<size_t>(search.size()));
    search.results(counts.data(), values.data());
    return values;
}

// The most visited action of tree t (the lowest on a tie); -1 without visits.
inline int32_t most_visited(const Search& search, int32_t t) {
    const std::vector<int32_t> counts = visit_counts(search);
    const int32_t* row = counts.data() + static_cast<size_t>(t) * action_count;
    const int32_t* best = std::max_element(row, row + action_count);
    return *best > 0 ? static_cast<int32_t>(best - row) : -1;
}

// The FENs of a data file: one a line, up to ';', skipping blank lines and '#' comments.
inline std::vector<std::string> read_fens(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::vector<std::string> fens;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        fens.push_back(line.substr(0, line.find(';')));
    }
    return fens;
}

// A game that starts from a FEN: the position loaded and recorded once.
inline Board game_from_fen(const std::string& fen) {
    Board board;
    board.parse_fen(fen.c_str());
    board.record_position();
    return board;
}

// The action of the legal move from one square to another (a queen for a promotion).
inline int32_t action_of(Board& board, const char* from_to) {
    auto square = [](const char* s) { return (s[0] - 'a') + ('8' - s[1]) * 8; };
    ActionMap::Entry legal[max_moves];
    const int32_t count = board.legal_actions(legal);
    for (int32_t i = 0; i < count; ++i) {
        const Move m = legal[i].second;
        if (move_source(m) == square(from_to) && move_target(m) == square(from_to + 2) &&
            (move_promoted(m) == 0 || move_promoted(m) % 6 == piece::Q))
            return legal[i].first;
    }
    ADD_FAILURE() << "no legal move " << from_to;
    return -1;
}

}  // namespace ortolan::search_support
