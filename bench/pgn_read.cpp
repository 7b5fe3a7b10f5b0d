// ./pgn_read FILE [RULES]: reads a PGN file with the C++ reader on one thread and prints the
// games, plies and plies per CPU second of reading and SAN decoding (RULES 0 ortolan,
// 1 standard, 2 fide).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    return 0;
}
