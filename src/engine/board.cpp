// The constant tables of squares and castling rights, the Board constructor, and the checks
// that tell which positions the direct legal generator takes.
#include "engine/board.h"

#include "engine/attacks.h"

namespace ortolan {

// clang-format off
const char* const square_names[64] = {
    "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8",
    "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7",
    "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6",
    "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5",
    "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4",
    "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3",
    "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2",
    "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1",
};

const int32_t castle_keep_mask[64] = {
     7, 15, 15, 15,  3, 15, 15, 11,
    15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15,
    13, 15, 15, 15, 12, 15, 15, 14,
};
// clang-format on

Board::Board()
    : rules(rules_ortolan),
      total_move_count(0),
      state_pos(0),
      no_progress_count(0),
      just_reset(0),
      castle(0),
      enpassant(no_square),
      side(white),
      bitboards{},
      occupancies{},
      castle_copy(0),
      enpassant_copy(0),
      side_copy(0),
      bitboards_copy{},
      occupancies_copy{},
      n_repititions(0),
      prev_n_repititions(0) {
    init_attack_tables();
}

// One pass over the bitboards keeps the union so far and the squares met twice. With no square
// met twice, Black's union is the whole union less White's.
bool Board::consistent_position() const {
    Bitboard seen = 0;
    Bitboard overlap = 0;
    for (int32_t p = 0; p < 6; ++p) {
        overlap |= seen & bitboards[p];
        seen |= bitboards[p];
    }
    const Bitboard white_pieces = seen;
    for (int32_t p = 6; p < 12; ++p) {
        overlap |= seen & bitboards[p];
        seen |= bitboards[p];
    }
    return !overlap && occupancies[white] == white_pieces &&
           occupancies[black] == (seen ^ white_pieces) && occupancies[both] == seen;
}

bool Board::direct_generation_applies() const {
    return one_king_to_move() && consistent_position();
}

}  // namespace ortolan
