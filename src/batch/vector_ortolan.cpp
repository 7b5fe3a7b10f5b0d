#include "batch/vector_ortolan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "batch/slot.h"
#include "batch/splitmix.h"

namespace ortolan {

namespace {

constexpr int64_t int32_most = 2147483647;

// The pool's size for the settings, once num_envs, threads and max_plies are checked.
int32_t pool_size(int64_t num_envs, int64_t threads, std::optional<int64_t> max_plies) {
    auto refuse = [](const std::string& text) { throw std::invalid_argument(text); };
    if (num_envs < 1) refuse("num_envs must be at least 1, not " + std::to_string(num_envs));
    if (num_envs > int32_most)
        refuse("num_envs must be at most 2147483647, not " + std::to_string(num_envs));
    if (threads < 1) refuse("threads must be at least 1, not " + std::to_string(threads));
    if (max_plies && !(*max_plies >= 1 && *max_plies <= int32_most))
        refuse("max_plies must be None or in 1..2147483647, not " + std::to_string(*max_plies));
    return static_cast<int32_t>(std::min(threads, num_envs));
}

}  // namespace

VectorOrtolan::VectorOrtolan(int64_t num_envs, int64_t threads, int32_t observation_type,
                             int32_t autoreset, std::optional<int64_t> max_plies, int32_t rules)
    : pool_(pool_size(num_envs, threads, max_plies)),
      observation_type_(observation_type),
      autoreset_(autoreset),
      max_plies_(static_cast<int32_t>(max_plies.value_or(0))),
      rules_(rules) {
    if (!known_observation_type(observation_type))
        throw std::invalid_argument("unknown observation type");
    if (autoreset < autoreset_next_step || autoreset > autoreset_disabled)
        throw std::invalid_argument("unknown autoreset mode");
    if (!known_rules(rules)) throw std::invalid_argument("unknown rules");
    slots_.resize(static_cast<size_t>(num_envs));
    for (Slot& slot : slots_) slot.board.rules = rules;
    first_refused_.resize(static_cast<size_t>(pool_.size()));
    per_thread_.resize(static_cast<size_t>(pool_.size()));
}

void VectorOrtolan::seed(uint64_t seed) {
    for (size_t i = 0; i < slots_.size(); ++i) {
        uint64_t start = seed + i * 0xD1B54A32D192ED03ULL;
        slots_[i].random = splitmix64(start);
    }
}

void VectorOrtolan::start_game(Slot& slot, const char* fen) {
    // Board::reset would also build an observation and an ActionMap that refresh_legal and
    // write replace. A loaded Black-to-move position is drawn from Black's seat, as after any
    // step (the start position is White's).
    slot.board.new_game(fen ? fen : start_position);
    if (slot.board.side == black) slot.board.just_reset = 0;
    const int32_t legal = slot::refresh_legal(slot.board);
    slot.plies = 0;
    slot.ended = false;
    slot.drawn = false;
    slot.loaded_over = fen && slot.board.outcome(legal).done;
    ++slot.games;
}

void VectorOrtolan::write_row(const Board& board, void* observation, uint8_t* mask) const {
    write_observation_row(board, observation_type_, observation, 0);
    slot::write_mask(board, mask);
}

void VectorOrtolan::write(int32_t i, const BatchOutput& out) const {
    const auto row = static_cast<size_t>(i);
    write_observation_row(slots_[row].board, observation_type_, out.observation, row);
    slot::write_mask(slots_[row].board, out.mask + row * action_count);
}

void VectorOrtolan::reset(const uint8_t* selected, const char* const* fens,
                          const BatchOutput& out) {
    if (fens) {
        for (int32_t i = 0; i < num_envs(); ++i) {
            if ((selected && !selected[i]) || !fens[i]) continue;
            if (const char* fault = fen_fault(fens[i]))
                throw std::invalid_argument("fens[" + std::to_string(i) + "]: " + fault);
        }
    }
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            if (!selected || selected[i]) start_game(slots_[i], fens ? fens[i] : nullptr);
            write(i, out);
        }
    });
}

int32_t VectorOrtolan::step(const int32_t* actions, const StepOutput& out) {
    // Every action is checked, on all threads, before any slot moves.
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t chunk) {
        int32_t refused = 0;
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            Slot& slot = slots_[i];
            slot.refused = false;
            if (resetting(slot) || slot.loaded_over) continue;
            const Move* move = slot::find_legal(slot.board, actions[i]);
            if (move) {
                slot.pending = *move;
            } else {
                slot.refused = true;
                ++refused;
            }
        }
        per_thread_[chunk] = refused;
    });
    int32_t refused = 0;
    for (int32_t count : per_thread_) refused += count;
    if (refused) return refused;

    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            Slot& slot = slots_[i];
            Outcome result{0, 0};
            bool truncated = false;
            slot.games_before = slot.games;
            slot.played = resetting(slot) || slot.loaded_over ? -1 : actions[i];
            if (resetting(slot)) {
                start_game(slot, nullptr);
            } else if (slot.loaded_over) {
                // The loaded position's own ending, whatever the action.
                slot.loaded_over = false;
                result = slot.board.outcome(static_cast<int32_t>(slot.board.ActionMap.size()));
                slot.ended = true;
                slot.drawn = rules_ != rules_ortolan && result.reward == 0;
            } else {
                slot.board.advance(slot.pending);
                result = slot.board.outcome(slot::refresh_legal(slot.board));
                if (slot.drawn) result = {1, 0};
                slot.plies = wrapping_add(slot.plies, 1);
                truncated = !result.done && max_plies_ > 0 && slot.plies >= max_plies_;
                slot.ended = result.done || truncated;
                slot.drawn = rules_ != rules_ortolan && result.done && result.reward == 0;
            }
            out.rewards[i] = static_cast<float>(result.reward);
            out.terminated[i] = static_cast<uint8_t>(result.done);
            out.truncated[i] = truncated;
            out.to_play[i] = static_cast<int8_t>(slot.board.side);
            slot.games_after = slot.games;
            write(i, out.batch);
        }
    });
    ++steps_;
    return 0;
}

