#include "fft.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace quorvel::linalg {

namespace {

// Blocks of a few kernel lengths keep each transform in cache; one block when the signal is short.
std::size_t block_size(std::size_t taps, std::size_t longest) {
    const std::size_t block = std::max<std::size_t>(4 * taps, 4096);
    std::size_t size = 1;
    while (size < std::min(longest + taps, block)) size *= 2;
    return size;
}

}  // namespace

bool transform_pays(std::size_t taps, std::size_t length, double tap_cost) {
    if (taps > length) return false;
    const std::size_t size = block_size(taps, length), step = size - taps + 1;
    const std::size_t pairs = ((length - taps + 1 + step - 1) / step + 1) / 2;
    const double transforms = static_cast<double>(pairs * size) * std::log2(static_cast<double>(size));
    return transforms < tap_cost * static_cast<double>(length) * static_cast<double>(taps);
}

FftConvolver::FftConvolver(std::span<const double> kernel, std::size_t longest, std::uint64_t power)
    : size_(block_size(power * (kernel.size() - 1) + 1, longest)), kernel_size_(power * (kernel.size() - 1) + 1) {
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
    // without wrapping round (overlap-save). The kernel is real, so two blocks share one transform: one as the
    // real part, the other as the imaginary part, each coming back in its own part.
    const std::size_t step = size_ - kernel_size_ + 1;
    const auto block = [&](std::size_t start) {
        return start < out.size() ? signal.subspan(start, std::min(size_, signal.size() - start))
                                  : std::span<const double>{};
    };
    const auto outputs = [&](std::size_t start) {
        return start < out.size() ? out.subspan(start, std::min(step, out.size() - start)) : std::span<double>{};
    };
    for (std::size_t start = 0; start < out.size(); start += 2 * step) {
        valid_blocks(block(start), outputs(start), block(start + step), outputs(start + step));
    }
}

void FftConvolver::valid_blocks(std::span<const double> first, std::span<double> first_out,
                                std::span<const double> second, std::span<double> second_out) {
    std::copy(first.begin(), first.end(), re_.begin());
    std::fill(re_.begin() + static_cast<std::ptrdiff_t>(first.size()), re_.end(), 0.0);
    std::copy(second.begin(), second.end(), im_.begin());
    std::fill(im_.begin() + static_cast<std::ptrdiff_t>(second.size()), im_.end(), 0.0);
    transform(re_, im_);
    // The product with the kernel's transform, conjugated: the inverse transform is the forward one of
    // the conjugate, conjugated back.
    for (std::size_t k = 0; k < size_; ++k) {
        const double a = re_[k], b = im_[k], c = kernel_re_[k], d = kernel_im_[k];
        re_[k] = a * c - b * d;
        im_[k] = -(a * d + b * c);
    }
    transform(re_, im_);
    const double scale = 1.0 / static_cast<double>(size_);
    for (std::size_t j = 0; j < first_out.size(); ++j) first_out[j] = re_[j + kernel_size_ - 1] * scale;
    for (std::size_t j = 0; j < second_out.size(); ++j) second_out[j] = -im_[j + kernel_size_ - 1] * scale;
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
