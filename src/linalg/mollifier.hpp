// The mollifier (used by amormol and mormol, Chen et al., Appl. Spectrosc. 73 (2019) 284, and by derpsalsa's
// smoothing), summed from its ends in.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "fft.hpp"
#include "symmetric_sums.hpp"

namespace quorvel::linalg {

// exp(-1 / (1 - x²)) at x = j / h for j = -h ... h (zero at both ends), summing to one.
std::vector<double> mollifier(std::size_t h);

// The mollifier of half width h over x mirrored about its end samples (d c b | a b c d | c b a), into out, for
// inputs of one length: direct sums for short kernels, a transform for long ones, whose cost does not grow with
// the kernel.
class Mollifier {
public:
    Mollifier(std::size_t h, std::size_t length);
    void operator()(std::span<const double> x, std::span<double> out);

private:
    std::vector<double> kernel_, mirrored_;
    SymmetricSums sums_;
    std::optional<FftConvolver> fft_;
};

}  // namespace quorvel::linalg
