#include "batch/search_random.h"

#include <cmath>

#include "batch/splitmix.h"

namespace ortolan {

TreeRandom::TreeRandom(uint64_t seed, uint64_t stream) {
    // The stream index is mixed in before the state is drawn, so neighbouring trees start from
    // unrelated states.
    uint64_t x = seed;
    uint64_t mixed = splitmix64(x) ^ (stream * 0xD1B54A32D192ED03ULL);
    for (uint64_t& word : state_) word = splitmix64(mixed);
}

// Marsaglia's polar method; the second value of each pair is dropped so that a draw depends on
// nothing but the stream's position.
double TreeRandom::normal() {
    for (;;) {
        const double u = 2.0 * uniform() - 1.0;
        const double v = 2.0 * uniform() - 1.0;
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) return u * std::sqrt(-2.0 * std::log(s) / s);
    }
}

// Marsaglia and Tsang's method; a shape below 1 is boosted by one and scaled back with a
// uniform power.
double TreeRandom::gamma(double shape) {
    if (shape < 1.0) {
        const double boosted = gamma(shape + 1.0);
        double u = uniform();
        while (u == 0.0) u = uniform();
        return boosted * std::pow(u, 1.0 / shape);
    }
    const double d = shape - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
        double x, v;
        do {
            x = normal();
            v = 1.0 + c * x;
        } while (v <= 0.0);
        v = v * v * v;
        const double u = uniform();
        if (u < 1.0 - 0.0331 * x * x * x * x) return d * v;
        if (u > 0.0 && std::log(u) < 0.5 * x * x + d * (1.0 - v + std::log(v))) return d * v;
    }
}

void TreeRandom::dirichlet(double alpha, float* out, int32_t count) {
    double total = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double draw = gamma(alpha);
        out[i] = static_cast<float>(draw);
        total += draw;
    }
    // All draws can underflow to zero for a tiny alpha: the mass then goes to one entry.
    if (!(total > 0.0)) {
        for (int32_t i = 0; i < count; ++i) out[i] = 0.0f;
        out[next() % static_cast<uint64_t>(count)] = 1.0f;
        return;
    }
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<float>(out[i] / total);
}

}  // namespace ortolan
