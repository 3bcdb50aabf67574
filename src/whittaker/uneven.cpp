#include "uneven.hpp"

#include <cmath>

#include "core/abscissa.hpp"
#include "core/numeric.hpp"

namespace quorvel::whittaker {

bool evenly_spaced(std::span<const double> x) {
    const std::size_t n = x.size();
    if (n < 3) return true;
    const double mean = (x[n - 1] - x[0]) / static_cast<double>(n - 1), allowed = even_step_tolerance * std::fabs(mean);
    for (std::size_t i = 1; i < n; ++i) {
        if (!(std::fabs((x[i] - x[i - 1]) - mean) <= allowed)) return false;
    }
    return true;
}

Status unit_step_positions(std::span<const double> x, std::vector<double>& t, const char* name) {
    const std::size_t n = x.size();
    t.resize(n);
    const double per_step = static_cast<double>(n - 1) / (x[n - 1] - x[0]);
    for (std::size_t i = 0; i < n; ++i) t[i] = (x[i] - x[0]) * per_step;
    for (std::size_t i = 1; i < n; ++i) {
        if (!(t[i] > t[i - 1]) || is_non_finite(t[i])) {
            return InvalidParameter{name, "must have steps that stay apart in units of their mean"};
        }
    }
    return ok;
}

Status prepare_uneven(UnevenPenalties& uneven, std::span<const double> x, std::size_t n, unsigned order,
                      double lambda) {
    uneven.active = false;
    if (x.empty()) return ok;
    const auto abscissa = mapped_abscissa(x, n);
    if (!abscissa) return abscissa.error();
    if (evenly_spaced(x)) return ok;
    if (auto positions = unit_step_positions(x, uneven.t); !positions) return positions;
    uneven.mapped = abscissa.value();
    if (!uneven.penalty.assign(uneven.t, order, lambda) || !uneven.first.assign(uneven.t, 1, 1.0)) {
        return InvalidParameter{"x", "must not have steps so unequal that the penalty overflows"};
    }
    uneven.active = true;
    return ok;
}

}  // namespace quorvel::whittaker
