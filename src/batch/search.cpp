#include "batch/search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "batch/search_board.h"
#include "batch/splitmix.h"

namespace ortolan {

namespace {

void check_settings(const SearchSettings& s) {
    auto refuse = [](const char* what) { throw std::invalid_argument(what); };
    if (s.simulations < 1) refuse("simulations must be at least 1");
    if (!(std::isfinite(s.c_puct) && s.c_puct >= 0.0f)) refuse("c_puct must be finite and >= 0");
    if (!(std::isfinite(s.dirichlet_alpha) && s.dirichlet_alpha > 0.0f))
        refuse("dirichlet_alpha must be finite and > 0");
    if (!(s.dirichlet_fraction >= 0.0f && s.dirichlet_fraction <= 1.0f))
        refuse("dirichlet_fraction must be in [0, 1]");
    // A node counts the visits in flight through it in 16 bits.
    if (s.leaves_per_batch < 1 || s.leaves_per_batch > 4096)
        refuse("leaves_per_batch must be in [1, 4096]");
}

// The pool's size, once checked.
int32_t pool_size(int64_t threads) {
    if (threads < 1 || threads > 1024)
        throw std::invalid_argument("threads must be in [1, 1024], not " + std::to_string(threads));
    return static_cast<int32_t>(threads);
}

// The engine plays only from positions with one king a side and no square taken twice.
void check_root(const Board& root, int32_t index) {
    const bool kings =
        count_bits(root.bitboards[piece::K]) == 1 && count_bits(root.bitboards[piece::k]) == 1;
    if (!kings || !root.consistent_position())
        throw std::invalid_argument("root " + std::to_string(index) +
                                    " is not a position to search: it needs exactly one king "
                                    "a side and no square holding two pieces");
}

// Room for the nodes of a run, a few dozen children for each expanded leaf, up to 2 MB a tree;
// a larger tree grows its arrays by doubling.
int32_t reserve_for(const SearchSettings& s) {
    const int64_t nodes = (static_cast<int64_t>(s.simulations) + 1) * 40;
    return static_cast<int32_t>(nodes < (1 << 16) ? nodes : (1 << 16));
}

}  // namespace

Search::Search(const SearchSettings& settings, const Board* roots, int32_t count, uint64_t seed,
               int64_t threads)
    : settings_(settings), seed_(seed), pool_(pool_size(threads)) {
    check_settings(settings);
    if (count < 1) throw std::invalid_argument("a search needs at least one root");
    for (int32_t i = 0; i < count; ++i) check_root(roots[i], i);
    trees_.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) reset_root(i, roots[i]);
    boards_.resize(static_cast<size_t>(count) * static_cast<size_t>(settings.leaves_per_batch));
    first_rows_.assign(static_cast<size_t>(count), 0);
    faults_.assign(static_cast<size_t>(count), LeafFault{});
}

void Search::reset_roots(const int32_t* indices, const Board* roots, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (indices[i] < 0 || indices[i] >= size())
            throw std::invalid_argument("root index " + std::to_string(indices[i]) +
                                        " is out of range");
        check_root(roots[i], indices[i]);
    }
    for (int32_t i = 0; i < count; ++i) reset_root(indices[i], roots[i]);
}

void Search::reset_root(int32_t index, const Board& root) {
    check_root(root, index);
    // The playouts' key comes from a stream of its own, so that the noise stays as it was.
    const uint64_t stream = static_cast<uint64_t>(roots_made_++);
    uint64_t key = seed_ ^ 0x5851F42D4C957F2DULL ^ (stream * 0xD1B54A32D192ED03ULL);
    trees_[index].reset(root, TreeRandom(seed_, stream), splitmix64(key), reserve_for(settings_));
}

namespace {

std::string refusal_text(const LeafFault& fault) {
    std::string text = "evaluate's answer for leaf " + std::to_string(fault.row) + ": ";
    if (fault.action >= 0) text += "action " + std::to_string(fault.action) + "'s ";
    return text + fault.what;
}

}  // namespace

AnswerRefused::AnswerRefused(const LeafFault& refused)
    : std::invalid_argument(refusal_text(refused)), fault(refused) {}

void Search::run(Evaluator& evaluator, Interruption* interruption, int32_t added, double seconds) {
    start_run(added, seconds);
    InterruptionClock clock(interruption);
    while (!finished()) {
        clock.poll();
        const int32_t rows = select();
        if (rows == 0) continue;
        LeafFault fault;
        try {
            const LeafRows leaves = evaluator.room(rows);
            write_leaves(leaves.observations, evaluator.observation_type(), leaves.masks, true);
            const LeafAnswer answer = evaluator.evaluate(rows);
            fault = check(answer.priors, answer.values);
            if (fault.row < 0) apply(answer.priors, answer.values);
        } catch (...) {
            cancel();
            throw;
        }
        if (fault.row >= 0) {
            cancel();
            throw AnswerRefused(fault);
        }
    }
}

void Search::start_run(int32_t added, double seconds) {
    for (SearchTree& tree : trees_) tree.start_run(settings_, added);
    timed_ = seconds >= 0.0;
    batch_done_ = false;
    if (timed_) {
        const auto span = std::chrono::duration<double>(std::min(seconds, 1e9));
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(span);
    }
}

