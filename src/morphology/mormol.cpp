#include "mormol.hpp"

#include <algorithm>
#include <optional>

#include "averaged_opening.hpp"
#include "extrema.hpp"
#include "mollify.hpp"
#include "core/extrapolated.hpp"

namespace quorvel::morphology {

Result<FitReport> mormol_into(std::span<const double> y, std::uint64_t half_window, std::uint64_t smooth_half_window,
                              ImorParams params, std::span<double> baseline, std::vector<double>* history) {
    if (auto valid = check_iterated(y, half_window, params, baseline); !valid) return valid.error();
    const std::size_t width = 2 * half_window + 1;
    const std::vector<double> padded = pad_extrapolated(y, width, EdgeLine::Local);
    Mollifier mollify(width, padded.size());
    // A mollifier of one sample each side is the identity.
    std::optional<Mollifier> smooth;
    if (smooth_half_window > 1) smooth.emplace(smooth_half_window, padded.size());
    std::vector<double> residual(padded.size()), smoothed(padded.size());
    return iterate_extended(std::vector<double>(padded.size(), 0.0), width, params, baseline, history,
                            [&](auto current, auto next) {
        for (std::size_t i = 0; i < padded.size(); ++i) residual[i] = padded[i] - current[i];
        if (smooth) {
            (*smooth)(residual, smoothed);
            residual.swap(smoothed);
        }
        moving_min_reflect(residual, half_window, smoothed);
        mollify(smoothed, next);
        for (std::size_t i = 0; i < padded.size(); ++i) next[i] = current[i] + next[i];
    });
}

}  // namespace quorvel::morphology
