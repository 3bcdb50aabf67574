#include "records.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::binding::tunable {
namespace {

// The value of `name` in the dict, borrowed, or null when it is absent or None (the default).
PyObject* item(PyObject* params, const char* name) {
    PyObject* value = params == Py_None ? nullptr : PyDict_GetItemString(params, name);
    return value == Py_None ? nullptr : value;
}

bool read(PyObject* value, double& out) {
    const double number = PyFloat_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) return false;
    out = number;
    return true;
}

bool read(PyObject* value, std::uint64_t& out) {
    if (!PyLong_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "an integer parameter must be an int");
        return false;
    }
    const unsigned long long number = PyLong_AsUnsignedLongLong(value);
    if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = number;
    return true;
}

bool read(PyObject* value, bool& out) {
    if (!PyBool_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "a flag parameter must be a bool");
        return false;
    }
    out = value == Py_True;
    return true;
}

template <class T>
bool read_scalar(PyObject* params, const char* name, T& out) {
    PyObject* value = item(params, name);
    return !value || read(value, out);
}

// One value for both axes, or a pair (axis 0, axis 1).
template <class T>
bool read_per_axis(PyObject* params, const char* name, std::array<T, 2>& out) {
    PyObject* value = item(params, name);
    if (!value) return true;
    if (!PyTuple_Check(value)) {
        if (!read(value, out[0])) return false;
        out[1] = out[0];
        return true;
    }
    if (PyTuple_Size(value) != 2) {
        PyErr_Format(PyExc_TypeError, "%s must be one value or a pair", name);
        return false;
    }
    return read(PyTuple_GetItem(value, 0), out[0]) && read(PyTuple_GetItem(value, 1), out[1]);
}

// The text of a str, or nothing (with an exception set only when the str cannot be encoded).
std::optional<std::string> utf8(PyObject* value) {
    if (!PyUnicode_Check(value)) return std::nullopt;
    const Owned bytes(PyUnicode_AsUTF8String(value));
    if (!bytes) return std::nullopt;
    return std::string(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
}

template <class T, class Named>
bool read_choice(PyObject* params, const char* name, T& out, Named named) {
    PyObject* value = item(params, name);
    if (!value) return true;
    const auto text = utf8(value);
    const auto chosen = text ? named(std::string_view(*text)) : std::nullopt;
    if (!chosen) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "%s is not one of its choices", name);
        return false;
    }
    out = *chosen;
    return true;
}

}  // namespace

bool read_whittaker(PyObject* params, dispatch::WhittakerRecord& r) {
    return read_per_axis(params, "lam", r.lam) && read_scalar(params, "p", r.p) &&
           read_scalar(params, "max_iter", r.max_iter) && read_scalar(params, "tol", r.tol) &&
           read_choice(params, "stop", r.stop, dispatch::stop_rule_named) &&
           read_per_axis(params, "diff_order", r.diff_order) && read_per_axis(params, "lam_1", r.lam_1) &&
           read_scalar(params, "eta", r.eta) && read_scalar(params, "asymmetric_coef", r.asymmetric_coef) &&
           read_scalar(params, "k", r.k) && read_scalar(params, "smooth_half_window", r.smooth_half_window) &&
           read_scalar(params, "num_smooths", r.num_smooths) && read_scalar(params, "max_iter_2", r.max_iter_2) &&
           read_scalar(params, "tol_2", r.tol_2);
}

bool read_window(PyObject* params, dispatch::WindowRecord& record) {
    return read_per_axis(params, "half_window", record.half_window) && read_scalar(params, "tol", record.tol) &&
           read_scalar(params, "max_iter", record.max_iter) &&
           read_scalar(params, "smooth_half_window", record.smooth_half_window) &&
           read_scalar(params, "lam", record.lam) && read_scalar(params, "p", record.p) &&
           read_scalar(params, "diff_order", record.diff_order) && read_scalar(params, "alpha", record.alpha) &&
           read_scalar(params, "beta", record.beta) && read_scalar(params, "gamma", record.gamma) &&
           read_scalar(params, "beta_mult", record.beta_mult) && read_scalar(params, "gamma_mult", record.gamma_mult) &&
           read_scalar(params, "tol_2", record.tol_2) && read_scalar(params, "robust_opening", record.robust_opening);
}

