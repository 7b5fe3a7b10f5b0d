// The batched agent loop without Python: legal action lists, a seeded pick per slot and a step
// of every slot with uint8 observations, for timing and for instruction counts per ply under
// callgrind.
//
//   build/release/vector_steps [SLOTS [STEPS [THREADS [RULES]]]]
//
// default 1024 slots, 200 steps, 1 thread, RULES 0 (rules_ortolan; 1 standard, 2 fide)
//
//   valgrind --tool=callgrind --callgrind-out-file=vector.out build/release/vector_steps 64 100
//   callgrind_annotate --inclusive=yes vector.out | head -40
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <vector>

#include "batch/vector_ortolan.h"

int main(int argc, char** argv) {
    using namespace ortolan;
    const int32_t slots = argc >= 2 ? std::atoi(argv[1]) : 1024;
    const int32_t steps = argc >= 3 ? std::atoi(argv[2]) : 200;
    const int32_t threads = argc >= 4 ? std::atoi(argv[3]) : 1;
    const int32_t rules = argc >= 5 ? std::atoi(argv[4]) : rules_ortolan;
    VectorOrtolan env(slots, threads, observation_uint8, autoreset_next_step, std::nullopt, rules);
    env.seed(1);
    const auto n = static_cast<size_t>(slots);
    std::vector<uint8_t> observation(n * observation_size), mask(n * action_count);
    std::vector<float> rewards(n);
    std::vector<uint8_t> terminated(n), truncated(n);
    std::vector<int8_t> to_play(n);
    std::vector<int32_t> legal(n * max_moves), counts(n), actions(n);
    const BatchOutput batch{observation.data(), mask.data()};
    const StepOutput out{batch, rewards.data(), terminated.data(), truncated.data(),
                         to_play.data()};
    env.reset(nullptr, nullptr, batch);
    std::mt19937 engine(1);
    int64_t endings = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int32_t step = 0; step < steps; ++step) {
        const int32_t width = env.legal_width();
        env.legal_actions(width, legal.data(), counts.data());
        for (size_t i = 0; i < n; ++i)
            actions[i] =
                counts[i] ? legal[i * static_cast<size_t>(width) + engine() % counts[i]] : -1;
        env.step(actions.data(), out);
        for (size_t i = 0; i < n; ++i) endings += terminated[i] | truncated[i];
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double plies = static_cast<double>(slots) * steps;
    std::printf("%d slots  %d steps  %d threads  %lld endings  %.3f s  %.0f plies/s\n", slots,
                steps, threads, static_cast<long long>(endings), seconds, plies / seconds);
    return 0;
}
