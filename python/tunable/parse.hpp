// The arguments of the tunable functions: arrays, a method of the catalogue and its parameters,
// which cross as a dict and are decoded into one record per family. The package checks every
// value first; what arrives here is still read defensively.
#pragma once

#include "../binding/python.hpp"

#include <cstdint>
#include <optional>
#include <span>

#include "dispatch/options.hpp"

namespace quorvel::binding::tunable {

// The arrays of a call and what it asks for.
struct Call {
    PyObject* values;  // float64 ndarray
    PyObject* mask;    // bool ndarray or None
    PyObject* x;       // the sample positions (see read_arrays), or None
    PyObject* params;  // a dict by parameter name, or None
    int want;          // 0 baseline, 1 corrected, 2 everything
};

// (values, mask, x, method, params, want), params a dict by parameter name or None for the defaults;
// for the grid block function followed by rows and cols, which go to `shape`.
std::optional<dispatch::Options> parse_call(PyObject* args, int ndim, Call& call, std::uint64_t* shape);

// Points options.x (and on grids options.z) at the call's sample positions: for spectra None or a
// C-contiguous float64 array of extents[0] values, for grids None or a pair (x, z) of such arrays or
// None, along axis 0 and axis 1. Then points the parameters of one value per sample at theirs: None or a
// C-contiguous float64 array of an item's shape. The package keeps them private for the call.
bool read_arrays(const Call& call, int ndim, const std::uint64_t* extents, dispatch::Options& options);

}  // namespace quorvel::binding::tunable
