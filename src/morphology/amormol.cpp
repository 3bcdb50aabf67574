#include "amormol.hpp"

#include <algorithm>
#include <cmath>

#include "averaged_opening.hpp"
#include "extrema.hpp"
#include "mollify.hpp"
#include "core/extrapolated.hpp"

namespace quorvel::morphology {

Result<FitReport> amormol_into(std::span<const double> y, std::uint64_t half_window, ImorParams params,
                               std::span<double> baseline, std::vector<double>* history) {
    if (auto valid = check_iterated(y, half_window, params, baseline); !valid) return valid.error();
    const std::size_t width = 2 * half_window + 1;
    const std::vector<double> padded = pad_extrapolated(y, width, EdgeLine::Local);
    Mollifier mollify(width, padded.size());
    std::vector<double> opened(padded.size()), closed(padded.size()), scratch(padded.size());
    return iterate_extended(padded, width, params, baseline, history, [&](auto current, auto next) {
        moving_min_reflect(current, half_window, scratch);
        moving_max_reflect(scratch, half_window, opened);
        moving_max_reflect(current, half_window, scratch);
        moving_min_reflect(scratch, half_window, closed);
        for (std::size_t i = 0; i < padded.size(); ++i) {
            scratch[i] = std::min(padded[i], 0.5 * (closed[i] + opened[i]));
        }
        mollify(scratch, next);
    });
}

}  // namespace quorvel::morphology
