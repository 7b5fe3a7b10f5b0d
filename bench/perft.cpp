// Perft nodes per second through make_move.
//
//   build/release/perft                  start position depth 6, then the castling-rich
//                                        middlegame position at depth 5
//   build/release/perft DEPTH [FEN]      one position
#include "engine/perft.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

void run(const char* fen, int depth) {
    ortolan::Board board;
    board.parse_fen(fen);
    const auto start = std::chrono::steady_clock::now();
    const uint64_t nodes = ortolan::perft_bulk(board, depth);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("depth %d  nodes %llu  %.3f s  %.1f M nodes/s  %s\n", depth,
                static_cast<unsigned long long>(nodes), seconds, nodes / seconds / 1e6, fen);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) {
        run(argc >= 3 ? argv[2] : ortolan::start_position, std::atoi(argv[1]));
        return 0;
    }
    run(ortolan::start_position, 6);
    run("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 5);
    return 0;
}
