// P-spline fits of many spectra of one length, streamed through lanes that share the basis; each spectrum gets
// exactly the bits, iterations and report of its own fit.
#pragma once

#include <cstddef>
#include <span>

#include "options.hpp"
#include "whittaker/lanes/lane_fit.hpp"

namespace quorvel::dispatch {

// Whether fit_spline_lanes serves count spectra of n samples by this method.
bool spline_lanes_serve(const Options& options, std::size_t count, std::size_t n);

// Spectrum k is ys[k n, (k + 1) n) with finite stand-ins at its masked-out samples (masks[k n, (k + 1) n) unless
// masks is empty), for pspline_mpls the lines between used samples that its opening reads; its baseline goes to
// baselines[k n, (k + 1) n) and outcomes[k] receives what its own P-spline fit gives. `path` as for the Whittaker
// lanes; ScalarLoop runs the single fits.
void fit_spline_lanes(std::span<const double> ys, std::size_t n, Mask masks, const Options& options,
                      std::span<double> baselines, std::span<whittaker::ItemOutcome> outcomes,
                      whittaker::LanePath path = whittaker::LanePath::Automatic);

}  // namespace quorvel::dispatch
