// Fits with caller-chosen parameters and an optional sample mask, in one and two dimensions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/fit_report.hpp"
#include "core/mask.hpp"
#include "options.hpp"
#include "clipping/corner_cutting.hpp"
#include "clipping/interp_pts.hpp"
#include "clipping/rubberband.hpp"
#include "clipping/snip.hpp"
#include "morphology/jbcd.hpp"
#include "morphology/mpls.hpp"
#include "smoothing/ipsa.hpp"
#include "smoothing/noise_median.hpp"
#include "smoothing/peak_filling.hpp"
#include "whittaker/two_d/preconditioned_system.hpp"

namespace quorvel::dispatch {

// What the reweighted methods leave besides the baseline; empty for the others.
struct Details {
    std::vector<double> history;  // the stop measure of every iteration
    std::vector<double> weights;  // the weights of the last reweighting
    std::uint64_t outer_iterations = 0;  // of the two-loop rules; 0 for the others
    std::array<std::uint64_t, 2> half_window{};  // the window the data decided (per axis), or zeros
};

// Scratch reused from one fit to the next.
struct Scratch {
    std::vector<double> stand_in;  // the data with placeholders at masked-out samples
    WhittakerWorkspace whittaker;
    two_d::whittaker::Whittaker2DWorkspace whittaker_2d;
    two_d::whittaker::PreconditionedWorkspace multigrid;
    clipping::SnipWorkspace snip;
    clipping::RubberbandWorkspace rubberband;
    smoothing::NoiseMedianWorkspace noise_median;
    polynomial::FitWorkspace polynomial;
    polynomial::LoessWorkspace loess;
    smoothing::PeakFillingWorkspace peak_filling;
    clipping::CornerCuttingWorkspace corner_cutting;
    clipping::InterpPtsWorkspace interp_pts;
    smoothing::IpsaWorkspace ipsa;
    smoothing::RiaWorkspace ria;
    smoothing::SwimaWorkspace swima;
    pspline::PsplineWorkspace pspline;
    pspline::two_d::GridPsplineWorkspace pspline_2d;
    morphology::MplsWorkspace mpls;
    morphology::JbcdWorkspace jbcd;
};

// The baseline of y into `baseline` (y's length). With an empty mask every result is exactly the
// fixed-default dispatch's when the options hold its defaults.
Result<FitReport> fit_1d_into(std::span<const double> y, Mask mask, const Options& options,
                              std::span<double> baseline, Scratch& scratch, Details* details);
// The checks of a grid before any fit: its shape, the data's length, then the first non-finite value.
Status validate_grid(std::span<const double> data, std::uint64_t rows, std::uint64_t cols);

Result<FitReport> fit_2d_into(std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask,
                              const Options& options, std::span<double> baseline, Scratch& scratch,
                              Details* details);

// The lowest-indexed failing item of a block and its error.
struct ItemFailure {
    std::size_t index;
    BaselineError error;
};

// Item k of `count` is values[k n, (k + 1) n) (an image of rows x cols when n = rows * cols), its
// mask masks[k n, (k + 1) n) unless masks is empty; its baseline or corrected values go to the
// same place of `out`, and its report to reports[k] unless reports is empty. Stops early only where
// that cannot hide a lower-indexed failure.
std::optional<ItemFailure> fit_1d_many(std::span<const double> values, std::size_t count, std::size_t n,
                                       Mask masks, const Options& options, Output output, std::span<double> out,
                                       std::span<FitReport> reports = {});
std::optional<ItemFailure> fit_2d_many(std::span<const double> values, std::size_t count, std::uint64_t rows,
                                       std::uint64_t cols, Mask masks, const Options& options, Output output,
                                       std::span<double> out, std::span<FitReport> reports = {});

}  // namespace quorvel::dispatch