void VectorOrtolan::reset_ended(const BatchOutput& out) {
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            if (!slots_[i].ended) continue;
            start_game(slots_[i], nullptr);
            slots_[i].games_after = slots_[i].games;
            write(i, out);
        }
    });
}

int32_t VectorOrtolan::legal_width() {
    // On all threads: each slot's list lies in its own Board, a cache miss or two per slot.
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t chunk) {
        size_t width = 0;
        for (auto i = static_cast<int32_t>(begin); i < end; ++i)
            width = std::max(width, slots_[i].board.ActionMap.size());
        per_thread_[chunk] = static_cast<int32_t>(width);
    });
    // At least one column: when no slot has a legal move, each row is a single -1, so that a
    // pick of column counts[i] * r still indexes a row.
    return std::max(1, *std::max_element(per_thread_.begin(), per_thread_.end()));
}

void VectorOrtolan::legal_actions(int32_t width, int32_t* actions, int32_t* counts) {
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            int32_t* row = actions + static_cast<size_t>(i) * static_cast<size_t>(width);
            int32_t count = 0;
            for (const ActionMap::Entry& e : slots_[i].board.ActionMap) row[count++] = e.first;
            std::fill(row + count, row + width, -1);
            counts[i] = count;
        }
    });
}

void VectorOrtolan::roll_out(int32_t* results, Interruption* interruption) {
    // A playout from the start position takes about 70 us, so a wave is some 10 ms of work.
    constexpr int64_t playouts_per_thread = 128;
    const int64_t wave = playouts_per_thread * threads();
    InterruptionClock clock(interruption);
    for (int64_t first = 0; first < num_envs(); first += wave) {
        clock.poll();
        const int64_t count = std::min<int64_t>(wave, num_envs() - first);
        pool_.for_chunks(count, [&](int64_t begin, int64_t end, int32_t) {
            for (int64_t k = begin; k < end; ++k) roll_out_slot(first + k, results);
        });
    }
}

void VectorOrtolan::roll_out_slot(int64_t i, int32_t* results) {
    Slot& slot = slots_[static_cast<size_t>(i)];
    const int32_t before = slot.board.total_move_count;
    results[i] = slot.board.roll_out(static_cast<uint32_t>(splitmix64(slot.random) >> 32));
    slot.plies = wrapping_add(slot.plies, wrapping_add(slot.board.total_move_count, -before));
    const Outcome result = slot.board.outcome(slot::refresh_legal(slot.board));
    slot.loaded_over = false;
    if (result.done || (max_plies_ > 0 && slot.plies >= max_plies_)) slot.ended = true;
    if (rules_ != rules_ortolan && result.done && result.reward == 0) slot.drawn = true;
    ++slot.games;
}

State VectorOrtolan::save_state(int32_t i) const {
    return slots_[static_cast<size_t>(i)].board.save_state();
}

void VectorOrtolan::save_states(State* out) {
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i)
            out[i] = slots_[i].board.save_state();
    });
}

void VectorOrtolan::restore_state(int32_t i, const State& state, void* observation, uint8_t* mask) {
    Slot& slot = slots_[static_cast<size_t>(i)];
    slot.board.load_state(state);
    slot::refresh_legal(slot.board);
    slot.ended = slot.drawn = slot.loaded_over = false;
    ++slot.games;
    write_row(slot.board, observation, mask);
}

void VectorOrtolan::restore_states(const State* const* states, const BatchOutput& out) {
    // Every state is checked before any slot changes.
    std::vector<int32_t>& first_bad = first_refused_;
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t chunk) {
        first_bad[chunk] = -1;
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            try {
                check_state(*states[i]);
            } catch (const std::invalid_argument&) {
                first_bad[chunk] = i;
                return;
            }
        }
    });
    for (int32_t bad : first_bad) {
        if (bad < 0) continue;
        try {
            check_state(*states[bad]);
        } catch (const std::invalid_argument& error) {
            throw std::invalid_argument("states[" + std::to_string(bad) + "]: " + error.what());
        }
    }
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) {
            Slot& slot = slots_[i];
            slot.board.load_state(*states[i]);
            slot::refresh_legal(slot.board);
            slot.ended = slot.drawn = slot.loaded_over = false;
            ++slot.games;
            write(i, out);
        }
    });
}

void VectorOrtolan::draw_claimable(uint8_t* out) {
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i)
            out[i] = slots_[i].board.draw_claimable();
    });
}

void VectorOrtolan::progress(uint32_t* games, uint32_t* games_before, uint32_t* games_after,
                             int32_t* played, int32_t* plies) const {
    for (size_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        games[i] = slot.games;
        games_before[i] = slot.games_before;
        games_after[i] = slot.games_after;
        played[i] = slot.played;
        plies[i] = slot.plies;
    }
}

void VectorOrtolan::observe(const BatchOutput& out) {
    pool_.for_chunks(num_envs(), [&](int64_t begin, int64_t end, int32_t) {
        for (auto i = static_cast<int32_t>(begin); i < end; ++i) write(i, out);
    });
}

}  // namespace ortolan
