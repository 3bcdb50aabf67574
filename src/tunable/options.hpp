// Every parameter of every method, chosen by the caller instead of fixed at dispatch.
#pragma once

#include <cstdint>

#include "../simple/method.hpp"
#include "../two_d/whittaker.hpp"
#include "../whittaker/engine.hpp"

namespace quorvel::tunable {

// Each method reads only its own fields.
struct Options1D {
    simple::Method method;
    whittaker::WhittakerParams whittaker;  // asls, arpls, airpls
    double p;                              // asls
    whittaker::StopRule stop;              // airpls
    std::uint64_t window_size;             // rolling_ball
    std::uint64_t order;                   // polynomial
};

struct Options2D {
    simple::Method2D method;
    two_d::whittaker::Whittaker2DParams whittaker;  // asls, arpls
    two_d::whittaker::GridSolver solver;            // asls, arpls
    double p;                                       // asls
    std::uint64_t window_rows, window_cols;         // rolling_ball
    std::uint64_t order;                            // polynomial
};

enum class Output : std::uint8_t { Baseline, Corrected };

}  // namespace quorvel::tunable
