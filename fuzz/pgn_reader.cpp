// Any bytes given to the PGN reader: no crash, the same games whatever the chunks the stream
// comes in, and every game it accepts replays legally from its start.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pgn/reader.h"

namespace {

std::vector<ortolan::pgn::Entry> read(const uint8_t* data, size_t size, size_t chunk) {
    ortolan::pgn::Reader reader(ortolan::pgn::Options{});
    std::vector<ortolan::pgn::Entry> out;
    const char* text = reinterpret_cast<const char*>(data);
    for (size_t i = 0; i < size; i += chunk)
        reader.feed(text + i, size - i < chunk ? size - i : chunk, out);
    reader.finish(out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t chunk = size ? 1 + data[0] % 13 : 1;
    const auto whole = read(data, size, size + 1);
    const auto parts = read(data, size, chunk);
    if (whole.size() != parts.size()) std::abort();
    static ortolan::Board board;
    for (size_t g = 0; g < whole.size(); ++g) {
        const ortolan::pgn::Entry& e = whole[g];
        if (e.kind != parts[g].kind || e.actions != parts[g].actions || e.line != parts[g].line ||
            e.reason != parts[g].reason)
            std::abort();
        if (e.kind != ortolan::pgn::entry_game) continue;
        if (!e.fen.empty() && ortolan::fen_fault(e.fen.c_str())) std::abort();
        board.new_game(e.fen.empty() ? ortolan::start_position : e.fen.c_str());
        for (const int32_t action : e.actions) {
            ortolan::ActionMap::Entry legal[ortolan::max_moves];
            const int32_t count = board.legal_actions(legal);
            const ortolan::Move* move = nullptr;
            for (int32_t i = 0; i < count; ++i)
                if (legal[i].first == action) move = &legal[i].second;
            if (!move) std::abort();
            board.advance(*move);
            fuzz::check_position(board);
        }
    }
    return 0;
}