bool Search::finished() const {
    if (timed_ && batch_done_ && std::chrono::steady_clock::now() >= deadline_) return true;
    for (const SearchTree& tree : trees_)
        if (tree.remaining() > 0) return false;
    return true;
}

// Calls step(t) for every tree, the trees split among the pool's threads.
template <class Step>
void Search::each_tree(Step&& step, bool rest_after) {
    pool_.for_chunks(
        size(),
        [&](int64_t begin, int64_t end, int32_t) {
            for (int64_t t = begin; t < end; ++t) step(static_cast<size_t>(t));
        },
        rest_after);
}

int32_t Search::select() {
    batch_done_ = true;
    const size_t per_tree = static_cast<size_t>(settings_.leaves_per_batch);
    each_tree([&](size_t t) { trees_[t].select(settings_, &boards_[t * per_tree]); });
    // Rows go to the leaves tree after tree.
    int32_t rows = 0;
    for (size_t t = 0; t < trees_.size(); ++t) {
        first_rows_[t] = rows;
        for (const PendingVisit& visit : trees_[t].pending()) rows += visit.slot >= 0;
    }
    return rows;
}

void Search::write_leaves(void* observations, int32_t type, bool* masks, bool evaluator_next) {
    const size_t per_tree = static_cast<size_t>(settings_.leaves_per_batch);
    each_tree(
        [&](size_t t) {
            const SearchTree& tree = trees_[t];
            size_t row = static_cast<size_t>(first_rows_[t]);
            for (const PendingVisit& visit : tree.pending()) {
                if (visit.slot < 0) continue;
                const Board& board = boards_[t * per_tree + static_cast<size_t>(visit.slot)];
                write_observation_row(board, type, observations, row);
                bool* mask = masks + row * action_count;
                std::memset(mask, 0, action_count);
                const SearchNode& leaf = tree.node(visit.leaf);
                for (int32_t i = 0; i < leaf.child_count; ++i)
                    mask[tree.node(leaf.first_child + i).action] = true;
                ++row;
            }
        },
        evaluator_next);
}

LeafFault Search::check(const float* priors, const float* values) {
    each_tree([&](size_t t) { faults_[t] = trees_[t].check(priors, values, first_rows_[t]); });
    for (const LeafFault& fault : faults_)
        if (fault.row >= 0) return fault;
    return {};
}

void Search::apply(const float* priors, const float* values) {
    each_tree([&](size_t t) { trees_[t].apply(priors, values, first_rows_[t]); });
}

void Search::cancel() {
    each_tree([&](size_t t) { trees_[t].cancel(); });
}

void Search::run_rollouts(Interruption* interruption) {
    const size_t per_tree = static_cast<size_t>(settings_.leaves_per_batch);
    InterruptionClock clock(interruption);
    while (!finished()) {
        clock.poll();
        const int32_t rows = select();
        row_trees_.clear();
        row_slots_.clear();
        for (size_t t = 0; t < trees_.size(); ++t)
            for (const PendingVisit& visit : trees_[t].pending())
                if (visit.slot >= 0) {
                    row_trees_.push_back(static_cast<int32_t>(t));
                    row_slots_.push_back(visit.slot);
                }
        row_values_.resize(static_cast<size_t>(rows));
        // Random games differ much in length: each thread takes the next row as it finishes
        // one, rather than a fixed share of the rows. A row's result does not depend on the
        // thread that plays it.
        std::atomic<int64_t> next_row = 0;
        pool_.for_chunks(pool_.size(), [&](int64_t, int64_t, int32_t) {
            for (int64_t r; (r = next_row.fetch_add(1, std::memory_order_relaxed)) < rows;) {
                const size_t t = static_cast<size_t>(row_trees_[r]);
                Board& board = boards_[t * per_tree + static_cast<size_t>(row_slots_[r])];
                const uint32_t seed =
                    trees_[t].playout_seed(static_cast<int32_t>(r) - first_rows_[t]);
                // One random game values the leaf, for its side to move.
                const int32_t side = board.side;
                const int32_t reward = board.roll_out(seed);
                row_values_[r] = static_cast<float>(side == white ? reward : -reward);
            }
        });
        each_tree([&](size_t t) { trees_[t].apply(nullptr, row_values_.data(), first_rows_[t]); });
    }
}

void Search::results(int32_t* visit_counts, float* root_values) const {
    for (size_t t = 0; t < trees_.size(); ++t) {
        trees_[t].visit_counts(visit_counts + t * action_count);
        root_values[t] = trees_[t].root_value();
    }
}

void Search::advance(const int32_t* actions, const uint8_t* keep) {
    std::vector<Move> moves(trees_.size(), 0);
    std::string refused;
    for (size_t t = 0; t < trees_.size(); ++t) {
        if (keep && keep[t]) continue;
        const bool over = trees_[t].game_over();
        const bool ok = over ? actions[t] == -1 : trees_[t].root_move(actions[t], moves[t]);
        if (ok) continue;
        refused += refused.empty() ? "" : ", ";
        refused += "root " + std::to_string(t) + " action " + std::to_string(actions[t]);
        if (over) refused += " (its game has ended: -1 expected)";
    }
    if (!refused.empty())
        throw std::invalid_argument("actions not legal at their roots: " + refused);
    for (size_t t = 0; t < trees_.size(); ++t)
        if (actions[t] != -1 && !(keep && keep[t])) trees_[t].advance(actions[t], moves[t]);
}

}  // namespace ortolan
