// Random playouts.
#include <cstring>
#include <exception>
#include <random>
#include <utility>

#include "engine/board.h"
#include "extras/mt19937.h"

namespace ortolan {

namespace {

// A rollout ends after this many steps at the latest.
constexpr int32_t rollout_steps = 400;

// Unbiased index in 0..n-1 by multiply-and-reject on 32-bit outputs, written out so that the
// draws do not depend on the standard library's distribution.
uint32_t draw_index(Mt19937& engine, uint32_t n) {
    uint64_t product = static_cast<uint64_t>(engine()) * n;
    uint32_t low = static_cast<uint32_t>(product);
    if (low < n) {
        const uint32_t threshold = (0u - n) % n;
        while (low < threshold) {
            product = static_cast<uint64_t>(engine()) * n;
            low = static_cast<uint32_t>(product);
        }
    }
    return static_cast<uint32_t>(product >> 32);
}

// The move whose action number is the k-th smallest of the count actions of the position,
// counting from 0. Action numbers are plane * 64 + source, so each plane word holds its
// actions in ascending order; the planes are passed eight at a time by the sum of their
// counts, then one at a time. Fewer than 256 actions in all keep every sum of counts below
// 256, and one multiplication adds the eight bytes; more take two steps through 16-bit sums.
Move kth_smallest_action(const ActionPlanes& legal, uint32_t count, uint32_t k) {
    int32_t plane = 0;
    for (;; plane += 8) {
        uint64_t eight;
        std::memcpy(&eight, legal.counts + plane, sizeof eight);
        uint32_t here;
        if (count < 256) {
            here = static_cast<uint32_t>((eight * 0x0101010101010101ULL) >> 56);
        } else {
            eight = (eight & 0x00ff00ff00ff00ffULL) + ((eight >> 8) & 0x00ff00ff00ff00ffULL);
            here = static_cast<uint32_t>((eight * 0x0001000100010001ULL) >> 48);
        }
        if (k < here) break;
        k -= here;
    }
    for (; k >= legal.counts[plane]; ++plane) k -= legal.counts[plane];
    uint64_t word = legal.planes[plane];
    for (; k > 0; --k) word &= word - 1;
    return legal.moves[lowest_square(word)][plane];
}

// One value from the standard library's random device. Where the library was built with the
// system's getentropy, that source is asked for by name: the default device first probes the
// processor's random-number instructions, which costs over ten microseconds per construction
// on some machines, a sixth of a whole rollout. A library that refuses the name gets the
// default device.
uint32_t device_seed() {
#if defined(_GLIBCXX_HAVE_GETENTROPY)
    try {
        std::random_device device("getentropy");
        return static_cast<uint32_t>(device());
    } catch (const std::exception&) {
    }
#endif
    std::random_device device;
    return static_cast<uint32_t>(device());
}

}  // namespace

int32_t Board::roll_out() { return roll_out(device_seed()); }

// Plays what repeated get_actions and step would play for the same draws and leaves every
// member as they would, without building observations. After the last step the ActionMap
// holds the actions of the position before that step's move, as step leaves it.
int32_t Board::roll_out(uint32_t seed) {
    Mt19937 engine(seed);
    ActionPlanes buffers[2];
    ActionPlanes* legal = &buffers[0];
    ActionPlanes* next = &buffers[1];
    int32_t count = legal_actions(*legal, false);
    if (count == 0) {
        ActionMap.clear();
        return terminal_reward();
    }
    // Room for every position the rollout can record, so that the repetition map does not
    // grow table by table on the way.
    repetition_count.reserve(repetition_count.size() + rollout_steps);
    // The key of the position, carried from move to move.
    uint64_t key = carried_key();
    try {
        for (int32_t steps = 1;; ++steps) {
            const uint32_t k = draw_index(engine, static_cast<uint32_t>(count));
            const Move move = kth_smallest_action(*legal, static_cast<uint32_t>(count), k);
            key = legal->direct ? advance_direct(move, key) : advance(move, false);
            // play, which advance uses for a position judged directly, keeps it consistent.
            const int32_t next_count = legal_actions(*next, legal->direct);
            const Outcome end = outcome(next_count);
            if (end.done || steps == rollout_steps) {
                ActionMap.assign(*legal);
                return end.reward;
            }
            std::swap(legal, next);
            count = next_count;
        }
    } catch (...) {
        ActionMap.assign(*legal);
        throw;
    }
}

}  // namespace ortolan
