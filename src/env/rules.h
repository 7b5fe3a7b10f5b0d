// Rule sets: which draws end a game, what makes two positions the same for repetition and
// what the two clocks count. A Board holds its rule set in `rules`; the step path consults it in
// three places only: clock_after (the no-progress clock, kept by make_move and play),
// Board::position_key (the identity a position is counted under) and Board::outcome (the end
// of the game).
//
//   rules_ortolan   the environment's own rules: the clock reads 1 after a pawn move or a
//                   capture and draws at 50, the third occurrence (exactly) draws, positions
//                   are told apart by hash_state (the en passant square always counts), the
//                   step counter counts the Board's life and FEN clocks are not read.
//   rules_standard  chess as python-chess's is_game_over() judges it: mate, stalemate,
//                   insufficient material, the third occurrence, a clock of 100 half-moves.
//   rules_fide      the automatic endings of the FIDE laws: mate, stalemate, insufficient
//                   material, the fifth occurrence, a clock of 150 half-moves.
//
// Under the two chess rule sets the clock reads 0 after a pawn move or a capture, the step
// counter is the game's ply (a FEN's full-move number counts), positions are the same when the
// same pieces stand on the same squares with the same side to move, castling rights and legal
// en passant captures, and every position is drawn from the seat of its side to move.
#pragma once

#include <cstdint>

#include "engine/bits.h"

namespace ortolan {

inline constexpr int32_t rules_ortolan = 0;
inline constexpr int32_t rules_standard = 1;
inline constexpr int32_t rules_fide = 2;

constexpr bool known_rules(int32_t rules) { return rules >= rules_ortolan && rules <= rules_fide; }

// The no-progress clock after a move; progress is a pawn move or a capture.
constexpr int32_t clock_after(int32_t rules, int32_t clock, bool progress) {
    return progress ? (rules == rules_ortolan ? 1 : 0) : wrapping_add(clock, 1);
}

// Occurrences of a position (counted from 1) and half-moves of the clock at which a game under
// a chess rule set ends.
constexpr int32_t ending_occurrence(int32_t rules) { return rules == rules_fide ? 5 : 3; }
constexpr int32_t ending_clock(int32_t rules) { return rules == rules_fide ? 150 : 100; }

}  // namespace ortolan
