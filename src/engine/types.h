// Encodings of squares, pieces, sides and castling rights.
//
// A square is row * 8 + file with row 0 = rank 8 and file 0 = file a, so a8 = 0, h8 = 7,
// a1 = 56 and h1 = 63. White pawns advance towards lower square numbers.
#pragma once

#include <cstdint>

namespace ortolan {

// clang-format off
enum : int32_t {
    a8, b8, c8, d8, e8, f8, g8, h8,
    a7, b7, c7, d7, e7, f7, g7, h7,
    a6, b6, c6, d6, e6, f6, g6, h6,
    a5, b5, c5, d5, e5, f5, g5, h5,
    a4, b4, c4, d4, e4, f4, g4, h4,
    a3, b3, c3, d3, e3, f3, g3, h3,
    a2, b2, c2, d2, e2, f2, g2, h2,
    a1, b1, c1, d1, e1, f1, g1, h1,
    no_square
};
// clang-format on

// Pieces in the order of piece_letters; a Black piece is the White one of its kind plus 6.
namespace piece {
enum : int32_t { P, N, B, R, Q, K, p, n, b, r, q, k };
}

enum : int32_t { white = 0, black = 1, both = 2 };

enum : int32_t {
    white_kingside = 1,
    white_queenside = 2,
    black_kingside = 4,
    black_queenside = 8,
};

inline constexpr const char* piece_letters = "PNBRQKpnbrqk";

extern const char* const square_names[64];

// castle &= castle_keep_mask[source] & castle_keep_mask[target] after every move: a king or
// rook leaving its home square, or a rook captured there, drops the matching rights.
extern const int32_t castle_keep_mask[64];

constexpr int32_t row_of(int32_t square) { return square >> 3; }
constexpr int32_t file_of(int32_t square) { return square & 7; }

}  // namespace ortolan
