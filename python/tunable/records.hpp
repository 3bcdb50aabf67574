// One small decoder per family record: each reads its own parameters from the call's dict and
// keeps the default of any it does not find.
#pragma once

#include "../binding/python.hpp"

#include "dispatch/options.hpp"

namespace quorvel::binding::tunable {

// Each gives false with an exception set when a value has the wrong type.
bool read_whittaker(PyObject* params, dispatch::WhittakerRecord& record);
bool read_window(PyObject* params, dispatch::WindowRecord& record);
bool read_polynomial(PyObject* params, dispatch::PolynomialRecord& record);
bool read_clipping(PyObject* params, dispatch::ClippingRecord& record);
bool read_smoothing(PyObject* params, dispatch::SmoothingRecord& record);
bool read_pspline(PyObject* params, dispatch::PsplineRecord& record);
bool read_grid_solver(PyObject* params, dispatch::GridSolverRecord& record);

}  // namespace quorvel::binding::tunable
