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

    ortolan::State state = fuzz::take_state(in, board);

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
