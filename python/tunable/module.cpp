// Module definition of quorvel._tunable: the fits behind the package's keyword parameters, masks
// and fit reports. The package checks every argument; this module only trusts nothing it is given.
#include "../binding/arrays.hpp"
#include "../binding/python.hpp"
#include "catalogue.hpp"
#include "fits.hpp"

namespace quorvel::binding::tunable {
namespace {

PyMethodDef functions[] = {
    {"catalogue", catalogue, METH_NOARGS, "catalogue()\n--\n\n"},
    {"fit_1d", fit_1d, METH_VARARGS, "fit_1d(y, mask, method, params, want)\n--\n\n"},
    {"fit_2d", fit_2d, METH_VARARGS, "fit_2d(data, mask, method, params, want)\n--\n\n"},
    {"fit_1d_many", fit_1d_many, METH_VARARGS,
     "fit_1d_many(out, reports, block, masks, x, method, params, want)\n--\n\n"},
    {"fit_2d_many", fit_2d_many, METH_VARARGS,
     "fit_2d_many(out, reports, block, masks, x, method, params, want, rows, cols)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (!arrays::import_numpy()) return -1;
    return PyModule_AddFunctions(module, functions);
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_tunable", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quorvel::binding::tunable

extern "C" PyMODINIT_FUNC PyInit__tunable() {
    return PyModuleDef_Init(&quorvel::binding::tunable::module_definition);
}
