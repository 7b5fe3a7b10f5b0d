// Snapshots assembled from outside: every field Python can assign takes arbitrary values and
// sizes. restore_state either refuses the record or leaves a Board that get_actions, step and
// roll_out handle safely.
#include <stdexcept>
#include <string>

#include "extras/state.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    static ortolan::Board board;
    board.reset();

    // The position itself comes from a saved game, as it must: Python cannot set it.
    std::string fen;
    for (uint8_t length = in.take<uint8_t>() % 80; length > 0 && !in.empty(); --length)
        fen.push_back(static_cast<char>(in.take<uint8_t>()));
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

    try {
        board.restore_state(state);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    fuzz::check_position(board);
    board.save_state();
    fuzz::play(board, in, 4);
    board.roll_out(in.take<uint32_t>());
    fuzz::check_position(board);
    return 0;
}
