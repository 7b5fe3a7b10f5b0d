// Starting a game and playing one action; the end of the game is decided by Board::outcome.
#include <stdexcept>

#include "engine/board.h"

namespace ortolan {

void Board::new_game(const char* fen) {
    just_reset = 1;
    state_history.clear();
    repetition_count.clear();
    state_pos = 0;
    int32_t halfmove = 0;
    int32_t fullmove = 1;
    read_fen(fen, halfmove, fullmove);
    if (rules == rules_ortolan) {
        no_progress_count = 0;
    } else {
        // The game's own clocks: the FEN's half-move clock and its ply from the full-move number.
        no_progress_count = halfmove;
        total_move_count = 2 * (fullmove - 1) + side;
        // Nothing of an earlier game reaches the new one's repetition planes.
        prev_n_repititions = 0;
    }
    record_position();
}

StepResult Board::reset() {
    new_game(start_position);
    StepResult result;
    result.side = side;
    build_observation(result.observation);
    rebuild_action_map();
    result.reward = 0;
    result.done = 0;
    return result;
}

// play keeps a consistent position consistent; make_move is used for the others.
uint64_t Board::advance(Move move, bool direct) {
    just_reset = 0;
    if (direct) {
        MoveUndo undo;
        play(move, undo);
    } else {
        make_move(move);
    }
    const uint64_t key = carried_key();
    record_position(key_of_carried(key), direct);
    total_move_count = wrapping_add(total_move_count, 1);
    return key;
}

uint64_t Board::advance_direct(Move move, uint64_t key) {
    just_reset = 0;
    MoveUndo undo;
    play(move, undo);
    key = carried_key_after(key, undo);
    record_position(key_of_carried(key), true);
    total_move_count = wrapping_add(total_move_count, 1);
    return key;
}

StepResult Board::step(int32_t action) {
    just_reset = 0;
    rebuild_action_map();
    const Move* found = ActionMap.find(action);
    if (!found) throw std::invalid_argument("Invalid action");
    advance(*found);

    StepResult result;
    build_observation(result.observation);
    result.side = side;
    const Outcome end = outcome(has_legal_move() ? 1 : 0);
    result.reward = end.reward;
    result.done = end.done;
    return result;
}

}  // namespace ortolan