bool read_polynomial(PyObject* params, dispatch::PolynomialRecord& r) {
    return read_per_axis(params, "poly_order", r.poly_order) &&
           read_scalar(params, "max_cross", r.max_cross) && read_scalar(params, "tol", r.tol) &&
           read_scalar(params, "max_iter", r.max_iter) && read_scalar(params, "use_original", r.use_original) &&
           read_scalar(params, "mask_initial_peaks", r.mask_initial_peaks) &&
           read_scalar(params, "num_std", r.num_std) &&
           read_choice(params, "cost_function", r.cost_function, dispatch::cost_function_named) &&
           read_scalar(params, "threshold", r.threshold) && read_scalar(params, "alpha_factor", r.alpha_factor) &&
           read_scalar(params, "peak_ratio", r.peak_ratio) && read_scalar(params, "tol_2", r.tol_2) &&
           read_scalar(params, "tol_3", r.tol_3) && read_scalar(params, "max_iter_2", r.max_iter_2) &&
           read_scalar(params, "quantile", r.quantile) && read_scalar(params, "eps", r.eps) &&
           read_scalar(params, "fraction", r.fraction) && read_scalar(params, "total_points", r.total_points) &&
           read_scalar(params, "scale", r.scale) && read_scalar(params, "delta", r.delta) &&
           read_scalar(params, "symmetric_weights", r.symmetric_weights) &&
           read_scalar(params, "use_threshold", r.use_threshold) &&
           read_scalar(params, "conserve_memory", r.conserve_memory);
}

bool read_clipping(PyObject* params, dispatch::ClippingRecord& r) {
    return read_per_axis(params, "max_half_window", r.max_half_window) &&
           read_scalar(params, "decreasing", r.decreasing) &&
           read_scalar(params, "lls", r.lls) && read_scalar(params, "smooth_half_window", r.smooth_half_window) &&
           read_scalar(params, "filter_order", r.filter_order) && read_scalar(params, "segments", r.segments) &&
           read_scalar(params, "diff_order", r.diff_order) && read_scalar(params, "lam", r.lam) &&
           read_scalar(params, "max_iter", r.max_iter) &&
           read_choice(params, "interp_method", r.interpolation, clipping::interpolation_named);
}

bool read_smoothing(PyObject* params, dispatch::SmoothingRecord& r) {
    return read_per_axis(params, "half_window", r.half_window) &&
           read_scalar(params, "smooth_half_window", r.smooth_half_window) && read_scalar(params, "sigma", r.sigma) &&
           read_scalar(params, "sections", r.sections) && read_scalar(params, "max_iter", r.max_iter) &&
           read_scalar(params, "lam_smooth", r.lam_smooth) && read_scalar(params, "tol", r.tol) &&
           read_choice(params, "side", r.side, dispatch::ria_side_named) &&
           read_scalar(params, "width_scale", r.width_scale) && read_scalar(params, "height_scale", r.height_scale) &&
           read_scalar(params, "sigma_scale", r.sigma_scale) &&
           read_scalar(params, "min_half_window", r.min_half_window) &&
           read_scalar(params, "max_half_window", r.max_half_window);
}

bool read_pspline(PyObject* params, dispatch::PsplineRecord& r) {
    return read_per_axis(params, "lam", r.lam) && read_scalar(params, "p", r.p) &&
           read_scalar(params, "max_iter", r.max_iter) && read_scalar(params, "tol", r.tol) &&
           read_per_axis(params, "num_knots", r.num_knots) && read_per_axis(params, "spline_degree", r.spline_degree) &&
           read_per_axis(params, "diff_order", r.diff_order) && read_scalar(params, "k", r.k) &&
           read_scalar(params, "smooth_half_window", r.smooth_half_window) &&
           read_scalar(params, "num_smooths", r.num_smooths) && read_scalar(params, "max_iter_2", r.max_iter_2) &&
           read_scalar(params, "tol_2", r.tol_2) && read_scalar(params, "eta", r.eta) &&
           read_per_axis(params, "lam_1", r.lam_1) && read_scalar(params, "asymmetric_coef", r.asymmetric_coef) &&
           read_scalar(params, "symmetric", r.symmetric) && read_scalar(params, "quantile", r.quantile) &&
           read_scalar(params, "eps", r.eps) && read_scalar(params, "half_window", r.half_window);
}

bool read_grid_solver(PyObject* params, dispatch::GridSolverRecord& record) {
    return read_choice(params, "solver", record.solver, dispatch::grid_solver_named) &&
           read_scalar(params, "cg_max_iter", record.cg_max_iter) && read_scalar(params, "cg_tol", record.cg_tol);
}

}  // namespace quorvel::binding::tunable
