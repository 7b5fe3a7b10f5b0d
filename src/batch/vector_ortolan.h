// VectorOrtolan: many games side by side, stepped together on a fixed pool of threads.
//
// Each slot holds one Board for the life of the VectorOrtolan and is driven exactly as an
// Ortolan driven with the same calls would be. Results land in buffers the caller provides,
// one row per slot, so nothing is allocated per step; slots are split among the threads in
// contiguous chunks, and a slot's result never depends on the number of threads (the only
// randomness, that of roll_out, comes from a stream of the slot's own).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "batch/interruption.h"
#include "batch/observation_type.h"
#include "batch/thread_pool.h"
#include "engine/board.h"
#include "extras/state.h"

namespace ortolan {

// What becomes of a slot whose game has ended (terminated, or truncated at max_plies): with
// next_step the following step resets it and ignores its action; with same_step the step
// that ends it reports the ending and then resets it (see reset_ended); with disabled only
// reset does.
inline constexpr int32_t autoreset_next_step = 0;
inline constexpr int32_t autoreset_same_step = 1;
inline constexpr int32_t autoreset_disabled = 2;

// Where observations and masks go: observation holds observation_size values of the
// observation type per slot, mask action_count bytes (0 or 1) per slot, slot after slot.
struct BatchOutput {
    void* observation;
    uint8_t* mask;
};

// What step writes: the observations and masks after the step, and per slot the reward
// (White's point of view), whether the game terminated or was truncated, and the side to move.
struct StepOutput {
    BatchOutput batch;
    float* rewards;
    uint8_t* terminated;
    uint8_t* truncated;
    int8_t* to_play;
};

class VectorOrtolan {
public:
    // num_envs slots, none holding a game until reset, on min(threads, num_envs) threads;
    // max_plies nullopt for no limit. Throws std::invalid_argument for a setting out of range,
    // naming it as the Python package does (num_envs and threads at least 1, num_envs and
    // max_plies at most 2^31 - 1, max_plies at least 1).
    VectorOrtolan(int64_t num_envs, int64_t threads, int32_t observation_type, int32_t autoreset,
                  std::optional<int64_t> max_plies, int32_t rules = rules_ortolan);

    int32_t num_envs() const { return static_cast<int32_t>(slots_.size()); }
    int32_t threads() const { return pool_.size(); }
    int32_t observation_type() const { return observation_type_; }
    int32_t autoreset() const { return autoreset_; }
    int32_t max_plies() const { return max_plies_; }  // 0 for no limit
    int32_t rules() const { return rules_; }

    // Seeds every slot's random stream from the seed and the slot's index alone.
    void seed(uint64_t seed);

    // Starts a new game in each slot where selected is nonzero (every slot when selected is
    // null): Board::reset, or the FEN text fens[i] when fens and fens[i] are not null. Then
    // writes every slot's observation and mask. Every FEN is checked first (fen_fault): with a
    // bad one nothing changes and std::invalid_argument names the lowest such slot and the
    // fault. A slot whose loaded position has already ended shows its legal moves and reports
    // the ending at its next step, whatever the action.
    void reset(const uint8_t* selected, const char* const* fens, const BatchOutput& out);

    // Plays one action per slot. Every action is checked first: when any slot that is not
    // being reset has an action that is not legal there, nothing changes and the number of
    // such slots is returned (refused(i) tells which). Otherwise returns 0 after the step.
    // Under the chess rule sets a game that has ended by a draw and is played on (autoreset
    // disabled) reports the draw again at every step.
    int32_t step(const int32_t* actions, const StepOutput& out);
    bool refused(int32_t slot) const { return slots_[static_cast<size_t>(slot)].refused; }

    // A slot whose game ended at its last step or playout and has not been reset since.
    bool ended(int32_t slot) const { return slots_[static_cast<size_t>(slot)].ended; }
    // A slot loaded from FEN text whose position had already ended: its next step reports
    // the ending, whatever the action, and plays nothing.
    bool loaded_over(int32_t slot) const { return slots_[static_cast<size_t>(slot)].loaded_over; }
    // Resets every ended slot and writes its new observation and mask; other rows are left.
    void reset_ended(const BatchOutput& out);

    // The largest number of legal actions of any slot, and at least 1.
    int32_t legal_width();
    // Per slot, its legal actions in ascending order padded with -1 to width (at least
    // legal_width()) values, and their number.
    void legal_actions(int32_t width, int32_t* actions, int32_t* counts);

    // One Board::roll_out per slot, seeded from the slot's stream; a slot whose playout ended
    // its game counts as ended.
    // The playouts go in waves of a few milliseconds, and the interruption (if any) is asked
    // between waves: when it throws, the slots of the finished waves stand where their
    // playouts stopped and the others are untouched.
    void roll_out(int32_t* results, Interruption* interruption = nullptr);

    State save_state(int32_t slot) const;
    void save_states(State* out);
    // Restores one slot and writes its observation (observation_size values) and mask.
    // Throws std::invalid_argument, with the slot unchanged, for a State that cannot be played.
    void restore_state(int32_t slot, const State& state, void* observation, uint8_t* mask);
    // Restores every slot from states[slot], all states checked before any slot changes.
    void restore_states(const State* const* states, const BatchOutput& out);

    // Writes every slot's observation and mask as they stand.
    void observe(const BatchOutput& out);

    // Per slot, 1 when its side to move could claim a draw under the FIDE laws
    // (Board::draw_claimable), else 0.
    void draw_claimable(uint8_t* out);

    // What a search following the slots reads after a step, one value a slot in each array.
    // A slot's game counter moves on at every start of a game in the slot (reset, FEN,
    // autoreset) and at every change of its position other than by a step (restore_state,
    // roll_out). games: the counter now; games_before and games_after: the counter as the
    // last step began and as it (and reset_ended) finished; played: the action the last step
    // played, -1 when it reset the slot; plies: plies since the slot's last reset.
    void progress(uint32_t* games, uint32_t* games_before, uint32_t* games_after, int32_t* played,
                  int32_t* plies) const;
    // Successful steps since the VectorOrtolan was made.
    uint64_t steps() const { return steps_; }

private:
    struct Slot {
        Board board;
        int32_t plies = 0;   // since the slot's last reset
        uint32_t games = 0;  // see progress()
        uint32_t games_before = 0;
        uint32_t games_after = 0;
        int32_t played = -1;
        uint64_t random = 0;       // the slot's random stream
        Move pending = 0;          // the move of the action being played
        bool ended = false;        // see ended()
        bool refused = false;      // see refused()
        bool loaded_over = false;  // the loaded position had ended before any step
        bool drawn = false;        // the game ended by a draw under a chess rule set
    };

    bool resetting(const Slot& slot) const {
        return autoreset_ != autoreset_disabled && slot.ended;
    }
    void start_game(Slot& slot, const char* fen);
    void roll_out_slot(int64_t slot, int32_t* results);
    void write_row(const Board& board, void* observation, uint8_t* mask) const;
    void write(int32_t slot, const BatchOutput& out) const;

    std::vector<Slot> slots_;
    ThreadPool pool_;
    std::vector<int32_t> first_refused_;  // per thread, while states are checked
    std::vector<int32_t> per_thread_;     // per thread: refused actions, widest legal list
    int32_t observation_type_;
    int32_t autoreset_;
    int32_t max_plies_;
    int32_t rules_;
    uint64_t steps_ = 0;
};

}  // namespace ortolan
