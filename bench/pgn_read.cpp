// ./pgn_read FILE [RULES [THREADS]]: reads a PGN file with the C++ reader on one thread and
// prints the games, plies and plies per CPU second of reading and SAN decoding (RULES 0
// ortolan, 1 standard, 2 fide); with THREADS, also the positions per wall second of PgnBatches
// writing uint8 observations in batches of 1,024 on that many threads.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "batch/observation_type.h"
#include "batch/pgn_batches.h"
#include "pgn/reader.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RULES]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ortolan::pgn::Options options;
    options.rules = argc > 2 ? std::atoi(argv[2]) : ortolan::rules_standard;
    const std::clock_t start = std::clock();
    ortolan::pgn::Reader reader(options);
    std::vector<ortolan::pgn::Entry> out;
    size_t games = 0, plies = 0;
    constexpr size_t chunk = 1 << 20;
    for (size_t i = 0; i <= text.size(); i += chunk) {
        if (i < text.size()) reader.feed(text.data() + i, std::min(chunk, text.size() - i), out);
        if (i + chunk > text.size()) reader.finish(out);
        for (const auto& e : out) {
            games += e.kind == ortolan::pgn::entry_game;
            plies += e.actions.size();
        }
        out.clear();
    }
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("%zu games, %zu plies, %.3f s CPU, %.0f plies/s\n", games, plies, seconds,
                static_cast<double>(plies) / seconds);
    if (argc < 4) return 0;

    ortolan::PgnBatchSettings settings;
    settings.threads = std::atoi(argv[3]);
    settings.read.rules = options.rules;
    constexpr int64_t rows = 1024;
    std::vector<uint8_t> observation(rows * ortolan::observation_size);
    std::vector<int32_t> action(rows), ply(rows);
    std::vector<float> outcome(rows);
    std::vector<int64_t> game(rows);
    const ortolan::PgnBatchOutput batch{observation.data(), nullptr,    action.data(),
                                        outcome.data(),     ply.data(), game.data()};
    const auto wall = std::chrono::steady_clock::now();
    ortolan::PgnBatches batches(settings);
    int64_t positions = 0;
    for (size_t i = 0; i <= text.size(); i += chunk) {
        if (i < text.size()) batches.feed(text.data() + i, std::min(chunk, text.size() - i));
        if (i + chunk > text.size()) batches.finish();
        while (batches.available() >= (i + chunk > text.size() ? 1 : rows))
            positions += batches.next(rows, batch);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    std::printf("PgnBatches, %d threads: %lld positions, %.3f s, %.0f positions/s\n",
                settings.threads, static_cast<long long>(positions), elapsed,
                static_cast<double>(positions) / elapsed);
    return 0;
}
