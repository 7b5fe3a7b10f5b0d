// Snapshots: copying a Board's position and episode bookkeeping out and back in.
#include "extras/state.h"

#include <cstring>
#include <stdexcept>
#include <utility>

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

void check_state(const State& state) {
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

namespace {

// Every field of a snapshot but total_move_count, which a Board under rules_ortolan keeps
// counting across restores; moved in from a State the caller gives up, copied from one it keeps.
template <class Snapshot>
void take_fields(Board& board, Snapshot&& state) {
    std::memcpy(board.bitboards, state.bitboards, sizeof board.bitboards);
    std::memcpy(board.occupancies, state.occupancies, sizeof board.occupancies);
    board.side = state.side;
    board.enpassant = state.enpassant;
    board.castle = state.castle;
    board.state_history = std::forward<Snapshot>(state).state_history;
    board.state_pos = state.state_pos;
    board.no_progress_count = state.no_progress_count;
    board.repetition_count = std::forward<Snapshot>(state).repetition_count;
    board.n_repititions = state.n_repititions;
    board.prev_n_repititions = state.prev_n_repititions;
    board.ActionMap = std::forward<Snapshot>(state).move_index;
    // Under the chess rule sets the counter is the game's ply, part of the game.
    if (board.rules != rules_ortolan) board.total_move_count = state.total_move_count;
}

}  // namespace

StepResult Board::restore_state(State state) {
    check_state(state);
    take_fields(*this, std::move(state));
    StepResult result;
    result.side = side;
    build_observation(result.observation);
    result.reward = 0;
    result.done = 0;
    return result;
}

void Board::load_state(const State& state) {
    check_state(state);
    take_fields(*this, state);
}

void Board::load_game(const State& state) {
    load_state(state);
    total_move_count = state.total_move_count;
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
