// Starting a game and playing one action.
#include <stdexcept>

#include "engine/board.h"

namespace ortolan {

StepResult Board::reset() {
    just_reset = 1;
    state_history.clear();
    repetition_count.clear();
    state_pos = 0;
    parse_fen(start_position);
    record_position();
    StepResult result;
    result.side = side;
    build_observation(result.observation);
    rebuild_action_map();
    result.reward = 0;
    result.done = 0;
    return result;
}

StepResult Board::step(int32_t action) {
    just_reset = 0;
    rebuild_action_map();
    const Move* found = ActionMap.find(action);
    if (!found) throw std::invalid_argument("Invalid action");
    make_move(*found);
    record_position();
    total_move_count = static_cast<int32_t>(static_cast<uint32_t>(total_move_count) + 1u);

    StepResult result;
    build_observation(result.observation);
    result.side = side;
    result.reward = 0;
    result.done = 0;
    if (!has_legal_move()) {
        result.done = 1;
        result.reward = terminal_reward();
    } else if (n_repititions == 2 || no_progress_count >= 50) {
        result.done = 1;
    }
    return result;
}

}  // namespace ortolan
