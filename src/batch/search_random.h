// The random stream of one search tree: Dirichlet noise at its root and the seeds of its
// rollouts. Each tree draws from its own stream, derived from the search's seed and the tree's
// index, so a tree's draws do not depend on which thread runs it or on the other trees.
#pragma once

#include <cstdint>

namespace ortolan {

class TreeRandom {
public:
    TreeRandom() = default;
    TreeRandom(uint64_t seed, uint64_t stream);

    // xoshiro256**: small state, fast, and the same numbers with every compiler and library.
    uint64_t next() {
        const uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }
    uint32_t next32() { return static_cast<uint32_t>(next() >> 32); }
    // Uniform in [0, 1) with 53 random bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double normal();
    // Gamma(shape, 1) for shape > 0.
    double gamma(double shape);
    // Fills out[0..count) with one draw of the symmetric Dirichlet distribution of parameter
    // alpha; the values add up to 1.
    void dirichlet(double alpha, float* out, int32_t count);

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    uint64_t state_[4] = {1, 2, 3, 4};
};

}  // namespace ortolan
