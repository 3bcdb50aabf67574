#include "entry_points.hpp"

#include <new>
#include <optional>
#include <span>
#include <stdexcept>

#include "arguments.hpp"
#include "arrays.hpp"
#include "calls.hpp"
#include "errors.hpp"
#include "simple/dispatch.hpp"

namespace quorvel::binding {
namespace {

using Output = Result<std::vector<double>>;

// Steps shared by the four computing functions; `ndim` selects 1-D or 2-D handling.
template <class Parsed, int ndim, class Dispatch>
PyObject* transform(const Signature& signature, PyObject* args, PyObject* kwargs, Dispatch dispatch) {
    const auto bound = bind_arguments(signature, args, kwargs);
    if (!bound) return nullptr;
    if (!arrays::is_float64_array(bound->data, ndim)) {
        const std::string note = std::string("while processing '") + signature.first + "'";
        raise_not_instance(bound->data, "ndarray", note.c_str());
        return nullptr;
    }
    const auto text = method_text(bound->method);
    if (!text) return nullptr;
    const auto method = Parsed::from_str(*text);
    if (!method) {
        python_error(method.error());
        return nullptr;
    }

    arrays::Samples input = arrays::copy_logical(bound->data);
    const std::uint64_t shape[2] = {input.rows, input.cols};
    // The private copy is freed before the lock is taken back.
    auto output = compute_without_lock<Output>([&] {
        Output result = dispatch(std::span<const double>(input.values), input.rows, input.cols, method.value());
        std::vector<double>().swap(input.values);
        return result;
    });
    if (!output) return PyErr_NoMemory();
    if (!*output) {
        python_error(output->error());
        return nullptr;
    }
    return arrays::wrap(std::move(*output).value(), ndim, shape);
}

template <class Fn>
auto one_d(Fn fn) {
    return [fn](std::span<const double> y, std::uint64_t, std::uint64_t, simple::Method method) {
        return fn(y, method);
    };
}

PyObject* name_list(const std::vector<std::string_view>& names) {
    Owned list(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyObject* name = PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
        if (!name) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), name);  // steals name
    }
    return list.release();
}

}  // namespace

PyObject* correct(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        return transform<simple::Method, 1>({"correct", "y"}, args, kwargs, one_d(simple::correct_with));
    });
}

PyObject* baseline(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        return transform<simple::Method, 1>({"baseline", "y"}, args, kwargs, one_d(simple::baseline_with));
    });
}

PyObject* correct_2d(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        return transform<simple::Method2D, 2>({"correct_2d", "data"}, args, kwargs, simple::correct_2d_with);
    });
}

PyObject* baseline_2d(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        return transform<simple::Method2D, 2>({"baseline_2d", "data"}, args, kwargs, simple::baseline_2d_with);
    });
}

PyObject* methods(PyObject*, PyObject*) { return guarded([] { return name_list(simple::Method::names()); }); }

PyObject* methods_2d(PyObject*, PyObject*) { return guarded([] { return name_list(simple::Method2D::names()); }); }

}  // namespace quorvel::binding
