// Shared pieces of the fuzz harnesses: reading values off the input and checking the
// position invariants every operation must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/board.h"
#include "extras/state.h"

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

// Up to `limit` bytes of the input as text, any bytes at all; it ends at the first NUL when
// used as a C string, as it does when it comes from Python.
inline std::string take_text(Input& in, int limit) {
    std::string text;
    for (int length = in.take<uint8_t>() % limit; length > 0 && !in.empty(); --length)
        text.push_back(static_cast<char>(in.take<uint8_t>()));
    return text;
}

// A State as Python can assemble one: the position comes from a saved game (Python cannot set
// it), optionally loaded from a FEN text of the input first; every field Python can assign
// takes arbitrary values and sizes. `board` is scratch.
inline ortolan::State take_state(Input& in, ortolan::Board& board) {
    board.reset();
    const std::string fen = take_text(in, 80);
    if (in.take<uint8_t>() & 1) board.parse_fen(fen.c_str());
    ortolan::State state = in.take<uint8_t>() & 1 ? board.save_state() : ortolan::State{};

    state.state_pos = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.take<uint8_t>() % 8;
    state.total_move_count = in.take<int32_t>();
    state.no_progress_count = in.take<int32_t>();
    state.n_repititions = in.take<int32_t>();
    state.prev_n_repititions = in.take<int32_t>();
    if (in.take<uint8_t>() & 1) {
        ortolan::NestedHistory nested(in.take<uint8_t>() % 10);
        const bool regular = in.take<uint8_t>() & 1;
        for (auto& record : nested) {
            record.resize(regular ? 14 : in.take<uint8_t>() % 16);
            for (auto& plane : record) {
                plane.resize(regular ? 64 : in.take<uint8_t>() % 66);
                for (int32_t& v : plane)
                    v = in.take<uint8_t>() & 1 ? in.take<int32_t>() : in.take<uint8_t>() & 1;
            }
        }
        state.state_history.assign(nested);
    }
    for (uint8_t n = in.take<uint8_t>() % 16; n > 0; --n)
        state.repetition_count[in.take<uint64_t>()] = in.take<int32_t>();
    ortolan::ActionMap garbage;
    for (uint8_t n = in.take<uint8_t>() % 16; n > 0; --n) {
        const int32_t key = in.take<int32_t>();
        if (!garbage.find(key)) garbage.insert(key, in.take<int32_t>());
    }
    if (!garbage.empty()) state.move_index = garbage;
    return state;
}

// Every field of two States is the same.
inline bool same_state(const ortolan::State& a, const ortolan::State& b) {
    return std::memcmp(a.bitboards, b.bitboards, sizeof a.bitboards) == 0 &&
           std::memcmp(a.occupancies, b.occupancies, sizeof a.occupancies) == 0 &&
           a.side == b.side && a.enpassant == b.enpassant && a.castle == b.castle &&
           a.state_history == b.state_history && a.move_index == b.move_index &&
           a.state_pos == b.state_pos && a.total_move_count == b.total_move_count &&
           a.no_progress_count == b.no_progress_count && a.repetition_count == b.repetition_count &&
           a.n_repititions == b.n_repititions && a.prev_n_repititions == b.prev_n_repititions;
}

// The game a State holds, move counter included. The State must be one restore_state accepts.
inline ortolan::Board game_of(const ortolan::State& state) {
    ortolan::Board board;
    board.load_game(state);
    return board;
}

}  // namespace fuzz
