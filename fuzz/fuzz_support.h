// Shared pieces of the fuzz harnesses: reading values off the input and checking the
// position invariants every operation must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/board.h"

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    template <class T>
    T take() {
        T value{};
        const size_t n = size_ - pos_ < sizeof(T) ? size_ - pos_ : sizeof(T);
        std::memcpy(&value, data_ + pos_, n);
        pos_ += n;
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// No square in two bitboards, occupancies that agree with the bitboards, fields in range.
inline void check_position(const ortolan::Board& board) {
    ortolan::Bitboard seen = 0, white = 0, black = 0;
    for (int i = 0; i < 12; ++i) {
        if (seen & board.bitboards[i]) std::abort();
        seen |= board.bitboards[i];
        (i < 6 ? white : black) |= board.bitboards[i];
    }
    if (board.occupancies[ortolan::white] != white || board.occupancies[ortolan::black] != black ||
        board.occupancies[ortolan::both] != seen)
        std::abort();
    if (board.side != 0 && board.side != 1) std::abort();
    if (board.enpassant < 0 || board.enpassant > ortolan::no_square) std::abort();
    if (board.castle < 0 || board.castle > 15) std::abort();
    if (board.state_pos < 0 || board.state_pos > 7) std::abort();
}

// Plays up to `steps` legal actions chosen by the input; stops when the game is over.
inline void play(ortolan::Board& board, Input& input, int steps) {
    for (int i = 0; i < steps; ++i) {
        const ortolan::ActionMask mask = board.get_actions();
        int legal[ortolan::action_count];
        int count = 0;
        for (int a = 0; a < ortolan::action_count; ++a)
            if (mask.planes[a / 64][a % 64]) legal[count++] = a;
        if (count == 0) return;
        const auto result = board.step(legal[input.take<uint16_t>() % count]);
        check_position(board);
        if (result.done) return;
    }
}

}  // namespace fuzz
