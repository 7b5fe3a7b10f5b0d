// Random playouts.
#include <random>

#include "engine/board.h"

namespace ortolan {

namespace {

// Unbiased index in 0..n-1 by multiply-and-reject on 32-bit outputs, written out so that the
// draws do not depend on the standard library's distribution.
uint32_t draw_index(std::mt19937& engine, uint32_t n) {
    uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(engine())) * n;
    uint32_t low = static_cast<uint32_t>(product);
    if (low < n) {
        const uint32_t threshold = (0u - n) % n;
        while (low < threshold) {
            product = static_cast<uint64_t>(static_cast<uint32_t>(engine())) * n;
            low = static_cast<uint32_t>(product);
        }
    }
    return static_cast<uint32_t>(product >> 32);
}

void sort_by_action(ActionMap::Entry* entries, int32_t count) {
    for (int32_t i = 1; i < count; ++i) {
        const ActionMap::Entry e = entries[i];
        int32_t j = i;
        for (; j > 0 && entries[j - 1].first > e.first; --j) entries[j] = entries[j - 1];
        entries[j] = e;
    }
}

}  // namespace

int32_t Board::roll_out() {
    std::random_device device;
    return roll_out(static_cast<uint32_t>(device()));
}

// Plays exactly what repeated get_actions and step would play for the same draws, with every
// member ending as they would leave it, but enumerates the legal moves once per ply and builds
// no observations. After the last step the ActionMap holds the actions of the position before
// that step's move, as step leaves it.
int32_t Board::roll_out(uint32_t seed) {
    std::mt19937 engine(seed);
    ActionMap::Entry legal[max_moves];
    int32_t count = legal_actions(legal);
    ActionMap.clear();
    for (int32_t i = 0; i < count; ++i) ActionMap.insert(legal[i].first, legal[i].second);
    if (count == 0) return terminal_reward();

    for (int32_t steps = 1;; ++steps) {
        sort_by_action(legal, count);
        const Move move = legal[draw_index(engine, static_cast<uint32_t>(count))].second;
        just_reset = 0;
        make_move(move);
        record_position();
        total_move_count = static_cast<int32_t>(static_cast<uint32_t>(total_move_count) + 1u);

        count = legal_actions(legal);
        if (count == 0) return terminal_reward();
        if (n_repititions == 2 || no_progress_count >= 50 || steps == 400) return 0;
        ActionMap.clear();
        for (int32_t i = 0; i < count; ++i) ActionMap.insert(legal[i].first, legal[i].second);
    }
}

}  // namespace ortolan
