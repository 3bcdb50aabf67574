#include "parse.hpp"

#include "../binding/arguments.hpp"
#include "../binding/arrays.hpp"
#include "../binding/errors.hpp"
#include "catalogue/lookup.hpp"
#include "records.hpp"

namespace quorvel::binding::tunable {
namespace {

int to_u64(PyObject* object, void* out) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return 0;
    *static_cast<std::uint64_t*>(out) = value;
    return 1;
}

template <catalogue::Scope scope>
std::optional<catalogue::MethodId> find_method(PyObject* name) {
    const auto text = method_text(name);
    if (!text) return std::nullopt;
    const auto id = catalogue::parse<scope>(*text);
    if (!id) {
        python_error(id.error());
        return std::nullopt;
    }
    return id.value();
}

// Every key must name a parameter of the method in these dimensions.
bool known_keys(PyObject* params, const catalogue::MethodRow& method, int ndim) {
    if (params == Py_None) return true;
    if (!PyDict_Check(params)) {
        PyErr_SetString(PyExc_TypeError, "params must be a dict or None");
        return false;
    }
    PyObject *key, *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(params, &position, &key, &value)) {
        bool known = false;
        for (const catalogue::Parameter& parameter : method.in(ndim).parameters) {
            // The catalogue's names are literals, so their views end in a NUL.
            known = known ||
                    (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, parameter.name.data()) == 0);
        }
        if (!known) {
            PyErr_Format(PyExc_TypeError, "%s takes no parameter %R", method.name.data(), key);
            return false;
        }
    }
    return true;
}

bool read_records(PyObject* params, int ndim, dispatch::Options& options) {
    switch (catalogue::row(options.method).family) {
        case catalogue::Family::Whittaker:
            return read_whittaker(params, options.whittaker) && (ndim == 1 || read_grid_solver(params, options.grid));
        case catalogue::Family::Morphology: return read_window(params, options.window);
        case catalogue::Family::Polynomial: return read_polynomial(params, options.polynomial);
        case catalogue::Family::Clipping: return read_clipping(params, options.clipping);
        case catalogue::Family::Smoothing: return read_smoothing(params, options.smoothing);
        case catalogue::Family::Pspline: return read_pspline(params, options.pspline);
    }
    return false;
}

}  // namespace

std::optional<dispatch::Options> parse_call(PyObject* args, int ndim, Call& call, std::uint64_t* shape) {
    PyObject* method = nullptr;
    std::uint64_t ignored[2];
    std::uint64_t* dims = shape ? shape : ignored;
    if (!PyArg_ParseTuple(args, shape ? "OOOOOiO&O&" : "OOOOOi", &call.values, &call.mask, &call.x, &method,
                          &call.params, &call.want, to_u64, &dims[0], to_u64, &dims[1])) {
        return std::nullopt;
    }
    const auto id = ndim == 1 ? find_method<catalogue::Scope{1, false}>(method)
                              : find_method<catalogue::Scope{2, false}>(method);
    if (!id || !known_keys(call.params, catalogue::row(*id), ndim)) return std::nullopt;
    dispatch::Options options = dispatch::defaults(*id, ndim);
    if (!read_records(call.params, ndim, options)) return std::nullopt;
    return options;
}

namespace {

// None, or a C-contiguous float64 array of n values that the package keeps private for the call.
bool read_positions(PyObject* object, std::uint64_t n, std::span<const double>& out) {
    if (object == Py_None) return true;
    const double* values = arrays::contiguous_values(object, n);
    if (!values) {
        PyErr_SetString(PyExc_TypeError, "x must be None or a C-contiguous float64 array of one value per sample");
        return false;
    }
    out = std::span<const double>(values, n);
    return true;
}

bool read_x(const Call& call, int ndim, const std::uint64_t* extents, dispatch::Options& options) {
    if (ndim == 1) return read_positions(call.x, extents[0], options.x);
    if (call.x == Py_None) return true;
    if (!PyTuple_Check(call.x) || PyTuple_Size(call.x) != 2) {
        PyErr_SetString(PyExc_TypeError, "grids take x as None or a pair (x along axis 0, z along axis 1)");
        return false;
    }
    return read_positions(PyTuple_GetItem(call.x, 0), extents[0], options.x) &&
           read_positions(PyTuple_GetItem(call.x, 1), extents[1], options.z);
}

// A parameter of one value per sample: absent, None, or a C-contiguous float64 array of an item's shape.
bool read_samples(PyObject* params, const char* name, int ndim, const std::uint64_t* extents,
                  std::span<const double>& out) {
    PyObject* value = params == Py_None ? nullptr : PyDict_GetItemString(params, name);
    if (!value || value == Py_None) return true;
    const double* values = ndim == 1 ? arrays::contiguous_values(value, extents[0])
                                     : arrays::contiguous_rows(value, extents[0], extents[1]);
    if (!values) {
        PyErr_Format(PyExc_TypeError, "%s must be None or a C-contiguous float64 array of the data's shape", name);
        return false;
    }
    out = std::span<const double>(values, ndim == 1 ? extents[0] : extents[0] * extents[1]);
    return true;
}

// A parameter of (x, y) pairs: absent, None, or a C-contiguous float64 array of shape (L, 2).
bool read_points(PyObject* params, const char* name, std::span<const double>& out) {
    PyObject* value = params == Py_None ? nullptr : PyDict_GetItemString(params, name);
    if (!value || value == Py_None) return true;
    const std::uint64_t count = arrays::is_float64_array(value, 2) ? arrays::extent(value, 0) : 0;
    const double* values = arrays::contiguous_rows(value, count, 2);
    if (!values) {
        PyErr_Format(PyExc_TypeError, "%s must be None or a C-contiguous float64 array of shape (L, 2)", name);
        return false;
    }
    out = std::span<const double>(values, 2 * count);
    return true;
}

}  // namespace

bool read_arrays(const Call& call, int ndim, const std::uint64_t* extents, dispatch::Options& options) {
    // jbcd's alpha is one number, read with its record.
    const auto* alpha = catalogue::find_parameter(catalogue::row(options.method).in(ndim), "alpha");
    const bool samples = alpha && alpha->kind == catalogue::ValueKind::Samples;
    return read_x(call, ndim, extents, options) &&
           (!samples || read_samples(call.params, "alpha", ndim, extents,
                                     catalogue::row(options.method).family == catalogue::Family::Pspline
                                         ? options.pspline.alpha
                                         : options.whittaker.alpha)) &&
           read_points(call.params, "baseline_points", options.clipping.points);
}

}  // namespace quorvel::binding::tunable
