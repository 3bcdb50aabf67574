// derpsalsa (Korepanov, J. Raman Spectrosc. 51 (2020) 2061): psalsa with a Gaussian decay above the
// baseline, p exp(-(d / k)^2 / 2), times a screen that is small where the smoothed data's first or
// second derivative is large, so that the slopes of peaks count as peaks from the start.
#pragma once

#include <cstdint>
#include <span>

#include "reweighter.hpp"

namespace quorvel::whittaker {

struct DerPsalsaWeights {
    double p;
    double k;                          // NaN: a tenth of the standard deviation of the used data
    std::uint64_t smooth_half_window;  // 0: the length / 200
    std::uint64_t num_smooths;
};

struct DerPsalsaRun {
    double p, k;
    std::span<const double> screen;
    static constexpr bool reference_loop = true;
};

DerPsalsaRun start(const DerPsalsaWeights& rule, std::span<const double> y, Mask mask, WhittakerWorkspace& workspace);

double update_masked(const DerPsalsaRun& rule, std::span<const double> y, std::span<const double> baseline,
                     std::span<double> weights, std::size_t iteration, Mask mask = {});

// exp(-(d1^2 / mean d1^2 + d2^2 / mean d2^2) / 2) of the derivatives d1, d2 of `smooth`, into `screen`.
void derivative_screen(std::span<const double> smooth, std::span<double> screen);

// y padded by h on each side along least-squares lines through its first and last h samples, then
// `times` moving averages with a mollifier window of 2h + 1 (each padded by reflection), unpadded.
void mollify(std::span<const double> y, std::size_t h, std::uint64_t times, std::span<double> out);

}  // namespace quorvel::whittaker
