// A batch of independent search trees, one per root game, whose leaves are evaluated together.
//
// A run with an evaluator goes round these steps until finished():
//   select      each tree picks its leaves (in parallel over trees);
//   number      the leaves get rows of the batch, tree after tree;
//   write       each leaf's observation and legal-action mask go to its row;
//   (the evaluator answers with priors and values for every row)
//   check       the answer is tested before anything changes;
//   apply       the leaves are expanded and their values backed up, or cancel takes the batch
//               back when the answer was refused.
// run(evaluator) is that loop; the steps stay public for the tests that look between them.
// A run valued by random playouts is one parallel pass over the trees. Each tree is touched by
// one thread at a time and draws from its own random stream, so the results do not depend on
// how the trees are split among threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/interruption.h"
#include "batch/observation_type.h"
#include "batch/search_tree.h"
#include "batch/thread_pool.h"
#include "engine/board.h"

namespace ortolan {

// Where the leaves of a batch are written, and the evaluator's answer for them.
struct LeafRows {
    void* observations;  // rows x observation_size values of the evaluator's observation type
    bool* masks;         // rows x action_count
};
struct LeafAnswer {
    const float* priors;  // rows x action_count
    const float* values;  // rows
};

// What values the leaves of a run. For each batch the search asks for room for its rows,
// writes the leaves there and asks for the answer; what either call returns stays valid until
// the next call. Either may throw: the batch is taken back and the exception goes on to the
// caller of run.
class Evaluator {
public:
    explicit Evaluator(int32_t observation_type) : observation_type_(observation_type) {}
    virtual ~Evaluator() = default;
    int32_t observation_type() const { return observation_type_; }
    virtual LeafRows room(int32_t rows) = 0;
    virtual LeafAnswer evaluate(int32_t rows) = 0;

private:
    int32_t observation_type_;
};

// An answer that check refused; the batch was taken back.
class AnswerRefused : public std::invalid_argument {
public:
    explicit AnswerRefused(const LeafFault& fault);
    LeafFault fault;
};

class Search {
public:
    // Copies the roots. Throws std::invalid_argument for settings out of range or a root that is
    // not a position to play from (exactly one king a side, no square taken twice). The trees
    // are split among `threads` threads, 1 to 1024 (the calling one included).
    Search(const SearchSettings& settings, const Board* roots, int32_t count, uint64_t seed,
           int64_t threads);

    int32_t size() const { return static_cast<int32_t>(trees_.size()); }
    const SearchSettings& settings() const { return settings_; }
    const SearchTree& tree(int32_t index) const { return trees_[index]; }

    // Starts a run and goes round select, write_leaves, the evaluator, check and apply until
    // finished(). An answer check refuses is taken back and thrown as AnswerRefused; an
    // exception from the evaluator is thrown on after the batch is taken back. Either way the
    // trees are as before the batch, and a later run completes them. The interruption (if
    // any) is asked between batches; what it throws leaves run the same way, every finished
    // batch kept. `added` and `seconds` are start_run's.
    void run(Evaluator& evaluator, Interruption* interruption = nullptr, int32_t added = 0,
             double seconds = -1.0);

    // A run tops every root up to settings().simulations visits when `added` is 0 and adds
    // `added` visits to each root otherwise; with `seconds` >= 0 it also ends once that much
    // time has passed, after at least one batch.
    void start_run(int32_t added = 0, double seconds = -1.0);
    bool finished() const;

    // The steps of a batch. select returns the number of leaves to evaluate (the rows of the
    // batch); check returns the fault of the lowest row, if any.
    int32_t select();
    // Observations as `type`, one of the codes of batch/observation_type.h. With
    // evaluator_next the pool's workers sleep at once afterwards instead of spinning while the
    // evaluator works (and perhaps runs threads of its own).
    void write_leaves(void* observations, int32_t type, bool* masks, bool evaluator_next = false);
    LeafFault check(const float* priors, const float* values);
    void apply(const float* priors, const float* values);
    void cancel();

    // A whole run (after start_run) valued by random playouts: the leaves of each batch are
    // played out on every thread, each from its own seed (its tree's stream and its leaf's
    // number), so the results do not depend on the number of threads. The interruption (if
    // any) is asked between batches; what it throws leaves the run with every finished
    // simulation kept.
    void run_rollouts(Interruption* interruption = nullptr);

    // visit_counts: size() rows of action_count; root_values: size() values.
    void results(int32_t* visit_counts, float* root_values) const;

    // Moves every root on by its action (the chosen child's subtree is kept). A root whose game
    // has ended takes -1 and stays as it is. Throws std::invalid_argument naming every tree
    // whose action is not legal, with nothing changed. Roots where keep (if given) is nonzero
    // are left as they are, whatever their action.
    void advance(const int32_t* actions, const uint8_t* keep = nullptr);
    // Starts trees indices[0..count) over from the games roots[0..count). Throws
    // std::invalid_argument, with nothing changed, for an index out of range or a root as the
    // constructor refuses it.
    void reset_roots(const int32_t* indices, const Board* roots, int32_t count);

private:
    void reset_root(int32_t index, const Board& root);
    template <class Step>
    void each_tree(Step&& step, bool rest_after = false);

    SearchSettings settings_;
    uint64_t seed_;
    std::vector<SearchTree> trees_;
    std::vector<Board> boards_;  // leaves_per_batch scratch Boards a tree
    std::vector<int32_t> first_rows_;
    std::vector<LeafFault> faults_;
    int32_t roots_made_ = 0;  // each root gets its own random stream
    std::chrono::steady_clock::time_point deadline_{};
    bool timed_ = false;
    bool batch_done_ = false;  // a timed run makes at least one batch
    // The batch's leaves in row order: their trees and selection slots; their playout values.
    std::vector<int32_t> row_trees_, row_slots_;
    std::vector<float> row_values_;
    ThreadPool pool_;
};

}  // namespace ortolan
