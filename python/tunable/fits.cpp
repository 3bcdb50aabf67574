#include "fits.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "../binding/arrays.hpp"
#include "../binding/calls.hpp"
#include "../binding/errors.hpp"
#include "parse.hpp"
#include "dispatch/correction.hpp"
#include "dispatch/fit.hpp"

namespace quorvel::binding::tunable {
namespace {

namespace core = quorvel::dispatch;

enum Want { Baseline = 0, Corrected = 1, Everything = 2 };

struct Outcome {
    std::vector<double> baseline, corrected;
    FitReport report{};
    core::Details details;
};

// The arrays must be what the package hands over; anything else is a programming error upstream.
bool check_arrays(const Call& call, int ndim) {
    if (!arrays::is_float64_array(call.values, ndim)) {
        PyErr_SetString(PyExc_TypeError, "values must be a float64 ndarray");
        return false;
    }
    if (call.mask == Py_None) return true;
    bool same = arrays::is_bool_array(call.mask, ndim);
    for (int axis = 0; same && axis < ndim; ++axis) {
        same = arrays::extent(call.mask, axis) == arrays::extent(call.values, axis);
    }
    if (!same) PyErr_SetString(PyExc_TypeError, "mask must be None or a bool ndarray of the values' shape");
    return same;
}

arrays::Flags copy_mask(PyObject* mask) {
    return mask == Py_None ? arrays::Flags{nullptr, 0} : arrays::copy_flags(mask);
}

// Turns a fitted baseline into what the call wants; `y` is the private copy.
Status finish(std::span<const double> y, Mask mask, Want want, Outcome& outcome, const char* what) {
    if (want == Baseline) {
        if (first_non_finite(outcome.baseline)) return InvalidParameter{what, core::baseline_overflow};
        return ok;
    }
    if (want == Corrected) return core::subtract_checked(y, outcome.baseline, mask, outcome.baseline, what);
    outcome.corrected.resize(y.size());
    return core::subtract_checked(y, outcome.baseline, mask, outcome.corrected, what);
}

PyObject* array_of(std::vector<double>&& values, int ndim, const std::uint64_t* shape) {
    return arrays::wrap(std::move(values), ndim, shape);
}

// The window the data decided, as (axis 0, axis 1) on grids, or None when the caller gave it.
PyObject* decided_window(const core::Details& details, int ndim) {
    const auto& half = details.half_window;
    if (half[0] == 0) Py_RETURN_NONE;
    if (ndim == 1) return PyLong_FromUnsignedLongLong(half[0]);
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(half[0]), static_cast<unsigned long long>(half[1]));
}

PyObject* everything(Outcome& outcome, int ndim, const std::uint64_t* shape) {
    const std::uint64_t steps[1] = {outcome.details.history.size()};
    const bool weighted = !outcome.details.weights.empty();
    Owned baseline(array_of(std::move(outcome.baseline), ndim, shape));
    Owned corrected(baseline ? array_of(std::move(outcome.corrected), ndim, shape) : nullptr);
    Owned history(corrected ? array_of(std::move(outcome.details.history), 1, steps) : nullptr);
    Owned weights(weighted && history ? array_of(std::move(outcome.details.weights), ndim, shape) : nullptr);
    Owned window(history ? decided_window(outcome.details, ndim) : nullptr);
    if (!history || (weighted && !weights) || !window) return nullptr;
    return Py_BuildValue("(OOKOdOOKOK)", baseline.get(), corrected.get(),
                         static_cast<unsigned long long>(outcome.report.iterations),
                         outcome.report.converged ? Py_True : Py_False, outcome.report.last_change, history.get(),
                         weighted ? weights.get() : Py_None,
                         static_cast<unsigned long long>(outcome.details.outer_iterations), window.get(),
                         static_cast<unsigned long long>(outcome.report.short_solves));
}

// The shared steps of fit_1d and fit_2d: copy, fit without the lock, wrap.
template <int ndim, class Fit>
PyObject* fit_one(const Call& call, Fit fit) {
    if (!check_arrays(call, ndim)) return nullptr;
    arrays::Samples input = arrays::copy_logical(call.values);
    const arrays::Flags mask = copy_mask(call.mask);
    const std::uint64_t shape[2] = {input.rows, input.cols};
    const Want want = static_cast<Want>(call.want);
    auto outcome = compute_without_lock<Result<Outcome>>([&]() -> Result<Outcome> {
        Outcome result;
        result.baseline.resize(input.values.size());
        core::Scratch scratch;
        auto report = fit(std::span<const double>(input.values), input.rows, input.cols, mask.view(),
                          std::span<double>(result.baseline), scratch, want == Everything ? &result.details : nullptr);
        if (!report) return report.error();
        result.report = report.value();
        if (auto done = finish(input.values, mask.view(), want, result, ndim == 1 ? "y" : "data"); !done) {
            return done.error();
        }
        std::vector<double>().swap(input.values);
        return result;
    });
    if (!outcome) return PyErr_NoMemory();
    if (!*outcome) {
        python_error_with_fields(outcome->error());
        return nullptr;
    }
    Outcome& done = outcome->value();
    if (want == Everything) return everything(done, ndim, shape);
    return array_of(std::move(done.baseline), ndim, shape);
}

// The block functions take `out` and `reports` first and then the arguments of the one-item functions.
struct Tail {
    PyObject* out;
    PyObject* reports;  // None, or a float64 array of (iterations, last change, converged, short solves) per item
    Owned rest;
};

// Each item's report into its row of `reports`, as exact doubles (counts stay below 2^53).
void write_reports(std::span<const FitReport> reports, double* rows) {
    for (const FitReport& report : reports) {
        *rows++ = static_cast<double>(report.iterations);
        *rows++ = report.last_change;
        *rows++ = report.converged ? 1.0 : 0.0;
        *rows++ = static_cast<double>(report.short_solves);
    }
}

// The shared steps of the block functions. The package hands over private copies (C-contiguous),
// so the block is fitted in place with the lock released once, straight into `out`. Gives None,
// or for the first failure (item, reason, index of its first non-finite sample or None).
template <class Many>
PyObject* fit_block(const Tail& tail, const Call& call, std::uint64_t count, std::uint64_t n, Many many) {
    const double* values = arrays::contiguous_rows(call.values, count, n);
    const bool* flags = call.mask == Py_None ? nullptr : arrays::contiguous_flags(call.mask, count, n);
    double* out = arrays::writable_rows(tail.out, count, n);
    double* report_rows = tail.reports == Py_None ? nullptr : arrays::writable_rows(tail.reports, count, 4);
    if (!values || !out || (call.mask != Py_None && !flags) || (tail.reports != Py_None && !report_rows)) {
        PyErr_SetString(PyExc_TypeError,
                        "block functions take C-contiguous float64 blocks, bool masks, out and reports of 4 columns");
        return nullptr;
    }
    const std::size_t size = count * n;
    const Mask mask = flags ? Mask(flags, size) : Mask{};
    const auto output = call.want == Corrected ? core::Output::Corrected : core::Output::Baseline;
    auto failure = compute_without_lock<std::optional<core::ItemFailure>>([&] {
        std::vector<FitReport> reports(report_rows ? count : 0);
        auto first = many(std::span<const double>(values, size), count, n, mask, output, std::span<double>(out, size),
                          std::span<FitReport>(reports));
        write_reports(reports, report_rows);
        return first;
    });
    if (!failure) return PyErr_NoMemory();
    if (!*failure) Py_RETURN_NONE;
    const std::string reason = display((*failure)->error);
    const Owned index(non_finite_index((*failure)->error));
    if (!index) return nullptr;
    return Py_BuildValue("(KsO)", static_cast<unsigned long long>((*failure)->index), reason.c_str(), index.get());
}

std::optional<Tail> split_out(PyObject* args) {
    if (PyTuple_Size(args) < 2) {
        PyErr_SetString(PyExc_TypeError, "the block functions take out and reports first");
        return std::nullopt;
    }
    Owned rest(PyTuple_GetSlice(args, 2, PyTuple_Size(args)));
    if (!rest) return std::nullopt;
    return Tail{PyTuple_GetItem(args, 0), PyTuple_GetItem(args, 1), std::move(rest)};
}

}  // namespace

