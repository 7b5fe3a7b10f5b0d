// What a tree reports about its root, and moving the root on with the game.
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
