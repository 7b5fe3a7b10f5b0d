// Small helpers shared by the board-core tests, and a copy of everything make_move may change.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bits.h"
#include "engine/board.h"

namespace ortolan {

// ORTOLAN_QUICK=1 in the environment (the asan tree's test preset sets it) asks the longest
// tests for a smaller size: the sanitizers check the same code paths on fewer positions, and the
// release tree runs the full size.
inline bool quick_run() {
    const char* value = std::getenv("ORTOLAN_QUICK");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

inline Bitboard squares_of(std::initializer_list<int32_t> squares) {
    Bitboard b = 0;
    for (int32_t s : squares) b |= Bitboard{1} << s;
    return b;
}

inline std::string name_of(int32_t square) {
    return {static_cast<char>('a' + square % 8), static_cast<char>('8' - square / 8)};
}

// Coordinate text of a move followed by its flags: x capture, d double step, e en passant,
// c castling. Promotions carry the lower-case letter of the new piece.
inline std::string describe(Move m) {
    std::string s = name_of(move_source(m)) + name_of(move_target(m));
    if (move_promoted(m)) s += "pnbrqkpnbrqk"[move_promoted(m)];
    if (move_capture(m)) s += 'x';
    if (move_double_push(m)) s += 'd';
    if (move_enpassant(m)) s += 'e';
    if (move_castling(m)) s += 'c';
    return s;
}

// The words of a text.
inline std::vector<std::string> split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Everything make_move may change: the position and the no-progress counter.
struct PositionCopy {
    Bitboard bitboards[12];
    Bitboard occupancies[3];
    int32_t side, enpassant, castle, no_progress_count;

    explicit PositionCopy(const Board& b)
        : side(b.side),
          enpassant(b.enpassant),
          castle(b.castle),
          no_progress_count(b.no_progress_count) {
        std::memcpy(bitboards, b.bitboards, sizeof bitboards);
        std::memcpy(occupancies, b.occupancies, sizeof occupancies);
    }
    void put_back(Board& b) const {
        std::memcpy(b.bitboards, bitboards, sizeof bitboards);
        std::memcpy(b.occupancies, occupancies, sizeof occupancies);
        b.side = side;
        b.enpassant = enpassant;
        b.castle = castle;
        b.no_progress_count = no_progress_count;
    }
    friend bool operator==(const PositionCopy& a, const PositionCopy& b) {
        return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
               std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
               a.side == b.side && a.enpassant == b.enpassant && a.castle == b.castle &&
               a.no_progress_count == b.no_progress_count;
    }
};

}  // namespace ortolan
