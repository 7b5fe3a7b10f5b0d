// A fixed sequence of get_actions and step calls, for instruction counts per call under
// callgrind: games of seeded random legal actions, a reset whenever one ends, PLIES steps in all.
//
//   build/release/steps [PLIES [SEED]]      default 3000 plies, seed 1
//
//   valgrind --tool=callgrind --callgrind-out-file=steps.out build/release/steps
//   callgrind_annotate --inclusive=yes steps.out | grep -E 'get_actions|step\('
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "engine/board.h"

int main(int argc, char** argv) {
    const int plies = argc >= 2 ? std::atoi(argv[1]) : 3000;
    const uint32_t seed = argc >= 3 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
    std::mt19937 engine(seed);
    ortolan::Board board;
    board.reset();
    int games = 1;
    int32_t checksum = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int ply = 0; ply < plies; ++ply) {
        const ortolan::ActionMask mask = board.get_actions();
        int32_t legal[ortolan::action_count];
        int32_t count = 0;
        const int32_t* flat = &mask.planes[0][0];
        for (int32_t j = 0; j < ortolan::action_count; ++j)
            if (flat[j]) legal[count++] = j;
        const ortolan::StepResult result = board.step(legal[engine() % count]);
        checksum += result.observation.planes[0][ply & 63] + result.reward;
        if (result.done) {
            board.reset();
            ++games;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%d plies  %d games  checksum %d  %.3f s  %.0f plies/s\n", plies, games, checksum,
                seconds, plies / seconds);
    return 0;
}
