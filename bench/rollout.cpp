// Random playouts per second from the start position, the way a tree search uses them:
// save once, roll out, restore.
//
//   build/release/rollout [GAMES [SEED [RULES]]]
//
// With SEED the games are seeded SEED, SEED + 1, ... so that every run plays the same games
// (for instruction counts); without it each game draws its own seed. RULES is the rule set,
// 0 (rules_ortolan, the default), 1 (standard) or 2 (fide).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/board.h"
#include "extras/state.h"

int main(int argc, char** argv) {
    const int games = argc >= 2 ? std::atoi(argv[1]) : 20000;
    const bool seeded = argc >= 3;
    const uint32_t first_seed =
        seeded ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 0;
    ortolan::Board board;
    board.rules = argc >= 4 ? std::atoi(argv[3]) : ortolan::rules_ortolan;
    board.reset();
    const ortolan::State start = board.save_state();
    int64_t plies = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < games; ++i) {
        const int32_t before = board.total_move_count;
        if (seeded)
            board.roll_out(first_seed + static_cast<uint32_t>(i));
        else
            board.roll_out();
        plies += board.total_move_count - before;
        board.restore_state(start);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%d rollouts  %lld plies  %.3f s  %.0f plies/s  %.0f rollouts/s\n", games,
                static_cast<long long>(plies), seconds, plies / seconds, games / seconds);
    return 0;
}
