// Positional arguments of the tunable functions, already checked in Python, read defensively.
#pragma once

#include "../binding/python.hpp"

#include <optional>

#include "tunable/options.hpp"

namespace quorvel::binding::tunable {

// The arrays of a call and what it asks for.
struct Call {
    PyObject* values;     // float64 ndarray
    PyObject* mask;       // bool ndarray or None
    int want;             // 0 baseline, 1 corrected, 2 everything
};

// fit_1d(y, mask, method, lam, p, max_iter, tol, stop, window_size, order, want), and the same
// with a block of spectra for fit_1d_many.
std::optional<quorvel::tunable::Options1D> parse_1d(PyObject* args, Call& call);
// fit_2d(data, mask, method, lam_rows, lam_cols, p, max_iter, tol, cg_max_iter, cg_tol, multigrid,
//        window_rows, window_cols, order, want), and for fit_2d_many a block of flattened images
// followed by rows and cols.
std::optional<quorvel::tunable::Options2D> parse_2d(PyObject* args, Call& call, std::uint64_t* shape);

}  // namespace quorvel::binding::tunable
