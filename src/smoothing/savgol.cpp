#include "savgol.hpp"

#include <algorithm>

#include "gaussian.hpp"

namespace quorvel::smoothing {
namespace {

constexpr std::size_t longest_direct = 65;

}  // namespace

// The weights 3 (3h² + 3h - 1 - 5j²) / ((2h - 1)(2h + 1)(2h + 3)) of the closed form.
QuadraticSmoother::QuadraticSmoother(std::size_t half_window, std::size_t length)
    : half_(half_window), kernel_(2 * half_window + 1), extended_(length + 2 * half_window) {
    const auto h = static_cast<double>(half_window);
    const double denominator = (2.0 * h - 1.0) * (2.0 * h + 1.0) * (2.0 * h + 3.0);
    for (std::size_t i = 0; i < kernel_.size(); ++i) {
        const double j = static_cast<double>(i) - h;
        kernel_[i] = 3.0 * (3.0 * h * h + 3.0 * h - 1.0 - 5.0 * j * j) / denominator;
    }
    if (kernel_.size() > longest_direct) fft_ = std::make_unique<linalg::FftConvolver>(kernel_, extended_.size());
}

void QuadraticSmoother::smooth_nearest(std::span<const double> x, std::span<double> out) {
    const std::size_t n = x.size();
    std::fill_n(extended_.begin(), half_, x[0]);
    std::copy(x.begin(), x.end(), extended_.begin() + static_cast<std::ptrdiff_t>(half_));
    std::fill_n(extended_.begin() + static_cast<std::ptrdiff_t>(half_ + n), half_, x[n - 1]);
    if (fft_) {
        fft_->valid(extended_, out);
        return;
    }
    convolve_symmetric(extended_, kernel_, out);
}

}  // namespace quorvel::smoothing
