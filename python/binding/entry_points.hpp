// The six functions of the module.
#pragma once

#include "python.hpp"

namespace quorvel::binding {

PyObject* correct(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* baseline(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* correct_2d(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* baseline_2d(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* methods(PyObject* module, PyObject* unused);
PyObject* methods_2d(PyObject* module, PyObject* unused);

}  // namespace quorvel::binding
