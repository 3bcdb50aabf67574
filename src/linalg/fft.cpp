#include "fft.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace quorvel::linalg {

FftConvolver::FftConvolver(std::span<const double> kernel, std::size_t longest, std::uint64_t power)
    : size_(1), kernel_size_(power * (kernel.size() - 1) + 1) {
    // Blocks of a few kernel lengths keep each transform in cache; one block when the signal is short.
    const std::size_t block = std::max<std::size_t>(4 * kernel_size_, 4096);
    while (size_ < std::min(longest + kernel_size_, block)) size_ *= 2;
    for (std::size_t span = 2; span <= size_; span *= 2) {
        for (std::size_t k = 0; k < span / 2; ++k) {
            const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(span);
            root_re_.push_back(std::cos(angle));
            root_im_.push_back(std::sin(angle));
        }
    }
    // The kernel reversed, so that the product of transforms gives the correlation `valid` promises (the
    // power of the reversed kernel is the reversed power).
    kernel_re_.assign(size_, 0.0);
    kernel_im_.assign(size_, 0.0);
    for (std::size_t m = 0; m < kernel.size(); ++m) kernel_re_[kernel.size() - 1 - m] = kernel[m];
    transform(kernel_re_, kernel_im_);
    std::vector<double> base_re(kernel_re_), base_im(kernel_im_);
    for (std::uint64_t p = 1; p < power; ++p) {
        for (std::size_t k = 0; k < size_; ++k) {
            const double a = kernel_re_[k], b = kernel_im_[k], c = base_re[k], d = base_im[k];
            kernel_re_[k] = a * c - b * d;
            kernel_im_[k] = a * d + b * c;
        }
    }
    re_.resize(size_);
    im_.resize(size_);
}

void FftConvolver::valid(std::span<const double> signal, std::span<double> out) {
    // Each block of size_ samples gives the size_ - kernel_size_ + 1 outputs its circular correlation has
    // without wrapping round (overlap-save).
    const std::size_t step = size_ - kernel_size_ + 1;
    for (std::size_t start = 0; start < out.size(); start += step) {
        const auto block = signal.subspan(start, std::min(size_, signal.size() - start));
        valid_block(block, out.subspan(start, std::min(step, out.size() - start)));
    }
}

void FftConvolver::valid_block(std::span<const double> signal, std::span<double> out) {
    std::fill(re_.begin(), re_.end(), 0.0);
    std::fill(im_.begin(), im_.end(), 0.0);
    std::copy(signal.begin(), signal.end(), re_.begin());
    transform(re_, im_);
    // The product with the kernel's transform, conjugated: the inverse transform is the forward one of
    // the conjugate, conjugated back (its real part needs no second conjugation).
    for (std::size_t k = 0; k < size_; ++k) {
        const double a = re_[k], b = im_[k], c = kernel_re_[k], d = kernel_im_[k];
        re_[k] = a * c - b * d;
        im_[k] = -(a * d + b * c);
    }
    transform(re_, im_);
    const double scale = 1.0 / static_cast<double>(size_);
    for (std::size_t j = 0; j < out.size(); ++j) out[j] = re_[j + kernel_size_ - 1] * scale;
}

// Iterative, in place: the bit-reversal permutation, then butterflies of growing span.
void FftConvolver::transform(std::vector<double>& re, std::vector<double>& im) const {
    const std::size_t n = size_;
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    }
    const double* root_re = root_re_.data();
    const double* root_im = root_im_.data();
    for (std::size_t span = 2; span <= n; span *= 2) {
        const std::size_t half = span / 2;
        for (std::size_t start = 0; start < n; start += span) {
            double* a_re = re.data() + start;
            double* a_im = im.data() + start;
            double* b_re = a_re + half;
            double* b_im = a_im + half;
            for (std::size_t k = 0; k < half; ++k) {
                const double t_re = b_re[k] * root_re[k] - b_im[k] * root_im[k];
                const double t_im = b_re[k] * root_im[k] + b_im[k] * root_re[k];
                b_re[k] = a_re[k] - t_re;
                b_im[k] = a_im[k] - t_im;
                a_re[k] = a_re[k] + t_re;
                a_im[k] = a_im[k] + t_im;
            }
        }
        root_re += half, root_im += half;
    }
}

}  // namespace quorvel::linalg
