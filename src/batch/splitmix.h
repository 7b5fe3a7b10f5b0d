// SplitMix64: a 64-bit state is all a stream of one slot or one tree needs, and the output of
// one stream seeds the next without correlating them.
#pragma once

#include <cstdint>

namespace ortolan {

inline uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace ortolan
