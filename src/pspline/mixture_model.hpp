// The mixture model of de Rooi & Eilers (Chemometr. Intell. Lab. Syst. 117 (2012) 56): the residuals from a penalised
// spline are Gaussian noise around it or peaks spread uniformly over the positive residuals (and, symmetric, over
// the negative ones too); EM alternates the posterior probability of noise, which weighs each sample in the next
// spline, with the mixture's proportions and the noise's deviation.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/mask.hpp"
#include "pspline.hpp"

namespace quorvel::pspline {

struct MixtureParams {
    double p;  // the asymmetric weights of the starting fits, in (0, 1)
    bool symmetric;
};

// The EM of any spline's loop. As the reference library starts it: a fit with weights 1, asymmetric weights p and
// 1 - p, the loop's first fit, and the noise's deviation a fifth of that fit's residuals' standard deviation, half
// the mixture noise and the rest peaks; the measure is the relative change of the weights, the first against the
// asymmetric weights the loop's first fit would give.
struct MixtureEm {
    MixtureParams params;
    std::span<const double> y;
    Mask mask;
    std::array<double, 3> shares{};  // noise, peaks above, peaks below
    double sigma = 0.0;
    std::vector<double> densities{};  // reweight's exps, per sample

    Status check() const;
    // The asymmetric weights of the fit with weights 1.
    void start(std::span<const double> fit, std::span<double> weights) const;
    double reweight(std::span<const double> fit, std::span<double> weights, std::size_t iteration);
};

// The method of the spline's loop on spectra.
struct MixtureWeights : MixtureEm {
    const PsplineParams& spline;
    std::span<double> baseline;

    Status begin(PsplineWorkspace& workspace);
};

}  // namespace quorvel::pspline
