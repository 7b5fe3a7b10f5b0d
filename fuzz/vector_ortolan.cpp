// The batched environment driven by a sequence of calls the input chooses: resets with FEN
// texts of any bytes, steps with legal and arbitrary actions, States assembled from outside,
// playouts and snapshots. After every call the slots must still be what their snapshots say:
// each mask row and legal action list is the legal moves of the slot's game, each observation
// row the Board's own observation of it, and a refused call changes no slot.
#include "batch/vector_ortolan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace ortolan;

struct Buffers {
    explicit Buffers(int32_t n)
        : observation(static_cast<size_t>(n) * observation_size),
          mask(static_cast<size_t>(n) * action_count),
          rewards(n),
          terminated(n),
          truncated(n),
          to_play(n) {}
    BatchOutput batch() { return {observation.data(), mask.data()}; }
    StepOutput step() {
        return {batch(), rewards.data(), terminated.data(), truncated.data(), to_play.data()};
    }
    // Room for the widest element type; rows are laid out by the environment's own type.
    std::vector<int32_t> observation;
    std::vector<uint8_t> mask;
    std::vector<float> rewards;
    std::vector<uint8_t> terminated, truncated;
    std::vector<int8_t> to_play;
};

std::vector<State> snapshots(const VectorOrtolan& env) {
    std::vector<State> states;
    for (int32_t i = 0; i < env.num_envs(); ++i) states.push_back(env.save_state(i));
    return states;
}

void check_unchanged(const VectorOrtolan& env, const std::vector<State>& before) {
    for (int32_t i = 0; i < env.num_envs(); ++i)
        if (!fuzz::same_state(env.save_state(i), before[static_cast<size_t>(i)])) std::abort();
}

// A restored slot holds the State given, but for its move counter, which restoring leaves, and
// its legal moves, which it works out afresh.
void check_restored(const State& slot, State given) {
    given.total_move_count = slot.total_move_count;
    given.move_index = slot.move_index;
    if (!fuzz::same_state(slot, given)) std::abort();
}

// Row i of the observations is `values` in the environment's element type: exact, as floats,
// or clipped to 0..255.
__attribute__((no_sanitize("coverage"))) bool same_row(const Buffers& rows, int32_t type, int32_t i,
                                                       const int32_t* values) {
    const auto* row = reinterpret_cast<const char*>(rows.observation.data());
    if (type == observation_int32)
        return std::memcmp(row + static_cast<size_t>(i) * observation_size * 4, values,
                           observation_size * 4) == 0;
    if (type == observation_float32) {
        float expected[observation_size];
        for (int32_t v = 0; v < observation_size; ++v) expected[v] = static_cast<float>(values[v]);
        return std::memcmp(row + static_cast<size_t>(i) * observation_size * 4, expected,
                           sizeof expected) == 0;
    }
    uint8_t expected[observation_size];
    for (int32_t v = 0; v < observation_size; ++v)
        expected[v] = static_cast<uint8_t>(values[v] < 0 ? 0 : values[v] > 255 ? 255 : values[v]);
    return std::memcmp(row + static_cast<size_t>(i) * observation_size, expected,
                       sizeof expected) == 0;
}

// The legal action lists, padded with -1, must be the engine's legal moves of each slot's game
// in ascending order; with `rows`, the mask and observation rows must describe that game too.
// Whether a Black-to-move observation is turned round depends on the Board's just_reset flag,
// which snapshots leave out, so the caller follows it: 1 from a reset to the first move played.
struct Legal {
    int32_t width = 0;
    std::vector<int32_t> actions, counts;
    const int32_t* row(int32_t i) const { return actions.data() + static_cast<size_t>(i) * width; }
};

