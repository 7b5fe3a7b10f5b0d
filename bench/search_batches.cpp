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
class Uniform final : public Evaluator {
public:
    explicit Uniform(size_t rows)
        : Evaluator(observation_uint8),
          observations_(rows * observation_size),
          masks_(new bool[rows * action_count]),
          priors_(rows * action_count, 1.0f),
          values_(rows, 0.0f) {}
    LeafRows room(int32_t) override { return {observations_.data(), masks_.get()}; }
    LeafAnswer evaluate(int32_t) override {
        ++batches;
        return {priors_.data(), values_.data()};
    }
    int64_t batches = 0;

private:
    std::vector<uint8_t> observations_;
    std::unique_ptr<bool[]> masks_;
    std::vector<float> priors_, values_;
};

// One run of the search. Not inlined, so that callgrind can count this part alone
// (--toggle-collect='*timed_run*').
[[gnu::noinline]] void timed_run(Search& search, Uniform& uniform) { search.run(uniform); }

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
    timed_run(search, uniform);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double simulations = static_cast<double>(roots) * settings.simulations;
    std::printf(
        "%d roots  %d simulations  %d leaves a batch  %d threads  %lld batches  %.3f s  "
        "%.0f simulations/s\n",
        roots, settings.simulations, settings.leaves_per_batch, threads,
        static_cast<long long>(uniform.batches), seconds, simulations / seconds);
    return 0;
}
