#include "arrays.hpp"

#include <cstring>
#include <limits>

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

// NumPy may hold bytes other than 0 and 1 in a boolean array; any non-zero byte is true.
bool read_flag(const char* at) { return *at != 0; }

// The layout of an array of one or two dimensions, as rows of cols elements.
struct Layout {
    npy_intp rows, cols, row_stride, col_stride;
    const char* data;
    bool contiguous;

    explicit Layout(PyObject* object) {
        PyArrayObject* array = as_array(object);
        const bool two_d = PyArray_NDIM(array) == 2;
        rows = PyArray_DIM(array, 0);
        cols = two_d ? PyArray_DIM(array, 1) : 1;
        row_stride = PyArray_STRIDE(array, 0);
        col_stride = two_d ? PyArray_STRIDE(array, 1) : 0;
        data = PyArray_BYTES(array);
        contiguous = PyArray_IS_C_CONTIGUOUS(array);
    }

    // The element count, or bad_alloc when no buffer of `limit` elements could hold it.
    std::size_t count(std::size_t limit) const {
        if (cols != 0 && static_cast<std::size_t>(rows) > limit / static_cast<std::size_t>(cols)) {
            throw std::bad_alloc();
        }
        return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    }

    // Copies rows [first, first + count) in row-major logical order, one block when the array
    // allows it.
    template <class T, class Read>
    void copy_rows(T* out, npy_intp first, npy_intp count, bool raw, Read read) const {
        if (count == 0 || cols == 0) return;
        if (contiguous && raw) {
            std::memcpy(out, data + first * row_stride, static_cast<std::size_t>(count * cols) * sizeof(T));
            return;
        }
        for (npy_intp r = first; r < first + count; ++r) {
            for (npy_intp c = 0; c < cols; ++c) *out++ = read(data + r * row_stride + c * col_stride);
        }
    }
};

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
    const Layout layout(object);
    Samples samples{std::vector<double>(), static_cast<std::uint64_t>(layout.rows),
                    static_cast<std::uint64_t>(layout.cols)};
    const std::size_t count = layout.count(samples.values.max_size());
    samples.values.resize(count);
    layout.copy_rows(samples.values.data(), 0, layout.rows, true, read_sample);
    return samples;
}

double* writable_rows(PyObject* object, std::uint64_t rows, std::uint64_t cols) {
    if (!is_float64_array(object, 2) || !PyArray_ISWRITEABLE(as_array(object))) return nullptr;
    return const_cast<double*>(contiguous_rows(object, rows, cols));
}

namespace {

const double* usable_data(PyObject* object) {
    PyArrayObject* array = as_array(object);
    const bool usable = PyArray_IS_C_CONTIGUOUS(array) && PyArray_ISNOTSWAPPED(array) && PyArray_ISALIGNED(array);
    return usable ? reinterpret_cast<const double*>(PyArray_BYTES(array)) : nullptr;
}

}  // namespace

const double* contiguous_rows(PyObject* object, std::uint64_t rows, std::uint64_t cols) {
    if (!is_float64_array(object, 2) || extent(object, 0) != rows || extent(object, 1) != cols) return nullptr;
    return usable_data(object);
}

const double* contiguous_values(PyObject* object, std::uint64_t n) {
    if (!is_float64_array(object, 1) || extent(object, 0) != n) return nullptr;
    return usable_data(object);
}

const bool* contiguous_flags(PyObject* object, std::uint64_t rows, std::uint64_t cols) {
    if (!is_bool_array(object, 2) || extent(object, 0) != rows || extent(object, 1) != cols) return nullptr;
    // Only a bool array whose bytes are all 0 or 1 may be read as bool.
    PyArrayObject* array = as_array(object);
    if (!PyArray_IS_C_CONTIGUOUS(array)) return nullptr;
    const auto* bytes = reinterpret_cast<const unsigned char*>(PyArray_BYTES(array));
    for (std::uint64_t i = 0; i < rows * cols; ++i) {
        if (bytes[i] > 1) return nullptr;
    }
    return reinterpret_cast<const bool*>(bytes);
}

bool is_bool_array(PyObject* object, int ndim) {
    return PyArray_Check(object) && PyArray_NDIM(as_array(object)) == ndim &&
           PyArray_TYPE(as_array(object)) == NPY_BOOL;
}

Flags copy_flags(PyObject* object) {
    const Layout layout(object);
    const std::size_t count = layout.count(std::numeric_limits<std::ptrdiff_t>::max());
    Flags flags{std::make_unique<bool[]>(count), count};
    layout.copy_rows(flags.values.get(), 0, layout.rows, false, read_flag);
    return flags;
}

std::uint64_t extent(PyObject* object, int axis) {
    return static_cast<std::uint64_t>(PyArray_DIM(as_array(object), axis));
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
