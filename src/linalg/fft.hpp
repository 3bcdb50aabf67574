// Linear convolution of real sequences through a radix-2 fast Fourier transform: what moving averages
// with windows of hundreds of samples cost in O(n log n) instead of O(n w).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::linalg {

// Convolves signals of any length, in blocks of at most `longest` samples plus the kernel, with one fixed
// kernel, reusing the kernel's transform; with
// `power` p, the kernel convolved with itself p times (its transform raised to the p-th power), whose
// length is p (size - 1) + 1.
// Whether convolving a signal of `length` samples with a kernel of `taps` through FftConvolver beats direct
// sums costing about `tap_cost` transform steps per output and tap (a transform of size s costs about s log2 s
// steps).
bool transform_pays(std::size_t taps, std::size_t length, double tap_cost);

class FftConvolver {
public:
    FftConvolver(std::span<const double> kernel, std::size_t longest, std::uint64_t power = 1);

    // out[j] = sum_m kernel[m] signal[j + m] for j = 0 .. signal.size() - kernel.size() (the 'valid'
    // part of the convolution with the kernel reversed; the same for a symmetric kernel).
    void valid(std::span<const double> signal, std::span<double> out);

private:
    // Two blocks of at most size_ samples each (the second may be empty), each with at most
    // size_ - kernel_size_ + 1 outputs.
    void valid_blocks(std::span<const double> first, std::span<double> first_out, std::span<const double> second,
                      std::span<double> second_out);

    // The forward transform in place, real and imaginary parts apart so that the butterflies vectorise.
    void transform(std::vector<double>& re, std::vector<double>& im) const;

    std::size_t size_, kernel_size_;
    std::vector<double> root_re_, root_im_;  // the roots of each stage in turn: span / 2 of them for span 2, 4, ...
    std::vector<double> kernel_re_, kernel_im_, re_, im_;
};

}  // namespace quorvel::linalg
