// NumPy arrays in and out: type checks, logical-order copies and wrapped results.
#pragma once

#include "python.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quorvel::binding::arrays {

// Loads NumPy's C interface; false with an exception set on failure.
bool import_numpy();

// An ndarray (or subclass) of `ndim` dimensions whose dtype is equivalent to native float64.
bool is_float64_array(PyObject* object, int ndim);

struct Samples {
    std::vector<double> values;  // row-major logical order
    std::uint64_t rows;
    std::uint64_t cols;          // 1 for one-dimensional input
};

// Copies whatever the strides; throws std::bad_alloc or std::length_error when the
// copy cannot be held in memory.
Samples copy_logical(PyObject* array);

// An ndarray (or subclass) of `ndim` dimensions and boolean dtype.
bool is_bool_array(PyObject* object, int ndim);

// The elements of a boolean array of one or two dimensions, in row-major logical order.
struct Flags {
    std::unique_ptr<bool[]> values;
    std::size_t size;

    std::span<const bool> view() const { return {values.get(), size}; }
};
Flags copy_flags(PyObject* array);

// Extent `axis` of an array of at least axis + 1 dimensions.
std::uint64_t extent(PyObject* array, int axis);

// The data of an aligned, C-contiguous, native float64 array of shape (rows, cols) (and writeable
// for writable_rows), or null.
const double* contiguous_rows(PyObject* array, std::uint64_t rows, std::uint64_t cols);
double* writable_rows(PyObject* array, std::uint64_t rows, std::uint64_t cols);
// The same for a one-dimensional array of n values.
const double* contiguous_values(PyObject* array, std::uint64_t n);
// The data of a C-contiguous bool array of shape (rows, cols) holding only 0 and 1 bytes, or null.
const bool* contiguous_flags(PyObject* array, std::uint64_t rows, std::uint64_t cols);

// A new C-contiguous, writeable float64 array of the given shape that owns `values`.
PyObject* wrap(std::vector<double>&& values, int ndim, const std::uint64_t* shape);

}  // namespace quorvel::binding::arrays
