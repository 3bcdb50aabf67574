// Module definition of quorvel._native: multi-phase initialisation, six functions, __all__.
#include "python.hpp"

#include "arrays.hpp"
#include "entry_points.hpp"

namespace quorvel::binding {
namespace {

PyCFunction keywords(PyCFunctionWithKeywords function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The "name(signature)\n--\n\n" form gives __text_signature__ and leaves __doc__ None.
PyMethodDef functions[] = {
    {"baseline", keywords(baseline),
     METH_VARARGS | METH_KEYWORDS, "baseline(y, method=\"asls\")\n--\n\n"},
    {"correct", keywords(correct),
     METH_VARARGS | METH_KEYWORDS, "correct(y, method=\"asls\")\n--\n\n"},
    {"baseline_2d", keywords(baseline_2d),
     METH_VARARGS | METH_KEYWORDS, "baseline_2d(data, method=\"asls\")\n--\n\n"},
    {"correct_2d", keywords(correct_2d),
     METH_VARARGS | METH_KEYWORDS, "correct_2d(data, method=\"asls\")\n--\n\n"},
    {"methods", methods, METH_NOARGS, "methods()\n--\n\n"},
    {"methods_2d", methods_2d, METH_NOARGS, "methods_2d()\n--\n\n"},
};

int append_to_all(PyObject* module, const char* name) {
    Owned all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    const Owned text(PyUnicode_FromString(name));
    return text ? PyList_Append(all.get(), text.get()) : -1;
}

int add_function(PyObject* module, PyMethodDef* definition) {
    const Owned module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    const Owned function(PyCFunction_NewEx(definition, module, module_name.get()));
    if (!function || PyObject_SetAttrString(module, definition->ml_name, function.get()) < 0) return -1;
    return append_to_all(module, definition->ml_name);
}

int exec_module(PyObject* module) {
    if (!arrays::import_numpy()) return -1;
    for (PyMethodDef& definition : functions) {
        if (add_function(module, &definition) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quorvel::binding

extern "C" PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&quorvel::binding::module_definition); }
