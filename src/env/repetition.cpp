// The position key and its occurrence map.
#include "env/repetition.h"

#include "engine/board.h"

namespace ortolan {

// A fixed mix without random tables: every bitboard shares one multiplier, so the key does not
// depend on which piece kind holds which bitboard.
uint64_t Board::hash_state() const {
    uint64_t h = 0;
    for (const Bitboard b : bitboards) h ^= b * hash_piece_multiplier;
    h ^= side == white ? hash_white_to_move : hash_black_to_move;
    if (enpassant != no_square) h ^= uint64_t{1} << (enpassant & 63);
    h ^= static_cast<uint64_t>(static_cast<int64_t>(castle)) * hash_castle_multiplier;
    return h;
}

bool operator==(const RepetitionMap& a, const RepetitionMap& b) {
    if (a.size() != b.size()) return false;
    bool equal = true;
    a.for_each([&](uint64_t key, int32_t value) {
        const int32_t* other = b.find(key);
        equal = equal && other && *other == value;
    });
    return equal;
}

}  // namespace ortolan
