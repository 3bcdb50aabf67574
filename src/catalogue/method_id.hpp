// Every method of the library, whatever its dimensions, and the families they belong to.
#pragma once

#include <cstdint>

namespace quorvel::catalogue {

// The order of the first five is the order of the fixed-default module's method lists.
enum class MethodId : std::uint8_t {
    Asls, ArPls, AirPls, RollingBall, Polynomial, Tophat,
    Iasls, DrPls, IarPls, AsPls, Psalsa, DerPsalsa, BrPls, LsrPls, Snip, Rubberband, Mor, Imor, Amormol,
    Mormol, NoiseMedian, Poly, Modpoly, Imodpoly, PenalizedPoly, QuantReg, Loess,
    PeakFilling, CornerCutting, Mwmv, InterpPts, Mpls, Jbcd, Ipsa, Ria,
    PsplineAsls, PsplineArPls, PsplineAirPls, PsplineIarPls, PsplinePsalsa, PsplineDerPsalsa, PsplineLsrPls,
    PsplineBrPls, PsplineDrPls, PsplineIasls, PsplineAsPls, Goldindec, Swima, MixtureModel, Irsqr, PsplineMpls,
};

enum class Family : std::uint8_t { Whittaker, Morphology, Polynomial, Clipping, Smoothing, Pspline };

}  // namespace quorvel::catalogue
