// The 32-bit Mersenne Twister MT19937 with its standard seeding and output tempering: the
// same outputs as std::mt19937 for the same seed. Each state word is twisted just before its
// first use instead of all 624 at once, so a short run of draws twists only as many words as
// it takes, and the twist has no branch on the low bit.
#pragma once

#include <cstdint>

namespace ortolan {

class Twister {
   public:
    explicit Twister(uint32_t seed) {
        state_[0] = seed;
        for (uint32_t i = 1; i < size; ++i)
            state_[i] = 1812433253u * (state_[i - 1] ^ (state_[i - 1] >> 30)) + i;
    }

    uint32_t operator()() {
        // Word i takes its top bit from itself, its other bits from word i + 1, and is mixed
        // with word i + 397; words before i (round the ring) are already of the new round.
        const uint32_t i = next_;
        const uint32_t after = i + 1 == size ? 0 : i + 1;
        const uint32_t far = i + shift < size ? i + shift : i + shift - size;
        const uint32_t y = (state_[i] & 0x80000000u) | (state_[after] & 0x7fffffffu);
        uint32_t z = state_[far] ^ (y >> 1) ^ (0x9908b0dfu & (0u - (y & 1u)));
        state_[i] = z;
        next_ = after;
        z ^= z >> 11;
        z ^= (z << 7) & 0x9d2c5680u;
        z ^= (z << 15) & 0xefc60000u;
        z ^= z >> 18;
        return z;
    }

   private:
    static constexpr uint32_t size = 624;
    static constexpr uint32_t shift = 397;
    uint32_t state_[size];
    uint32_t next_ = 0;
};

}  // namespace ortolan
