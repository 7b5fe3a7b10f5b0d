// Random playouts.
#include <random>
#include <utility>

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

// The move whose action number is the k-th smallest of the list. Action numbers are
// plane * 64 + source, so one 64-bit word per plane holds them in ascending order.
Move kth_smallest_action(const ActionMap::Entry* entries, int32_t count, uint32_t k) {
    uint64_t planes[action_planes] = {};
    for (int32_t i = 0; i < count; ++i)
        planes[entries[i].first >> 6] |= uint64_t{1} << (entries[i].first & 63);
    int32_t plane = 0;
    for (;; ++plane) {
        if (!planes[plane]) continue;
        const uint32_t here = static_cast<uint32_t>(count_bits(planes[plane]));
        if (k < here) break;
        k -= here;
    }
    uint64_t word = planes[plane];
    for (; k > 0; --k) word &= word - 1;
    const int32_t action = plane * 64 + lowest_square(word);
    for (int32_t i = 0;; ++i)
        if (entries[i].first == action) return entries[i].second;
}

}  // namespace

int32_t Board::roll_out() {
    std::random_device device;
    return roll_out(static_cast<uint32_t>(device()));
}

// Plays exactly what repeated get_actions and step would play for the same draws, with every
// member ending as they would leave it, but enumerates the legal moves once per ply and builds
// no observations. After the last step the ActionMap holds the actions of the position before
// that step's move, as step leaves it, so it is filled once, from the previous ply's list.
int32_t Board::roll_out(uint32_t seed) {
    std::mt19937 engine(seed);
    ActionMap::Entry lists[2][max_moves];
    ActionMap::Entry* legal = lists[0];
    ActionMap::Entry* previous = lists[1];
    int32_t count = legal_actions(legal);
    int32_t previous_count = count;
    std::swap(legal, previous);

    auto keep_action_map = [&] { ActionMap.assign(previous, previous_count); };
    if (count == 0) {
        keep_action_map();
        return terminal_reward();
    }
    try {
        for (int32_t steps = 1;; ++steps) {
            const uint32_t k = draw_index(engine, static_cast<uint32_t>(previous_count));
            const Move move = kth_smallest_action(previous, previous_count, k);
            just_reset = 0;
            make_move(move);
            record_position();
            total_move_count = static_cast<int32_t>(static_cast<uint32_t>(total_move_count) + 1u);

            count = legal_actions(legal);
            int32_t result = -2;
            if (count == 0)
                result = terminal_reward();
            else if (n_repititions == 2 || no_progress_count >= 50 || steps == 400)
                result = 0;
            if (result != -2) {
                keep_action_map();
                return result;
            }
            std::swap(legal, previous);
            previous_count = count;
        }
    } catch (...) {
        keep_action_map();
        throw;
    }
}

}  // namespace ortolan
