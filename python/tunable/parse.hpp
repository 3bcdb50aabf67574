// The arguments of the tunable functions: arrays, a method of the catalogue and its parameters,
// which cross as a dict and are decoded into one record per family. The package checks every
// value first; what arrives here is still read defensively.
#pragma once

#include "../binding/python.hpp"

#include <cstdint>
#include <optional>

#include "dispatch/options.hpp"

namespace quorvel::binding::tunable {

// The arrays of a call and what it asks for.
struct Call {
    PyObject* values;  // float64 ndarray
    PyObject* mask;    // bool ndarray or None
    PyObject* x;       // float64 ndarray of the sample positions, or None
    int want;          // 0 baseline, 1 corrected, 2 everything
};

// (values, mask, x, method, params, want), params a dict by parameter name or None for the defaults;
// for the grid block function followed by rows and cols, which go to `shape`.
std::optional<dispatch::Options> parse_call(PyObject* args, int ndim, Call& call, std::uint64_t* shape);

// Points options.x at the call's x, which must be None or a C-contiguous float64 array of n values
// that the package keeps private for the call; grids take None.
bool read_x(const Call& call, int ndim, std::uint64_t n, dispatch::Options& options);

}  // namespace quorvel::binding::tunable
