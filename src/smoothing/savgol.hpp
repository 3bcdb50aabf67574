// Savitzky-Golay smoothing by a quadratic (Savitzky & Golay, Anal. Chem. 36 (1964) 1627): the least-squares
// parabola through 2h + 1 samples evaluated at the middle one, a fixed symmetric kernel. Directly for kernels up
// to 65 taps, through the FFT beyond.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "linalg/fft.hpp"

namespace quorvel::smoothing {

class QuadraticSmoother {
public:
    // For inputs of `length` samples.
    QuadraticSmoother(std::size_t half_window, std::size_t length);

    // out = the smooth of x (length samples), x's end samples repeated past its ends.
    void smooth_nearest(std::span<const double> x, std::span<double> out);

private:
    std::size_t half_;
    std::vector<double> kernel_, extended_;
    std::unique_ptr<linalg::FftConvolver> fft_;
};

}  // namespace quorvel::smoothing
