// Snapshots: copying a Board's position and episode bookkeeping out and back in.
#include "extras/state.h"

#include <cstring>
#include <stdexcept>

#include "engine/board.h"

namespace ortolan {

State Board::save_state() const {
    State state;
    std::memcpy(state.bitboards, bitboards, sizeof bitboards);
    std::memcpy(state.occupancies, occupancies, sizeof occupancies);
    state.side = side;
    state.enpassant = enpassant;
    state.castle = castle;
    state.state_history = state_history;
    state.state_pos = state_pos;
    state.total_move_count = total_move_count;
    state.no_progress_count = no_progress_count;
    state.repetition_count = repetition_count;
    state.n_repititions = n_repititions;
    state.prev_n_repititions = prev_n_repititions;
    state.move_index = ActionMap;
    return state;
}

namespace {

// The fields later operations use as indices and sizes must be in the ranges a saved state
// has; a record assembled from outside is refused before anything is written.
void check_restorable(const State& state) {
    auto refuse = [](const char* what) {
        throw std::invalid_argument(std::string("invalid State: ") + what);
    };
    if (state.side != white && state.side != black) refuse("side must be 0 or 1");
    if (state.enpassant < 0 || state.enpassant > no_square) refuse("enpassant must be in 0..64");
    if (state.castle < 0 || state.castle > 15) refuse("castle must be in 0..15");
    if (state.state_pos < 0 || state.state_pos >= history_capacity)
        refuse("state_pos must be in 0..7");
    if (!state.state_history.regular())
        refuse("state_history must hold at most 8 records of 14 planes of 64 values");
}

}  // namespace

StepResult Board::restore_state(State state) {
    check_restorable(state);
    std::memcpy(bitboards, state.bitboards, sizeof bitboards);
    std::memcpy(occupancies, state.occupancies, sizeof occupancies);
    side = state.side;
    enpassant = state.enpassant;
    castle = state.castle;
    state_history = std::move(state.state_history);
    state_pos = state.state_pos;
    no_progress_count = state.no_progress_count;
    repetition_count = std::move(state.repetition_count);
    n_repititions = state.n_repititions;
    prev_n_repititions = state.prev_n_repititions;
    ActionMap = std::move(state.move_index);

    StepResult result;
    result.side = side;
    build_observation(result.observation);
    result.reward = 0;
    result.done = 0;
    return result;
}

std::string state_text(const State& state) {
    std::string text = "State(\n";
    auto line = [&text](const char* name, int32_t value, const char* end) {
        text += "  ";
        text += name;
        text += std::to_string(value);
        text += end;
    };
    line("side=", state.side, ",\n");
    line("enpassant=", state.enpassant, ",\n");
    line("castle=", state.castle, ",\n");
    line("state_pos=", state.state_pos, ",\n");
    line("total_move_count=", state.total_move_count, ",\n");
    line("no_progress_count=", state.no_progress_count, ",\n");
    line("n_repititions=", state.n_repititions, ",\n");
    line("state_history size=", state.state_history.size(), "\n");
    text += ")";
    return text;
}

}  // namespace ortolan
