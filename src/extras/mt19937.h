// The 32-bit Mersenne Twister, MT19937, with the outputs of std::mt19937 for the same seed.
// The standard engine regenerates all 624 state words whenever its outputs run out, which a
// rollout pays for in full although it draws a few hundred numbers; this one regenerates
// each word when its output is due. The words are regenerated in the same order from the same
// values (the words ahead of it still old, the words behind it new), so the outputs agree.
#pragma once

#include <cstdint>

namespace ortolan {

class Mt19937 {
public:
    explicit Mt19937(uint32_t seed) {
        uint32_t word = state_[0] = seed;
        for (uint32_t i = 1; i < n; ++i) state_[i] = word = 1812433253u * (word ^ (word >> 30)) + i;
    }

    uint32_t operator()() {
        const uint32_t i = index_;
        const uint32_t next = i + 1 == n ? 0 : i + 1;
        const uint32_t ahead = i < n - m ? i + m : i + m - n;
        const uint32_t y = (state_[i] & 0x80000000u) | (state_[next] & 0x7fffffffu);
        uint32_t z = state_[ahead] ^ (y >> 1) ^ ((y & 1) ? 0x9908b0dfu : 0u);
        state_[i] = z;
        index_ = next;
        z ^= z >> 11;
        z ^= (z << 7) & 0x9d2c5680u;
        z ^= (z << 15) & 0xefc60000u;
        return z ^ (z >> 18);
    }

private:
    static constexpr uint32_t n = 624;
    static constexpr uint32_t m = 397;

    uint32_t state_[n];
    uint32_t index_ = 0;
};

}  // namespace ortolan
