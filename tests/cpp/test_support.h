// Helpers shared by the environment and extras tests: an action numbering written from the
// rules (not from the engine), legal moves found by trial, whole-Board comparison, plane
// builders, and a plain rollout that uses only get_actions and step.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/board.h"
#include "engine/movegen.h"
#include "engine/types.h"
#include "env/actions.h"
#include "env/observation.h"
#include "extras/state.h"

namespace ortolan::test_support {

// Square number from a name such as "e4": row 0 is rank 8, file 0 is file a.
inline int32_t sq(const char* name) { return (name[0] - 'a') + ('8' - name[1]) * 8; }

inline Board board_from_fen(const char* fen) {
    Board board;
    board.parse_fen(fen);
    return board;
}

inline uint64_t key_of_fen(const char* fen) { return board_from_fen(fen).hash_state(); }

// The action number of a move, from the numbering rules alone: row and file changes, the
// mover's seat, the knight table and the under-promotion planes; queen promotions take the
// pawn's one-square plane.
inline int32_t reference_action(Move move, int32_t side) {
    const int32_t source = move_source(move);
    const int32_t target = move_target(move);
    const int32_t dr = target / 8 - source / 8;
    const int32_t df = target % 8 - source % 8;
    const int32_t mover = move_piece(move);
    if (mover == piece::N || mover == piece::n) {
        struct Jump {
            int32_t dr, df, plane;
        };
        static constexpr Jump jumps[8] = {{-2, -1, 56}, {-2, 1, 57}, {-1, 2, 58}, {1, 2, 59},
                                          {2, 1, 60},   {2, -1, 61}, {1, -2, 62}, {-1, -2, 63}};
        for (const Jump& j : jumps)
            if (j.dr == dr && j.df == df) return j.plane * 64 + source;
        ADD_FAILURE() << "not a knight jump: " << source << " -> " << target;
        return -1;
    }
    int32_t sr = (dr > 0) - (dr < 0);
    int32_t sf = (df > 0) - (df < 0);
    if (side == black) {
        sr = -sr;
        sf = -sf;
    }
    int32_t direction = -1;
    if (sr < 0 && sf < 0) direction = 0;
    if (sr < 0 && sf == 0) direction = 1;
    if (sr < 0 && sf > 0) direction = 2;
    if (sr == 0 && sf > 0) direction = 3;
    if (sr > 0 && sf > 0) direction = 4;
    if (sr > 0 && sf == 0) direction = 5;
    if (sr > 0 && sf < 0) direction = 6;
    if (sr == 0 && sf < 0) direction = 7;
    const int32_t distance = std::max(std::abs(dr), std::abs(df));
    const int32_t promoted = move_promoted(move);
    if (promoted == piece::N || promoted == piece::n) return (64 + direction * 3) * 64 + source;
    if (promoted == piece::B || promoted == piece::b) return (64 + direction * 3 + 1) * 64 + source;
    if (promoted == piece::R || promoted == piece::r) return (64 + direction * 3 + 2) * 64 + source;
    return (direction * 7 + distance - 1) * 64 + source;
}

// Legal moves found by playing every generated move on a copy of the Board.
inline std::vector<Move> legal_moves_by_trial(const Board& board) {
    MoveList list;
    board.generate_moves(list);
    std::vector<Move> legal;
    for (int32_t i = 0; i < list.count; ++i) {
        Board copy = board;
        if (copy.make_move(list.moves[i])) legal.push_back(list.moves[i]);
    }
    return legal;
}

// The action numbers whose mask entry is 1, ascending.
inline std::vector<int32_t> mask_actions(const ActionMask& mask) {
    std::vector<int32_t> actions;
    for (int32_t plane = 0; plane < action_planes; ++plane)
        for (int32_t square = 0; square < 64; ++square) {
            if (mask.planes[plane][square] == 1) actions.push_back(plane * 64 + square);
        }
    return actions;
}

// Every mask entry is 0 or 1.
inline bool mask_is_binary(const ActionMask& mask) {
    for (const auto& plane : mask.planes)
        for (int32_t v : plane)
            if (v != 0 && v != 1) return false;
    return true;
}

inline std::vector<int32_t> map_keys(const ActionMap& map) {
    std::vector<int32_t> keys;
    for (const auto& e : map) keys.push_back(e.first);
    std::sort(keys.begin(), keys.end());
    return keys;
}

using Plane = std::array<int32_t, 64>;

inline Plane plane_of(const int32_t (&values)[64]) {
    Plane p;
    std::copy(values, values + 64, p.begin());
    return p;
}

// A plane with ones on the given squares and zeros elsewhere.
inline Plane ones_at(std::initializer_list<int32_t> squares) {
    Plane p{};
    for (int32_t s : squares) p[s] = 1;
    return p;
}

inline Plane ones_at(const std::vector<int32_t>& squares) {
    Plane p{};
    for (int32_t s : squares) p[s] = 1;
    return p;
}

inline Plane uniform(int32_t value) {
    Plane p;
    p.fill(value);
    return p;
}

// The squares of a set seen after a half-turn of the board.
inline std::vector<int32_t> turned(std::initializer_list<int32_t> squares) {
    std::vector<int32_t> out;
    for (int32_t s : squares) out.push_back(63 - s);
    return out;
}

inline std::string join(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts) s += (s.empty() ? "" : ", ") + p;
    return s;
}

// Which members of two Boards to leave out of a comparison.
struct Skip {
    bool total_move_count = false;
    bool just_reset = false;
    bool action_map = false;
    bool backup = true;
};

