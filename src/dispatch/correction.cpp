#include "correction.hpp"

#include <utility>

#include "core/numeric.hpp"

namespace quorvel::dispatch {

Status subtract_checked(std::span<const double> data, std::span<const double> baseline, Mask mask,
                        std::span<double> corrected, const char* what) {
    if (first_non_finite(baseline)) return InvalidParameter{what, baseline_overflow};
    bool overflows = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        corrected[i] = data[i] - baseline[i];
        overflows |= is_non_finite(corrected[i]) && !is_masked_out(mask, i);
    }
    if (overflows) return InvalidParameter{what, difference_overflow};
    return ok;
}

Result<std::vector<double>> baseline_of(Result<Fit> fit, const char* what) {
    if (!fit) return fit.error();
    std::vector<double> values = std::move(fit).value().baseline;
    if (first_non_finite(values)) return InvalidParameter{what, baseline_overflow};
    return values;
}

Result<std::vector<double>> subtract_baseline(std::span<const double> data, Result<Fit> fit, const char* what) {
    if (!fit) return fit.error();
    std::vector<double> values = std::move(fit).value().baseline;
    // No algorithm of the library returns a baseline of another length; the guard keeps it so.
    if (values.size() != data.size()) return LengthMismatch{what, values.size(), data.size()};
    if (auto done = subtract_checked(data, values, {}, values, what); !done) return done.error();
    return values;
}

}  // namespace quorvel::dispatch
