// The packed move and the list that move generation fills.
#pragma once

#include <cstdint>

#include "engine/bits.h"
#include "engine/types.h"

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

// The four castlings. Castling needs the right, the king on its home square, the squares
// between king and rook empty and the king's square and the square it crosses not attacked;
// make_move then refuses a castling that ends in check. The rook goes from its home square to
// the square the king crossed.
struct CastlingRule {
    int32_t right;
    int32_t king_from, king_to, passed;
    int32_t rook, rook_from;
    Bitboard must_be_empty;
    Move move;
};

// clang-format off
inline constexpr CastlingRule castling_rules[2][2] = {
    {{white_kingside,  e1, g1, f1, piece::R, h1, square_bit(f1) | square_bit(g1),
      encode_move(e1, g1, piece::K, 0, 0, 0, 0, 1)},
     {white_queenside, e1, c1, d1, piece::R, a1, square_bit(b1) | square_bit(c1) | square_bit(d1),
      encode_move(e1, c1, piece::K, 0, 0, 0, 0, 1)}},
    {{black_kingside,  e8, g8, f8, piece::r, h8, square_bit(f8) | square_bit(g8),
      encode_move(e8, g8, piece::k, 0, 0, 0, 0, 1)},
     {black_queenside, e8, c8, d8, piece::r, a8, square_bit(b8) | square_bit(c8) | square_bit(d8),
      encode_move(e8, c8, piece::k, 0, 0, 0, 0, 1)}},
};
// clang-format on
static_assert(castling_rules[0][0].move == 0x805fbc && castling_rules[0][1].move == 0x805ebc &&
              castling_rules[1][0].move == 0x80b184 && castling_rules[1][1].move == 0x80b084);

// The rule whose king lands on the given square, nullptr for a square no castling reaches.
constexpr const CastlingRule* castling_rule_to(int32_t king_to) {
    for (const auto& side_rules : castling_rules)
        for (const CastlingRule& rule : side_rules)
            if (rule.king_to == king_to) return &rule;
    return nullptr;
}

// No placement of pieces can produce more pseudo-legal moves than this: 64 pieces with at
// most 27 targets each is 1,728, the at most 24 promotion targets add three moves each (72),
// and there are two castlings, 1,802 in all.
inline constexpr int32_t max_moves = 2048;

struct MoveList {
    Move moves[max_moves];
    int32_t count;
};

}  // namespace ortolan