// Compares every member of two Boards and names the ones that differ.
inline ::testing::AssertionResult same_board(const Board& a, const Board& b, Skip skip = {}) {
    std::vector<std::string> diff;
    auto check = [&diff](bool equal, const char* name) {
        if (!equal) diff.push_back(name);
    };
    check(std::equal(a.bitboards, a.bitboards + 12, b.bitboards), "bitboards");
    check(std::equal(a.occupancies, a.occupancies + 3, b.occupancies), "occupancies");
    check(a.side == b.side, "side");
    check(a.enpassant == b.enpassant, "enpassant");
    check(a.castle == b.castle, "castle");
    check(a.state_history == b.state_history, "state_history");
    check(a.state_pos == b.state_pos, "state_pos");
    check(a.no_progress_count == b.no_progress_count, "no_progress_count");
    check(a.repetition_count == b.repetition_count, "repetition_count");
    check(a.n_repititions == b.n_repititions, "n_repititions");
    check(a.prev_n_repititions == b.prev_n_repititions, "prev_n_repititions");
    if (!skip.total_move_count) check(a.total_move_count == b.total_move_count, "total_move_count");
    if (!skip.just_reset) check(a.just_reset == b.just_reset, "just_reset");
    if (!skip.action_map) check(a.ActionMap == b.ActionMap, "ActionMap");
    if (!skip.backup) {
        check(std::equal(a.bitboards_copy, a.bitboards_copy + 12, b.bitboards_copy),
              "bitboards_copy");
        check(std::equal(a.occupancies_copy, a.occupancies_copy + 3, b.occupancies_copy),
              "occupancies_copy");
        check(a.side_copy == b.side_copy, "side_copy");
        check(a.enpassant_copy == b.enpassant_copy, "enpassant_copy");
        check(a.castle_copy == b.castle_copy, "castle_copy");
    }
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "members differ: " << join(diff);
}

// Compares all thirteen members of two States.
inline ::testing::AssertionResult same_state(const State& a, const State& b) {
    std::vector<std::string> diff;
    auto check = [&diff](bool equal, const char* name) {
        if (!equal) diff.push_back(name);
    };
    check(std::equal(a.bitboards, a.bitboards + 12, b.bitboards), "bitboards");
    check(std::equal(a.occupancies, a.occupancies + 3, b.occupancies), "occupancies");
    check(a.side == b.side, "side");
    check(a.enpassant == b.enpassant, "enpassant");
    check(a.castle == b.castle, "castle");
    check(a.state_history == b.state_history, "state_history");
    check(a.move_index == b.move_index, "move_index");
    check(a.state_pos == b.state_pos, "state_pos");
    check(a.total_move_count == b.total_move_count, "total_move_count");
    check(a.no_progress_count == b.no_progress_count, "no_progress_count");
    check(a.repetition_count == b.repetition_count, "repetition_count");
    check(a.n_repititions == b.n_repititions, "n_repititions");
    check(a.prev_n_repititions == b.prev_n_repititions, "prev_n_repititions");
    if (diff.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "members differ: " << join(diff);
}

// Plays the listed actions, expecting every step but the last to leave the game running.
inline StepResult play(Board& board, std::initializer_list<int32_t> actions) {
    StepResult last{};
    int32_t index = 0;
    for (int32_t action : actions) {
        last = board.step(action);
        if (++index < static_cast<int32_t>(actions.size())) {
            EXPECT_EQ(last.done, 0) << "step " << index << " (action " << action << ")";
        }
    }
    return last;
}

// The multiply-and-reject draw of an index in 0..n-1 from 32-bit engine outputs.
inline uint32_t reference_draw(std::mt19937& engine, uint32_t n) {
    uint32_t x = static_cast<uint32_t>(engine());
    uint64_t m = static_cast<uint64_t>(x) * n;
    uint32_t low = static_cast<uint32_t>(m);
    if (low < n) {
        const uint32_t threshold = static_cast<uint32_t>(-n) % n;
        while (low < threshold) {
            x = static_cast<uint32_t>(engine());
            m = static_cast<uint64_t>(x) * n;
            low = static_cast<uint32_t>(m);
        }
    }
    return static_cast<uint32_t>(m >> 32);
}

struct ReferenceRollout {
    int32_t result;
    int32_t steps;
};

// The plain rollout: get_actions, the legal action numbers in ascending order, one draw,
// step, until done or 400 steps. With no legal move at the start nothing is played and the
// result is the terminal reward of the position.
inline ReferenceRollout reference_roll_out(Board& board, uint32_t seed) {
    std::mt19937 engine(seed);
    int32_t result = 0;
    int32_t steps = 0;
    while (steps < 400) {
        const ActionMask mask = board.get_actions();
        std::vector<int32_t> legal;
        const int32_t* flat = &mask.planes[0][0];
        for (int32_t j = 0; j < action_count; ++j)
            if (flat[j] == 1) legal.push_back(j);
        if (legal.empty()) {
            const int32_t king =
                lowest_square(board.bitboards[board.side == white ? piece::K : piece::k]);
            const bool check = king >= 0 && board.is_square_attacked(king, board.side ^ 1);
            return {check ? (board.side == black ? 1 : -1) : 0, steps};
        }
        const uint32_t k = reference_draw(engine, static_cast<uint32_t>(legal.size()));
        const StepResult r = board.step(legal[k]);
        ++steps;
        result = r.reward;
        if (r.done) break;
    }
    return {result, steps};
}

}  // namespace ortolan::test_support
