// The P-spline family on spectra: Eilers & Marx's penalised B-splines reweighted by a Whittaker method's rule.
#pragma once

#include <span>
#include <vector>

#include "core/grid.hpp"
#include "fit.hpp"
#include "whittaker/brpls.hpp"

namespace quorvel::dispatch {

// BrPLS' two loops over a spline of spectra or grids, `solve(z)` writing into z the spline through `weights`; the
// weights reach `details` with the report.
template <class Solve>
Result<FitReport> brpls_over_spline(std::span<const double> y, Mask mask, const PsplineRecord& r,
                                    std::vector<double>& weights, std::span<double> baseline,
                                    std::vector<double>& state, Details* details, Solve solve) {
    const whittaker::BrPlsWeights rule{r.max_iter_2, r.tol_2};
    if (auto valid = whittaker::check_rule(rule); !valid) return valid.error();
    const whittaker::BrPlsLoops loops{r.max_iter, r.tol, details ? &details->history : nullptr,
                                      details ? &details->outer_iterations : nullptr};
    auto report = whittaker::brpls_loops(y, mask, rule, loops, weights, baseline, state,
                                         [&](std::span<const double>, std::span<double> z) { return solve(z); });
    if (report && details) details->weights = weights;
    return report;
}

// pspline_mpls' spline: the record's with a single solve.
pspline::PsplineParams mpls_spline_params(const PsplineRecord& r);

// pspline_mpls' checks and the weights of its one solve into ws.weights: mpls' anchors of y's opening (y with the
// masked-out samples bridged), 0 at the masked-out samples. Returns the half window it opened y with.
Result<std::uint64_t> mpls_spline_weights(std::span<const double> y, Mask mask, const Options& options,
                                          std::size_t baseline_len, pspline::PsplineWorkspace& ws,
                                          morphology::MplsWorkspace& anchored);

Result<FitReport> pspline_into(std::span<const double> y, Mask mask, const Options& options,
                               std::span<double> baseline, Scratch& scratch, Details* details);

// Its grid form: the tensor-product spline reweighted by each rule's grid form.
Result<FitReport> pspline_2d_into(const two_d::Grid& grid, Mask mask, const Options& options,
                                  const two_d::GridOut& out, Scratch& scratch, Details* details);

}  // namespace quorvel::dispatch
