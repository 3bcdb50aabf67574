// The one place that decides how Python's headers are included.
#pragma once

#ifndef Py_LIMITED_API
#error "the extension is built against the stable ABI only"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

namespace quorvel::binding {

struct Decref {
    void operator()(PyObject* object) const { Py_DECREF(object); }
};
// A strong reference released on every path, exceptions included.
using Owned = std::unique_ptr<PyObject, Decref>;

}  // namespace quorvel::binding
