#include "errors.hpp"

#include <string>

namespace quorvel::binding {
namespace {

// add_note exists from CPython 3.11; older interpreters simply get no note.
void add_note(PyObject* exception, const char* note) {
    const Owned method(PyObject_GetAttrString(exception, "add_note"));
    if (!method) {
        PyErr_Clear();
        return;
    }
    if (!Owned(PyObject_CallFunction(method.get(), "s", note))) PyErr_Clear();
}

}  // namespace

void python_error(const BaselineError& error) {
    const std::string text = display(error);
    PyErr_SetString(PyExc_ValueError, text.c_str());
}

PyObject* non_finite_index(const BaselineError& error) {
    if (const auto* bad = std::get_if<NonFiniteInput>(&error)) {
        return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(bad->index));
    }
    Py_RETURN_NONE;
}

void python_error_with_fields(const BaselineError& error) {
    const std::string text = display(error);
    const Owned message(PyUnicode_FromString(text.c_str()));
    const Owned exception(message ? PyObject_CallFunctionObjArgs(PyExc_ValueError, message.get(), nullptr) : nullptr);
    const Owned index(exception ? non_finite_index(error) : nullptr);
    if (!index || PyObject_SetAttrString(exception.get(), "index", index.get()) < 0) return;
    PyErr_SetObject(PyExc_ValueError, exception.get());
}

void raise_with_note(PyObject* type, PyObject* message, const char* note) {
    const Owned exception(PyObject_CallFunctionObjArgs(type, message, nullptr));
    if (!exception) return;
    add_note(exception.get(), note);
    PyErr_SetObject(type, exception.get());
}

void add_note_to_current_error(const char* note) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value) {
        add_note(value, note);
        if (traceback) PyException_SetTraceback(value, traceback);
    }
    PyErr_Restore(type, value, traceback);
}

void raise_not_instance(PyObject* object, const char* target, const char* note) {
    Owned message;
    if (object == Py_None) {
        message.reset(PyUnicode_FromFormat("'None' is not an instance of '%s'", target));
    } else {
        const Owned qualname(
            PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
        if (!qualname) return;
        message.reset(PyUnicode_FromFormat("'%U' object is not an instance of '%s'", qualname.get(), target));
    }
    if (message) raise_with_note(PyExc_TypeError, message.get(), note);
}

}  // namespace quorvel::binding
