// The random stream of a search tree: reproducible per seed and tree, and drawing Gamma and
// Dirichlet variates with the right moments.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "batch/search_random.h"

namespace ortolan {
namespace {

TEST(SearchRandom, EachSeedAndTreeHasItsOwnReproducibleStream) {
    TreeRandom a(42, 0), again(42, 0), next_tree(42, 1), other_seed(43, 0);
    int32_t same = 0, differs_tree = 0, differs_seed = 0;
    for (int32_t i = 0; i < 100; ++i) {
        const uint64_t x = a.next();
        same += x == again.next();
        differs_tree += x != next_tree.next();
        differs_seed += x != other_seed.next();
    }
    EXPECT_EQ(same, 100);
    EXPECT_EQ(differs_tree, 100);
    EXPECT_EQ(differs_seed, 100);
}

// Gamma(k, 1) has mean k and variance k, below and above the shape 1 where the method changes.
TEST(SearchRandom, GammaDrawsHaveTheirMeanAndVariance) {
    for (const double shape : {0.03, 0.3, 1.0, 2.5}) {
        TreeRandom random(7, 3);
        const int32_t n = 200000;
        double sum = 0, squares = 0;
        for (int32_t i = 0; i < n; ++i) {
            const double x = random.gamma(shape);
            ASSERT_GE(x, 0.0);
            sum += x;
            squares += x * x;
        }
        const double mean = sum / n;
        EXPECT_NEAR(mean, shape, 0.02 * std::sqrt(shape) + 0.002) << shape;
        EXPECT_NEAR(squares / n - mean * mean, shape, 0.05 * shape + 0.002) << shape;
    }
}

// A symmetric Dirichlet(alpha) over k entries: each draw adds up to 1, each entry has mean 1/k
// and variance (k - 1) / (k^2 (k alpha + 1)).
TEST(SearchRandom, DirichletDrawsAddUpToOneWithTheRightSpread) {
    TreeRandom random(11, 0);
    const int32_t k = 20, n = 20000;
    const double alpha = 0.3;
    std::vector<float> draw(k);
    std::vector<double> sum(k, 0.0), squares(k, 0.0);
    for (int32_t i = 0; i < n; ++i) {
        random.dirichlet(alpha, draw.data(), k);
        EXPECT_NEAR(std::accumulate(draw.begin(), draw.end(), 0.0), 1.0, 1e-5);
        for (int32_t j = 0; j < k; ++j) {
            sum[j] += draw[j];
            squares[j] += draw[j] * draw[j];
        }
    }
    const double variance = (k - 1.0) / (k * k * (k * alpha + 1.0));
    for (int32_t j = 0; j < k; ++j) {
        const double mean = sum[j] / n;
        EXPECT_NEAR(mean, 1.0 / k, 0.004);
        EXPECT_NEAR(squares[j] / n - mean * mean, variance, 0.15 * variance);
    }
}

}  // namespace
}  // namespace ortolan
