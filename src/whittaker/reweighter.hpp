// The contract between the Whittaker engine and its weight rules.
#pragma once

#include <concepts>
#include <cstddef>
#include <limits>
#include <span>

#include "core/mask.hpp"
#include "workspace.hpp"

namespace quorvel::whittaker {

using quorvel::Mask;
using quorvel::is_masked_out;

// update_masked overwrites `weights` from the residuals y - baseline and returns the
// relative weight change between the weights it was handed and the ones it wrote.
template <class Rule>
concept Reweighter = requires(const Rule& rule, std::span<const double> values,
                              std::span<double> weights, std::size_t iteration, Mask mask) {
    { update_masked(rule, values, values, weights, iteration, mask) } -> std::same_as<double>;
};

// The loop of the field's reference library, which the rules added after the first three follow so
// that users who move over get its numbers: at most max_iter + 1 solves, convergence once the change
// is strictly below tol, and a rule may end the fit early with the baseline just solved (when the
// residuals leave it nothing to weight by) by returning `exhausted` and leaving the weights alone; that
// fit counts the iterations before it and has not converged.
template <class Rule>
concept ReferenceLoop = Rule::reference_loop;

inline constexpr double exhausted = std::numeric_limits<double>::quiet_NaN();

// Weight 1 for every valid sample, 0 for the masked ones.
inline double set_uniform_weights(std::span<double> weights, Mask mask) {
    return rewrite_weights(weights, [&](std::size_t i) { return is_masked_out(mask, i) ? 0.0 : 1.0; });
}

}  // namespace quorvel::whittaker
