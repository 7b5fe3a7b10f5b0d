// What a tree reports about its root, and moving the root on with the game.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "batch/search_board.h"
#include "batch/search_tree.h"

namespace ortolan {

void SearchTree::visit_counts(int32_t* row) const {
    for (int32_t a = 0; a < action_count; ++a) row[a] = 0;
    const SearchNode& root = nodes_[0];
    if (root.kind != node_expanded) return;
    for (int32_t i = 0; i < root.child_count; ++i) {
        const SearchNode& child = nodes_[root.first_child + i];
        row[child.action] = child.visits;
    }
}

float SearchTree::root_value() const {
    const SearchNode& root = nodes_[0];
    if (root.kind == node_terminal) return -root.terminal;
    if (root.kind != node_expanded) return 0.0f;
    double sum = 0.0;
    int64_t visits = 0;
    for (int32_t i = 0; i < root.child_count; ++i) {
        sum += nodes_[root.first_child + i].value_sum;
        visits += nodes_[root.first_child + i].visits;
    }
    return visits > 0 ? static_cast<float>(sum / static_cast<double>(visits)) : 0.0f;
}

int32_t SearchTree::principal_line(Move* out, int32_t room) const {
    int32_t length = 0;
    int32_t node = 0;
    while (length < room && nodes_[node].kind == node_expanded) {
        const SearchNode& parent = nodes_[node];
        int32_t best = -1;
        for (int32_t i = 0; i < parent.child_count; ++i) {
            const int32_t child = parent.first_child + i;
            if (nodes_[child].visits > 0 &&
                (best < 0 || nodes_[child].visits > nodes_[best].visits))
                best = child;
        }
        if (best < 0) break;
        out[length++] = nodes_[best].move;
        node = best;
    }
    return length;
}

// A node's game is won for its side to move when some move leads to a position lost for the
// other side, and lost when every move leads to one won for the other side; the mate itself is
// lost in 0 plies. The shortest win and the longest loss are the ones a good player chooses.
SearchTree::Proof SearchTree::prove(int32_t node) const {
    const SearchNode& n = nodes_[node];
    if (n.kind == node_terminal) {
        // `terminal` is the value for the side that moved in: 1 when it gave mate.
        return n.terminal > 0.0f ? Proof{-1, 0} : Proof{0, 0};
    }
    if (n.kind != node_expanded || n.child_count == 0) return {0, 0};
    int32_t win = INT32_MAX;
    int32_t loss = 0;
    bool all_won = true;
    for (int32_t i = 0; i < n.child_count; ++i) {
        const int32_t child = n.first_child + i;
        const Proof p = nodes_[child].visits > 0 ? prove(child) : Proof{0, 0};
        if (p.kind == -1) win = std::min(win, p.plies + 1);
        if (p.kind == 1)
            loss = std::max(loss, p.plies + 1);
        else
            all_won = false;
    }
    if (win != INT32_MAX) return {1, win};
    if (all_won) return {-1, loss};
    return {0, 0};
}

int32_t SearchTree::proven_mate() const {
    const Proof p = prove(0);
    return p.kind == 0 ? 0 : p.kind * std::max(p.plies, 1);
}

bool SearchTree::game_over() {
    if (nodes_[0].kind == node_terminal) return true;
    if (nodes_[0].kind == node_expanded) return false;
    ActionMap::Entry legal[max_moves];
    const int32_t count = search_board::legal_actions(root_, legal);
    return search_board::end_value(root_, count) != search_board::not_ended;
}

bool SearchTree::root_move(int32_t action, Move& move) {
    const SearchNode& root = nodes_[0];
    if (root.kind == node_expanded) {
        for (int32_t i = 0; i < root.child_count; ++i) {
            const SearchNode& child = nodes_[root.first_child + i];
            if (child.action == action) {
                move = child.move;
                return true;
            }
        }
        return false;
    }
    if (game_over()) return false;
    ActionMap::Entry legal[max_moves];
    const int32_t count = search_board::legal_actions(root_, legal);
    for (int32_t i = 0; i < count; ++i) {
        if (legal[i].first == action) {
            move = legal[i].second;
            return true;
        }
    }
    return false;
}

void SearchTree::advance(int32_t action, Move move) {
    search_board::play(root_, move);
    make_room_for_paths();
    root_priors_.clear();
    int32_t chosen = -1;
    const SearchNode& root = nodes_[0];
    if (root.kind == node_expanded) {
        for (int32_t i = 0; i < root.child_count && chosen < 0; ++i)
            if (nodes_[root.first_child + i].action == action) chosen = root.first_child + i;
    }
    if (chosen < 0) {
        nodes_.clear();
        nodes_.push_back(fresh_node(0, 0, 0.0f));
        return;
    }
    // The chosen subtree, breadth first: each node's children stay contiguous.
    spare_.clear();
    spare_.push_back(nodes_[chosen]);
    for (size_t i = 0; i < spare_.size(); ++i) {
        const SearchNode copy = spare_[i];
        if (copy.kind != node_expanded) continue;
        spare_[i].first_child = static_cast<int32_t>(spare_.size());
        for (int32_t k = 0; k < copy.child_count; ++k)
            spare_.push_back(nodes_[copy.first_child + k]);
    }
    nodes_.swap(spare_);
}

}  // namespace ortolan
