// State: a self-contained snapshot of a Board's position and episode bookkeeping.
#pragma once

#include <cstdint>
#include <string>

#include "engine/bits.h"
#include "env/actions.h"
#include "env/observation.h"
#include "env/repetition.h"

namespace ortolan {

// A plain record with no invariants of its own. A default-constructed State is all zeros
// (en passant 0, not no_square) with empty containers.
struct State {
    Bitboard bitboards[12]{};
    Bitboard occupancies[3]{};
    int32_t side = 0;
    int32_t enpassant = 0;
    int32_t castle = 0;
    History state_history;
    ActionMap move_index;
    int32_t state_pos = 0;
    int32_t total_move_count = 0;
    int32_t no_progress_count = 0;
    RepetitionMap repetition_count;
    int32_t n_repititions = 0;
    int32_t prev_n_repititions = 0;
};

// Throws std::invalid_argument, naming the field, for a State whose fields a Board cannot
// take: later operations use them as indices and sizes, so a record assembled from outside
// is refused before anything is written.
void check_state(const State& state);

// The text form: "State(", one line per field, ")", joined by newlines.
std::string state_text(const State& state);

}  // namespace ortolan