PyObject* fit_1d(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        Call call{};
        auto options = parse_call(args, 1, call, nullptr);
        if (!options || !check_arrays(call, 1)) return nullptr;
        const std::uint64_t extents[1] = {arrays::extent(call.values, 0)};
        if (!read_arrays(call, 1, extents, *options)) return nullptr;
        return fit_one<1>(call, [&](std::span<const double> y, std::uint64_t, std::uint64_t, Mask mask,
                                    std::span<double> baseline, core::Scratch& scratch, core::Details* details) {
            return core::fit_1d_into(y, mask, *options, baseline, scratch, details);
        });
    });
}

PyObject* fit_2d(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        Call call{};
        auto options = parse_call(args, 2, call, nullptr);
        if (!options || !check_arrays(call, 2)) return nullptr;
        const std::uint64_t extents[2] = {arrays::extent(call.values, 0), arrays::extent(call.values, 1)};
        if (!read_arrays(call, 2, extents, *options)) return nullptr;
        return fit_one<2>(call, [&](std::span<const double> data, std::uint64_t rows, std::uint64_t cols, Mask mask,
                                    std::span<double> baseline, core::Scratch& scratch, core::Details* details) {
            return core::fit_2d_into(data, rows, cols, mask, *options, baseline, scratch, details);
        });
    });
}

PyObject* fit_1d_many(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        auto tail = split_out(args);
        if (!tail) return nullptr;
        Call call{};
        auto options = parse_call(tail->rest.get(), 1, call, nullptr);
        if (!options || !check_arrays(call, 2)) return nullptr;
        const std::uint64_t extents[1] = {arrays::extent(call.values, 1)};
        if (!read_arrays(call, 1, extents, *options)) return nullptr;
        return fit_block(*tail, call, arrays::extent(call.values, 0), arrays::extent(call.values, 1),
                         [&](std::span<const double> values, std::uint64_t count, std::uint64_t n, Mask masks,
                             core::Output output, std::span<double> out, std::span<FitReport> reports) {
                             return core::fit_1d_many(values, count, n, masks, *options, output, out, reports);
                         });
    });
}

PyObject* fit_2d_many(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        auto tail = split_out(args);
        if (!tail) return nullptr;
        Call call{};
        std::uint64_t shape[2] = {0, 0};
        auto options = parse_call(tail->rest.get(), 2, call, shape);
        if (!options || !check_arrays(call, 2) || !read_arrays(call, 2, shape, *options)) return nullptr;
        if (shape[0] * shape[1] != arrays::extent(call.values, 1)) {
            PyErr_SetString(PyExc_ValueError, "rows * cols must be the length of each flattened image");
            return nullptr;
        }
        return fit_block(*tail, call, arrays::extent(call.values, 0), arrays::extent(call.values, 1),
                         [&](std::span<const double> values, std::uint64_t count, std::uint64_t, Mask masks,
                             core::Output output, std::span<double> out, std::span<FitReport> reports) {
                             return core::fit_2d_many(values, count, shape[0], shape[1], masks, *options, output,
                                                      out, reports);
                         });
    });
}

}  // namespace quorvel::binding::tunable
