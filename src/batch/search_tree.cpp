#include "batch/search_tree.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "batch/search_board.h"
#include "batch/splitmix.h"

namespace ortolan {

void SearchTree::reset(const Board& root, const TreeRandom& random, uint64_t playout_key,
                       int32_t reserve_nodes) {
    root_ = root;
    // The search never steps the root itself, so its action numbering is not needed.
    root_.ActionMap.clear();
    make_room_for_paths();
    nodes_.clear();
    nodes_.reserve(static_cast<size_t>(reserve_nodes));
    nodes_.push_back(fresh_node(0, 0, 0.0f));
    root_priors_.clear();
    pending_.clear();
    random_ = random;
    playout_key_ = playout_key;
    playouts_ = 0;
    target_ = 0;
    noise_due_ = false;
}

// Each simulation copies the root's game and records the positions of its path in the copy's
// repetition map; with room for a few dozen more, the map does not grow (and allocate) during
// a simulation.
void SearchTree::make_room_for_paths() {
    root_.repetition_count.reserve(root_.repetition_count.size() + 24);
}

int32_t SearchTree::visits_done() const {
    const SearchNode& root = nodes_[0];
    if (root.kind != node_expanded) return 0;
    // Counted at the children: the root's own count can hold more than its first evaluation,
    // when it was a leaf that several visits of one batch reached before a move made it the root.
    int32_t done = root.pending;
    for (int32_t i = 0; i < root.child_count; ++i) done += nodes_[root.first_child + i].visits;
    return done;
}

void SearchTree::start_run(const SearchSettings& settings, int32_t added) {
    noise_due_ = true;
    if (added <= 0) {
        target_ = settings.simulations;
        return;
    }
    const int64_t target = static_cast<int64_t>(visits_done()) + added;
    target_ = static_cast<int32_t>(std::min<int64_t>(target, INT32_MAX));
}

int32_t SearchTree::remaining() const {
    const SearchNode& root = nodes_[0];
    if (root.kind == node_terminal) return 0;
    if (root.kind != node_expanded) return target_ > 0 ? target_ : 0;
    const int32_t done = visits_done();
    return done < target_ ? target_ - done : 0;
}

int32_t SearchTree::best_child(int32_t parent, const SearchSettings& settings) const {
    const SearchNode& p = nodes_[parent];
    const float* noisy = parent == 0 && !root_priors_.empty() ? root_priors_.data() : nullptr;
    const float scale = settings.c_puct * std::sqrt(static_cast<float>(p.visits + p.pending));
    int32_t best = p.first_child;
    float best_score = -INFINITY;
    for (int32_t i = 0; i < p.child_count; ++i) {
        const SearchNode& c = nodes_[p.first_child + i];
        const int32_t n = c.visits + c.pending;
        // An unvisited child counts as a draw; a visit in flight counts as a loss.
        const float q = n > 0 ? (c.value_sum - static_cast<float>(c.pending)) / n : 0.0f;
        const float prior = noisy ? noisy[i] : c.prior;
        const float score = q + scale * prior / static_cast<float>(1 + n);
        if (score > best_score) {
            best_score = score;
            best = p.first_child + i;
        }
    }
    return best;
}

int32_t SearchTree::descend(const SearchSettings& settings, Board& board) {
    board = root_;
    int32_t node = 0;
    paths_.push_back(0);
    while (nodes_[node].kind == node_expanded) {
        node = best_child(node, settings);
        search_board::play(board, nodes_[node].move);
        paths_.push_back(node);
    }
    return node;
}

float SearchTree::open_leaf(int32_t leaf, Board& board) {
    ActionMap::Entry legal[max_moves];
    const int32_t count = search_board::legal_actions(board, legal);
    const float end = search_board::end_value(board, count);
    if (end != search_board::not_ended) {
        nodes_[leaf].kind = node_terminal;
        nodes_[leaf].terminal = -end;
        return end;
    }
    const int32_t first = static_cast<int32_t>(nodes_.size());
    for (int32_t i = 0; i < count; ++i)
        nodes_.push_back(fresh_node(legal[i].second, legal[i].first, 0.0f));
    nodes_[leaf].first_child = first;
    nodes_[leaf].child_count = static_cast<int16_t>(count);
    nodes_[leaf].kind = node_waiting;
    return end;
}

void SearchTree::backup(int32_t path_begin, int32_t path_end, float mover_value, bool in_flight) {
    float value = mover_value;
    for (int32_t i = path_end - 1; i >= path_begin; --i) {
        SearchNode& node = nodes_[paths_[i]];
        node.visits += 1;
        node.value_sum += value;
        if (in_flight) node.pending = static_cast<int16_t>(node.pending - 1);
        value = -value;
    }
}

void SearchTree::add_noise(const SearchSettings& settings) {
    noise_due_ = false;
    const SearchNode& root = nodes_[0];
    root_priors_.clear();
    if (settings.dirichlet_fraction <= 0.0f || root.child_count == 0) return;
    root_priors_.resize(static_cast<size_t>(root.child_count));
    random_.dirichlet(settings.dirichlet_alpha, root_priors_.data(), root.child_count);
    const float f = settings.dirichlet_fraction;
    for (int32_t i = 0; i < root.child_count; ++i)
        root_priors_[i] = (1.0f - f) * nodes_[root.first_child + i].prior + f * root_priors_[i];
}

int32_t SearchTree::select(const SearchSettings& settings, Board* boards) {
    pending_.clear();
    paths_.clear();
    node_mark_ = nodes_.size();
    if (nodes_[0].kind == node_terminal) return 0;
    if (nodes_[0].kind == node_unexpanded) {
        boards[0] = root_;
        paths_.push_back(0);
        if (open_leaf(0, boards[0]) != search_board::not_ended) return 0;
        nodes_[0].pending = 1;
        pending_.push_back({0, 0, 1, 0});
        return 1;
    }
    if (noise_due_) add_noise(settings);
    int32_t want = remaining();
    int32_t leaves = 0;
    for (int32_t slot = 0; want > 0 && slot < settings.leaves_per_batch;) {
        const int32_t begin = static_cast<int32_t>(paths_.size());
        const int32_t leaf = descend(settings, boards[slot]);
        const int32_t end = static_cast<int32_t>(paths_.size());
        --want;
        const int8_t kind = nodes_[leaf].kind;
        if (kind == node_unexpanded) {
            const float value = open_leaf(leaf, boards[slot]);
            if (value == search_board::not_ended) {
                for (int32_t i = begin; i < end; ++i) ++nodes_[paths_[i]].pending;
                pending_.push_back({leaf, begin, end, slot});
                ++slot;
                ++leaves;
                continue;
            }
        } else if (kind == node_waiting) {
            for (int32_t i = begin; i < end; ++i) ++nodes_[paths_[i]].pending;
            pending_.push_back({leaf, begin, end, -1});
            ++slot;
            continue;
        }
        // A finished game: its exact value goes up the path now.
        backup(begin, end, nodes_[leaf].terminal, false);
        paths_.resize(static_cast<size_t>(begin));
    }
    return leaves;
}

LeafFault SearchTree::check(const float* priors, const float* values, int32_t first_row) const {
    int32_t row = first_row;
    for (const PendingVisit& visit : pending_) {
        if (visit.slot < 0) continue;
        const float value = values[row];
        if (std::isnan(value)) return {row, "value is NaN", -1};
        if (!(value >= -1.0f && value <= 1.0f)) return {row, "value is outside [-1, 1]", -1};
        const float* p = priors + static_cast<size_t>(row) * action_count;
        const SearchNode& leaf = nodes_[visit.leaf];
        for (int32_t i = 0; i < leaf.child_count; ++i) {
            const int32_t action = nodes_[leaf.first_child + i].action;
            if (std::isnan(p[action])) return {row, "prior is NaN", action};
            if (std::isinf(p[action])) return {row, "prior is infinite", action};
            if (p[action] < 0.0f) return {row, "prior is negative", action};
        }
        ++row;
    }
    return {};
}

void SearchTree::apply(const float* priors, const float* values, int32_t first_row) {
    int32_t row = first_row;
    for (size_t v = 0; v < pending_.size(); ++v) {
        const PendingVisit& visit = pending_[v];
        int32_t value_row = row;
        if (visit.slot >= 0) {
            SearchNode& leaf = nodes_[visit.leaf];
            const float* p = priors ? priors + static_cast<size_t>(row) * action_count : nullptr;
            double total = 0.0;
            if (priors)
                for (int32_t i = 0; i < leaf.child_count; ++i)
                    total += p[nodes_[leaf.first_child + i].action];
            // Weights that add up to nothing leave a uniform prior.
            for (int32_t i = 0; i < leaf.child_count; ++i) {
                SearchNode& child = nodes_[leaf.first_child + i];
                child.prior = total > 0.0 ? static_cast<float>(p[child.action] / total)
                                          : 1.0f / static_cast<float>(leaf.child_count);
            }
            leaf.kind = node_expanded;
            ++row;
        } else {
            // The value of the earlier visit to the same leaf.
            int32_t r = row;
            for (size_t u = v; u-- > 0;) {
                if (pending_[u].slot >= 0) --r;
                if (pending_[u].slot >= 0 && pending_[u].leaf == visit.leaf) break;
            }
            value_row = r;
        }
        backup(visit.path_begin, visit.path_end, -values[value_row], true);
    }
    playouts_ += static_cast<uint64_t>(row - first_row);
    pending_.clear();
}

void SearchTree::cancel() {
    for (const PendingVisit& visit : pending_) {
        for (int32_t i = visit.path_begin; i < visit.path_end; ++i) --nodes_[paths_[i]].pending;
        if (visit.slot >= 0) {
            SearchNode& leaf = nodes_[visit.leaf];
            leaf.kind = node_unexpanded;
            leaf.first_child = -1;
            leaf.child_count = 0;
        }
    }
    nodes_.resize(node_mark_);
    pending_.clear();
}

uint32_t SearchTree::playout_seed(int32_t row) const {
    uint64_t state =
        playout_key_ ^ ((playouts_ + static_cast<uint64_t>(row)) * 0xD1B54A32D192ED03ULL);
    return static_cast<uint32_t>(splitmix64(state) >> 32);
}

}  // namespace ortolan
