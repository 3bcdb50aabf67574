// amormol's mollifier sums: the kernels of every instruction set give the one-output-at-a-time bits.
#include <random>

#include "morphology/mollify.hpp"
#include "support.hpp"

namespace quorvel {
namespace {

TEST(Mollify, packed_sums_have_the_bits_of_single_outputs) {
    std::mt19937_64 rng(5);
    for (const std::size_t half : {1u, 2u, 7u, 40u}) {
        for (const std::size_t count : {1u, 7u, 16u, 37u, 300u}) {
            const support::V mirrored = support::uniform(rng, count + 2 * half, -3.0, 9.0);
            support::V kernel = support::uniform(rng, 2 * half + 1, 0.0, 1.0);
            kernel.front() = kernel.back() = 0.0;
            for (std::size_t k = 0; k < half; ++k) kernel[2 * half - k] = kernel[k];
            support::V packed(count), single(count);
            morphology::mollify_sums()(mirrored.data(), kernel.data(), half, packed.data(), count);
            morphology::mollify_in_strips<1, 1>(mirrored.data(), kernel.data(), half, single.data(), count);
            EXPECT_TRUE(support::same_bits(packed, single)) << "half " << half << " count " << count;
        }
    }
}

}  // namespace
}  // namespace quorvel
