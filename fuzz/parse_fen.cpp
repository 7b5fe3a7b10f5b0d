// Anything parse_fen accepts can be played on: a few steps and a rollout after loading
// arbitrary bytes never break the position invariants or touch memory out of bounds.
#include <string>

#include "extras/state.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text ends at the first NUL, as it does when it comes from Python.
    const std::string text(reinterpret_cast<const char*>(data), size);
    static ortolan::Board board;
    board.reset();
    board.parse_fen(text.c_str());
    fuzz::check_position(board);
    board.save_state();
    fuzz::Input choices(data, size);
    fuzz::play(board, choices, 4);
    board.roll_out(static_cast<uint32_t>(size));
    fuzz::check_position(board);
    board.hash_state();
    return 0;
}
