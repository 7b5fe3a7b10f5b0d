// The packed move and the list that move generation fills.
#pragma once

#include <cstdint>

namespace ortolan {

// A Move is an int32 with these fields, bit 0 least significant:
//
//   bits  0-5   source             square the piece leaves
//   bits  6-11  target             square the piece arrives on
//   bits 12-15  piece              the moving Piece, 0..11
//   bits 16-19  promoted           Piece a pawn becomes, 0 when the move is no promotion
//   bit  20     capture            en passant included
//   bit  21     double_push        a pawn's two-square advance
//   bit  22     enpassant_capture
//   bit  23     castling           written as the king's move
//   bits 24-31  always 0
using Move = int32_t;

constexpr Move encode_move(int32_t source, int32_t target, int32_t piece, int32_t promoted,
                           int32_t capture, int32_t double_push, int32_t enpassant_capture,
                           int32_t castling) {
    return source | target << 6 | piece << 12 | promoted << 16 | capture << 20 | double_push << 21 |
           enpassant_capture << 22 | castling << 23;
}

constexpr int32_t move_source(Move m) { return m & 0x3f; }
constexpr int32_t move_target(Move m) { return (m >> 6) & 0x3f; }
constexpr int32_t move_piece(Move m) { return (m >> 12) & 0xf; }
constexpr int32_t move_promoted(Move m) { return (m >> 16) & 0xf; }
constexpr int32_t move_capture(Move m) { return (m >> 20) & 1; }
constexpr int32_t move_double_push(Move m) { return (m >> 21) & 1; }
constexpr int32_t move_enpassant(Move m) { return (m >> 22) & 1; }
constexpr int32_t move_castling(Move m) { return (m >> 23) & 1; }

// No placement of pieces can produce more pseudo-legal moves than this: 64 pieces with at
// most 27 targets each is 1,728, the at most 24 promotion targets add three moves each (72),
// and there are two castlings, 1,802 in all.
inline constexpr int32_t max_moves = 2048;

struct MoveList {
    Move moves[max_moves];
    int32_t count;
};

}  // namespace ortolan
