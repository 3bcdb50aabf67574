// Gaussian smoothing, the input reflected about its end samples (SciPy's 'mirror', NumPy's 'reflect'):
// directly, O(s) per output, for short kernels; through the FFT, O(log s) per output, where that costs less.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::smoothing {

// exp(-j² / (2 sigma²)) for j = -s .. s, divided by its sum, into kernel.
void gaussian_kernel(std::size_t s, double sigma, std::vector<double>& kernel);

// out[t] = Σ_j kernel[j] e[t + j] for a symmetric kernel of 2s + 1 taps (e has out.size() + 2s values), each
// pair of taps the same distance from the middle taken together, from the centre out.
void convolve_symmetric(std::span<const double> e, std::span<const double> kernel, std::span<double> out);

// out[t] = Σ_j kernel[j] x[first + t + j - s] for a kernel of 2s + 1 taps, reading x reflected about its ends
// as often as the kernel reaches past them; x is not empty and out is not x. `extended` is scratch.
void convolve_mirror(std::span<const double> x, std::span<const double> kernel, std::size_t first,
                     std::span<double> out, std::vector<double>& extended);

}  // namespace quorvel::smoothing