// Kept out of the coverage feedback: its comparisons say nothing about the code under test.
__attribute__((no_sanitize("coverage"))) Legal check_slots(VectorOrtolan& env, Buffers* rows,
                                                           const std::vector<int32_t>& just_reset) {
    const int32_t n = env.num_envs();
    Legal legal;
    legal.width = env.legal_width();
    legal.actions.assign(static_cast<size_t>(n) * legal.width, -2);
    legal.counts.assign(static_cast<size_t>(n), -2);
    env.legal_actions(legal.width, legal.actions.data(), legal.counts.data());
    for (int32_t i = 0; i < n; ++i) {
        Board game = fuzz::game_of(env.save_state(i));
        game.just_reset = just_reset[static_cast<size_t>(i)];
        fuzz::check_position(game);
        ActionMap::Entry moves[max_moves];
        const int32_t count = game.legal_actions(moves);
        std::sort(moves, moves + count, [](const ActionMap::Entry& a, const ActionMap::Entry& b) {
            return a.first < b.first;
        });
        const int32_t* row = legal.row(i);
        if (legal.counts[static_cast<size_t>(i)] != count || count > legal.width) std::abort();
        for (int32_t k = 0; k < legal.width; ++k)
            if (row[k] != (k < count ? moves[k].first : -1)) std::abort();
        if (!rows) continue;
        uint8_t mask[action_count] = {};
        for (int32_t k = 0; k < count; ++k) mask[moves[k].first] = 1;
        if (std::memcmp(mask, rows->mask.data() + static_cast<size_t>(i) * action_count,
                        action_count) != 0)
            std::abort();
        Observation expected;
        game.build_observation(expected);
        if (!same_row(*rows, env.observation_type(), i, &expected.planes[0][0])) std::abort();
    }
    return legal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const int32_t n = 1 + in.take<uint8_t>() % 4;
    // A second thread hands the work over at every call, which costs; a quarter of the inputs.
    const int32_t threads = in.take<uint8_t>() % 4 == 1 ? 2 : 1;
    const int32_t type = in.take<uint8_t>() % 3;
    const int32_t autoreset = in.take<uint8_t>() % 3;
    const int32_t max_plies = in.take<uint8_t>() & 1 ? in.take<uint8_t>() % 64 : 0;
    VectorOrtolan env(n, threads, type, autoreset,
                      max_plies ? std::optional<int64_t>(max_plies) : std::nullopt);
    env.seed(in.take<uint64_t>());
    Buffers out(n);
    static Board scratch;

    // Rows hold every slot's observation and mask except after a playout; they are checked
    // after each call that writes them.
    bool rows_current = true, rows_written = true;
    env.reset(nullptr, nullptr, out.batch());
    std::vector<int32_t> just_reset(static_cast<size_t>(n), 1);
    auto reset_ended = [&] {
        for (int32_t i = 0; i < n; ++i)
            if (env.ended(i)) just_reset[i] = 1;
        env.reset_ended(out.batch());
    };
    for (int32_t call = 0; call < 96 && !in.empty(); ++call) {
        const Legal legal =
            check_slots(env, rows_current && rows_written ? &out : nullptr, just_reset);
        rows_written = false;
        const std::vector<State> before = snapshots(env);
        switch (in.take<uint8_t>() % 10) {
            case 0: {  // reset some slots, some from FEN texts
                std::vector<uint8_t> selected(static_cast<size_t>(n));
                for (uint8_t& s : selected) s = in.take<uint8_t>() & 1;
                std::vector<std::string> texts(static_cast<size_t>(n));
                std::vector<const char*> fens(static_cast<size_t>(n), nullptr);
                for (int32_t i = 0; i < n; ++i) {
                    if (!(in.take<uint8_t>() & 1)) continue;
                    texts[i] = fuzz::take_text(in, 100);
                    fens[i] = texts[i].c_str();
                }
                const bool all = in.take<uint8_t>() & 1;
                try {
                    env.reset(all ? nullptr : selected.data(), fens.data(), out.batch());
                } catch (const std::invalid_argument&) {
                    // A FEN that is no position to play from: nothing changed.
                    bool bad = false;
                    for (int32_t i = 0; i < n; ++i)
                        bad = bad || ((all || selected[i]) && fens[i] && fen_fault(fens[i]));
                    if (!bad) std::abort();
                    check_unchanged(env, before);
                    break;
                }
                // A loaded Black-to-move position is seen from Black's seat at once.
                for (int32_t i = 0; i < n; ++i)
                    if (all || selected[i])
                        just_reset[i] = fens[i] && env.save_state(i).side == black ? 0 : 1;
                rows_current = rows_written = true;
                break;
            }
            case 1:
            case 2:
            case 3:
            case 4: {  // step, with a legal action in most slots
                std::vector<int32_t> actions(static_cast<size_t>(n));
                int32_t refusals = 0;
                std::vector<uint8_t> resets(static_cast<size_t>(n));
                std::vector<uint8_t> over(static_cast<size_t>(n));
                for (int32_t i = 0; i < n; ++i) {
                    const int32_t count = legal.counts[static_cast<size_t>(i)];
                    const bool any = (in.take<uint8_t>() & 15) == 0 || count == 0;
                    actions[i] =
                        any ? in.take<int32_t>() : legal.row(i)[in.take<uint16_t>() % count];
                    const bool resetting = autoreset != autoreset_disabled && env.ended(i);
                    const int32_t* row = legal.row(i);
                    const bool ok = std::find(row, row + count, actions[i]) != row + count;
                    // A loaded game that had already ended takes any action.
                    over[i] = !resetting && env.loaded_over(i);
                    refusals += !resetting && !over[i] && !ok;
                    resets[i] = resetting;
                }
                const int32_t refused = env.step(actions.data(), out.step());
                if (refused != refusals) std::abort();
                if (refused) {
                    check_unchanged(env, before);
                    break;
                }
                for (int32_t i = 0; i < n; ++i) {
                    const float r = out.rewards[i];
                    if (r != 0.0f && r != 1.0f && r != -1.0f) std::abort();
                    if (out.to_play[i] != env.save_state(i).side) std::abort();
                    if (out.terminated[i] && out.truncated[i]) std::abort();
                    if ((out.terminated[i] || out.truncated[i]) && !env.ended(i)) std::abort();
                }
                for (int32_t i = 0; i < n; ++i)
                    if (!over[i]) just_reset[i] = resets[i];
                if (autoreset == autoreset_same_step) reset_ended();
                rows_current = rows_written = true;
                break;
            }
            case 5: {  // one slot from an assembled State
                const int32_t i = in.take<uint8_t>() % n;
                const State state = fuzz::take_state(in, scratch);
                try {
                    env.restore_state(i, state,
                                      reinterpret_cast<char*>(out.observation.data()) +
                                          static_cast<size_t>(i) * observation_size *
                                              (type == observation_uint8 ? 1 : 4),
                                      out.mask.data() + static_cast<size_t>(i) * action_count);
                    check_restored(env.save_state(i), state);
                    rows_written = true;
                } catch (const std::invalid_argument&) {
                    check_unchanged(env, before);
                }
                break;
            }
            case 6: {  // every slot, from snapshots and assembled States
                std::vector<State> states(before);
                for (State& state : states)
                    if (in.take<uint8_t>() & 1)
                        state = fuzz::take_state(in, scratch);
                    else
                        state = before[in.take<uint8_t>() % before.size()];
                std::vector<const State*> pointers;
                for (const State& state : states) pointers.push_back(&state);
                try {
                    env.restore_states(pointers.data(), out.batch());
                    for (int32_t i = 0; i < n; ++i) check_restored(env.save_state(i), states[i]);
                    rows_current = rows_written = true;
                } catch (const std::invalid_argument&) {
                    check_unchanged(env, before);
                }
                break;
            }
            case 7: {
                std::vector<int32_t> results(static_cast<size_t>(n), 7);
                env.roll_out(results.data());
                for (int32_t i = 0; i < n; ++i) {
                    if (results[i] < -1 || results[i] > 1) std::abort();
                    if (env.save_state(i).total_move_count != before[i].total_move_count)
                        just_reset[i] = 0;
                }
                rows_current = false;
                break;
            }
            case 8: {
                std::vector<State> states(static_cast<size_t>(n));
                env.save_states(states.data());
                for (int32_t i = 0; i < n; ++i)
                    if (!fuzz::same_state(states[i], before[i])) std::abort();
                reset_ended();
                rows_written = true;
                break;
            }
            default:
                env.observe(out.batch());
                rows_current = rows_written = true;
                break;
        }
    }
    check_slots(env, rows_current ? &out : nullptr, just_reset);
    return 0;
}
