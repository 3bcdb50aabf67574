#include "arrays.hpp"

#include <cstring>

#include <numpy/arrayobject.h>

namespace quorvel::binding::arrays {
namespace {

constexpr const char* holder_name = "quorvel._native.result";

void release_holder(PyObject* capsule) {
    std::unique_ptr<std::vector<double>>(
        static_cast<std::vector<double>*>(PyCapsule_GetPointer(capsule, holder_name)));
}

PyArrayObject* as_array(PyObject* object) { return reinterpret_cast<PyArrayObject*>(object); }

double read_sample(const char* at) {
    double value;
    std::memcpy(&value, at, sizeof value);  // the buffer may be unaligned
    return value;
}

}  // namespace

bool import_numpy() { return _import_array() >= 0; }

bool is_float64_array(PyObject* object, int ndim) {
    if (!PyArray_Check(object) || PyArray_NDIM(as_array(object)) != ndim) return false;
    PyArray_Descr* float64 = PyArray_DescrFromType(NPY_DOUBLE);
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(as_array(object)), float64);
    Py_DECREF(float64);
    return equivalent;
}

Samples copy_logical(PyObject* object) {
    PyArrayObject* array = as_array(object);
    const bool two_d = PyArray_NDIM(array) == 2;
    const npy_intp rows = PyArray_DIM(array, 0);
    const npy_intp cols = two_d ? PyArray_DIM(array, 1) : 1;
    const npy_intp row_stride = PyArray_STRIDE(array, 0);
    const npy_intp col_stride = two_d ? PyArray_STRIDE(array, 1) : 0;
    const char* data = PyArray_BYTES(array);

    const auto count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    Samples samples{std::vector<double>(), static_cast<std::uint64_t>(rows), static_cast<std::uint64_t>(cols)};
    if (cols != 0 && static_cast<std::size_t>(rows) > samples.values.max_size() / static_cast<std::size_t>(cols)) {
        throw std::bad_alloc();
    }
    samples.values.resize(count);
    if (count == 0) return samples;
    if (PyArray_IS_C_CONTIGUOUS(array)) {
        std::memcpy(samples.values.data(), data, count * sizeof(double));
        return samples;
    }
    double* out = samples.values.data();
    for (npy_intp r = 0; r < rows; ++r) {
        for (npy_intp c = 0; c < cols; ++c) *out++ = read_sample(data + r * row_stride + c * col_stride);
    }
    return samples;
}

PyObject* wrap(std::vector<double>&& values, int ndim, const std::uint64_t* shape) {
    auto owned = std::make_unique<std::vector<double>>(std::move(values));
    double* data = owned->data();
    PyObject* holder = PyCapsule_New(owned.get(), holder_name, release_holder);
    if (!holder) return nullptr;
    owned.release();

    npy_intp dims[2];
    for (int d = 0; d < ndim; ++d) dims[d] = static_cast<npy_intp>(shape[d]);
    PyObject* array = PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), ndim, dims,
                                           nullptr, data, NPY_ARRAY_CARRAY, nullptr);
    if (!array) {
        Py_DECREF(holder);
        return nullptr;
    }
    if (PyArray_SetBaseObject(as_array(array), holder) < 0) {  // steals holder even on failure
        Py_DECREF(array);
        return nullptr;
    }
    return array;
}

}  // namespace quorvel::binding::arrays
