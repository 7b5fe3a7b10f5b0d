// The batched search without Python: trees from the start position, every leaf valued by a
// uniform evaluator written in C++, for timing and for instruction counts per simulation under
// callgrind.
//
//   build/release/search_batches [ROOTS [SIMULATIONS [LEAVES [THREADS]]]]
//                                default 16 roots, 200 simulations, 8 leaves a batch, 1 thread
//
//   valgrind --tool=callgrind --toggle-collect='*timed_run*' build/release/search_batches 16 1000
//   (the instructions of the run alone, divided by roots x simulations)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "batch/search.h"

namespace {

using namespace ortolan;

// Equal priors and a value of 0 for every leaf, in buffers as large as any batch.
struct Uniform {
    explicit Uniform(size_t rows)
        : observations(rows * observation_size),
          masks(new bool[rows * action_count]),
          priors(rows * action_count, 1.0f),
          values(rows, 0.0f) {}
    std::vector<uint8_t> observations;
    std::unique_ptr<bool[]> masks;
    std::vector<float> priors, values;
};

// One run of the search; returns the number of batches, -1 for an answer refused. Not inlined,
// so that callgrind can count this part alone (--toggle-collect='*timed_run*').
[[gnu::noinline]] int64_t timed_run(Search& search, Uniform& uniform) {
    int64_t batches = 0;
    search.start_run();
    while (!search.finished()) {
        const int32_t rows = search.select();
        if (rows == 0) continue;
        search.write_leaves(uniform.observations.data(), observation_uint8, uniform.masks.get());
        ++batches;
        if (search.check(uniform.priors.data(), uniform.values.data()).row >= 0) return -1;
        search.apply(uniform.priors.data(), uniform.values.data());
    }
    return batches;
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t roots = argc >= 2 ? std::atoi(argv[1]) : 16;
    SearchSettings settings;
    settings.simulations = argc >= 3 ? std::atoi(argv[2]) : 200;
    settings.leaves_per_batch = argc >= 4 ? std::atoi(argv[3]) : 8;
    const int32_t threads = argc >= 5 ? std::atoi(argv[4]) : 1;
    Board start;
    start.new_game(start_position);
    const std::vector<Board> games(static_cast<size_t>(roots), start);
    Search search(settings, games.data(), roots, 1, threads);
    Uniform uniform(static_cast<size_t>(roots) * static_cast<size_t>(settings.leaves_per_batch));
    const auto begin = std::chrono::steady_clock::now();
    const int64_t batches = timed_run(search, uniform);
    if (batches < 0) return 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double simulations = static_cast<double>(roots) * settings.simulations;
    std::printf(
        "%d roots  %d simulations  %d leaves a batch  %d threads  %lld batches  %.3f s  "
        "%.0f simulations/s\n",
        roots, settings.simulations, settings.leaves_per_batch, threads,
        static_cast<long long>(batches), seconds, simulations / seconds);
    return 0;
}
