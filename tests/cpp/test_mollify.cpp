// The sums of symmetric kernels (mollifier, Gaussian): every instruction set gives the one-output-at-a-time bits,
// and the mollifier's transform for long kernels the same values.
#include <random>

#include "linalg/mollifier.hpp"
#include "support.hpp"

namespace quorvel {
namespace {

template <linalg::TapOrder order>
void expect_packed_bits_of_single_outputs() {
    std::mt19937_64 rng(5);
    for (const std::size_t half : {1u, 2u, 7u, 40u}) {
        for (const std::size_t count : {1u, 7u, 16u, 37u, 300u}) {
            const support::V mirrored = support::uniform(rng, count + 2 * half, -3.0, 9.0);
            support::V kernel = support::uniform(rng, 2 * half + 1, 0.0, 1.0);
            if (order == linalg::TapOrder::ends_in) kernel.front() = kernel.back() = 0.0;
            for (std::size_t k = 0; k < half; ++k) kernel[2 * half - k] = kernel[k];
            support::V packed(count), single(count);
            linalg::symmetric_sums<order>()(mirrored.data(), kernel.data(), half, packed.data(), count);
            linalg::symmetric_sums_in_strips<order, 1, 1>(mirrored.data(), kernel.data(), half, single.data(), count);
            EXPECT_TRUE(support::same_bits(packed, single)) << "half " << half << " count " << count;
        }
    }
}

TEST(Mollify, packed_sums_have_the_bits_of_single_outputs) {
    expect_packed_bits_of_single_outputs<linalg::TapOrder::ends_in>();
    expect_packed_bits_of_single_outputs<linalg::TapOrder::centre_out>();
}

// Either side of the switch to the transform, the mollifier gives the direct sums over the mirrored data.
TEST(Mollify, transform_and_direct_sums_agree_across_the_switch) {
    std::mt19937_64 rng(6);
    for (const std::size_t n : {40u, 1000u, 30000u}) {
        const support::V x = support::uniform(rng, n, -3.0, 9.0);
        for (const std::size_t half : {2u, 60u, 150u, 400u}) {
            if (half >= n) continue;
            const support::V kernel = linalg::mollifier(half);
            support::V got(n);
            linalg::Mollifier(half, n)(x, got);
            for (std::size_t i = 0; i < n; ++i) {
                double expected = 0.0;
                for (std::size_t k = 0; k <= 2 * half; ++k) {
                    const auto at = static_cast<std::ptrdiff_t>(i + k) - static_cast<std::ptrdiff_t>(half);
                    const auto last = static_cast<std::ptrdiff_t>(n) - 1;
                    expected += kernel[k] * x[static_cast<std::size_t>(at < 0 ? -at : at > last ? 2 * last - at : at)];
                }
                ASSERT_NEAR(got[i], expected, 1e-13) << "n " << n << " half " << half << " at " << i;
            }
        }
    }
}

}  // namespace
}  // namespace quorvel
