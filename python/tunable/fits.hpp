// The functions of quorvel._tunable.
#pragma once

#include "../binding/python.hpp"

namespace quorvel::binding::tunable {

PyObject* fit_1d(PyObject* module, PyObject* args);
PyObject* fit_2d(PyObject* module, PyObject* args);
PyObject* fit_1d_many(PyObject* module, PyObject* args);
PyObject* fit_2d_many(PyObject* module, PyObject* args);

}  // namespace quorvel::binding::tunable
