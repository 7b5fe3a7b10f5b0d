// One search tree: AlphaZero's PUCT over the positions reachable from a root game, with node
// storage in flat arrays, several leaves per batch kept apart by virtual loss, and reuse of a
// subtree when the game moves on.
//
// Values are stored from the point of view of the side that moved into a node, so a parent
// ranks its children by their own mean value. A leaf's value arrives from the point of view
// of its side to move and changes sign at every step of the backup.
#pragma once

#include <cstdint>
#include <vector>

#include "batch/search_random.h"
#include "engine/board.h"

namespace ortolan {

struct SearchSettings {
    int32_t simulations = 1;
    float c_puct = 1.25f;
    float dirichlet_alpha = 0.3f;
    float dirichlet_fraction = 0.25f;
    int32_t leaves_per_batch = 1;
};

// Node kinds.
enum : int8_t {
    node_unexpanded = 0,  // a leaf nobody has looked at yet
    node_waiting = 1,     // children listed, priors awaited from the evaluator
    node_expanded = 2,
    node_terminal = 3,  // the game ended here; `terminal` holds its exact value
};

struct SearchNode {
    int32_t first_child;  // children are contiguous; -1 while there are none
    Move move;            // the move from the parent
    float prior;
    int32_t visits;
    float value_sum;  // for the side that moved into this node
    float terminal;   // exact value of an ended game, for the same side
    int16_t action;
    int16_t child_count;
    int16_t pending;  // visits in flight through this node: each counts as a loss meanwhile
    int8_t kind;
    int8_t unused;
};

inline SearchNode fresh_node(Move move, int32_t action, float prior) {
    SearchNode node{};
    node.first_child = -1;
    node.move = move;
    node.prior = prior;
    node.action = static_cast<int16_t>(action);
    node.kind = node_unexpanded;
    return node;
}

// A visit of the current batch that waits for its leaf's evaluation.
struct PendingVisit {
    int32_t leaf;
    int32_t path_begin, path_end;  // node indices from the root, in the tree's path store
    // The selection slot whose Board stands at the leaf; -1 when an earlier visit of the same
    // batch reached the same leaf and its evaluation serves both.
    int32_t slot;
};

// What is wrong with the evaluator's answer for one leaf.
struct LeafFault {
    int32_t row = -1;  // -1 when nothing is wrong
    const char* what = nullptr;
    int32_t action = -1;  // the action whose prior is wrong, -1 for the value
};

class SearchTree {
public:
    // `random` draws the root's noise; `playout_key` keys the seeds of the tree's playouts.
    void reset(const Board& root, const TreeRandom& random, uint64_t playout_key,
               int32_t reserve_nodes);

    const Board& root_board() const { return root_; }
    bool root_ended() const { return nodes_[0].kind == node_terminal; }
    // Visits still to make in this run, the root's own evaluation aside.
    int32_t remaining() const;
    // Visits the root's children hold, those in flight included.
    int32_t visits_done() const;
    // A run tops the root up to settings.simulations visits when `added` is 0, and adds
    // `added` visits to those it has otherwise.
    void start_run(const SearchSettings& settings, int32_t added);

    // Picks up to leaves_per_batch leaves to evaluate, boards[j] holding the game at the leaf
    // of selection j; visits that end in a finished game are backed up at once. A root not
    // expanded yet is the only leaf of its batch. Returns the number of leaves to evaluate.
    int32_t select(const SearchSettings& settings, Board* boards);
    const std::vector<PendingVisit>& pending() const { return pending_; }
    // Node indices of the pending visits' paths.
    const std::vector<int32_t>& paths() const { return paths_; }
    const SearchNode& node(int32_t index) const { return nodes_[index]; }

    // The first fault in the evaluator's answer for this tree's leaves, which sit in rows
    // first_row onwards of priors (action_count values a row) and values.
    LeafFault check(const float* priors, const float* values, int32_t first_row) const;
    // Expands the waiting leaves with the answer and backs their values up; priors nullptr
    // gives every legal move the same prior.
    void apply(const float* priors, const float* values, int32_t first_row);
    // The seed of the random playout of this tree's leaf `row` (counted from its first row) in
    // the current batch: the tree's own stream and the number of leaves it played out before.
    uint32_t playout_seed(int32_t row) const;
    // Takes the batch back as if it had not been selected.
    void cancel();

    // Root visit counts by action into a row of action_count values.
    void visit_counts(int32_t* row) const;
    // Mean value of the visits for the root's side to move; a finished game's exact value.
    float root_value() const;
    // The most visited line from the root (the first child on a tie), up to `room` moves into
    // out; returns its length. It stops at a node without visited children.
    int32_t principal_line(Move* out, int32_t room) const;
    // A mate the tree has proved from the root: n > 0 when the side to move mates in n plies
    // whatever the other side plays, -n when it is mated in n plies whatever it plays, 0 when
    // the tree proves neither.
    int32_t proven_mate() const;

    // The Move of a legal action at the root; false when it is not legal there, and for every
    // action once the root's game has ended.
    bool root_move(int32_t action, Move& move);
    // The root's game has ended: no legal move, a third occurrence or the no-progress rule.
    bool game_over();
    // Plays a move accepted by root_move; the child's subtree becomes the tree.
    void advance(int32_t action, Move move);

private:
    void make_room_for_paths();
    int32_t best_child(int32_t parent, const SearchSettings& settings) const;
    // From the root to a leaf by PUCT, playing the moves on board; the path goes to the store.
    int32_t descend(const SearchSettings& settings, Board& board);
    // Lists the legal moves of the leaf where board stands as its children, or marks it
    // terminal; returns the end value for the side to move (search_board::not_ended if none).
    float open_leaf(int32_t leaf, Board& board);
    void backup(int32_t path_begin, int32_t path_end, float mover_value, bool in_flight);
    void add_noise(const SearchSettings& settings);
    struct Proof {
        int8_t kind;  // 0 unproved, 1 the side to move wins, -1 it loses
        int32_t plies;
    };
    Proof prove(int32_t node) const;

    Board root_;
    std::vector<SearchNode> nodes_;
    std::vector<SearchNode> spare_;   // reused by advance
    std::vector<float> root_priors_;  // the root children's priors with noise, when drawn
    std::vector<int32_t> paths_;
    std::vector<PendingVisit> pending_;
    TreeRandom random_;
    size_t node_mark_ = 0;  // node count before the current batch
    int32_t target_ = 0;    // root visits the current run aims at
    uint64_t playout_key_ = 0;
    uint64_t playouts_ = 0;  // leaves played out so far
    bool noise_due_ = false;
};

}  // namespace ortolan
