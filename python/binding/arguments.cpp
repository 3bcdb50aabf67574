#include "arguments.hpp"

#include "errors.hpp"

namespace quorvel::binding {
namespace {

constexpr const char* method_note = "while processing 'method'";

bool set_once(const Signature& signature, PyObject*& slot, PyObject* value, const char* name) {
    if (slot) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", signature.function, name);
        return false;
    }
    slot = value;
    return true;
}

}  // namespace

// Checks run in CPython's order for a Python function: keywords, then the positional
// count, then missing arguments.
std::optional<BoundArguments> bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t given = PyTuple_Size(args);
    BoundArguments bound{given >= 1 ? PyTuple_GetItem(args, 0) : nullptr,
                         given >= 2 ? PyTuple_GetItem(args, 1) : nullptr};
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", signature.function);
                return std::nullopt;
            }
            bool accepted = false;
            if (PyUnicode_CompareWithASCIIString(key, signature.first) == 0) {
                accepted = set_once(signature, bound.data, value, signature.first);
            } else if (PyUnicode_CompareWithASCIIString(key, "method") == 0) {
                accepted = set_once(signature, bound.method, value, "method");
            } else {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                             signature.function, key);
            }
            if (!accepted) return std::nullopt;
        }
    }
    if (given > 2) {
        PyErr_Format(PyExc_TypeError, "%s() takes from 1 to 2 positional arguments but %zd were given",
                     signature.function, given);
        return std::nullopt;
    }
    if (!bound.data) {
        PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'",
                     signature.function, signature.first);
        return std::nullopt;
    }
    return bound;
}

std::optional<std::string> method_text(PyObject* method) {
    if (!method) return std::string("asls");
    if (!PyUnicode_Check(method)) {
        raise_not_instance(method, "str", method_note);
        return std::nullopt;
    }
    const Owned utf8(PyUnicode_AsUTF8String(method));
    if (!utf8) {
        add_note_to_current_error(method_note);
        return std::nullopt;
    }
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(utf8.get(), &bytes, &size) != 0) return std::nullopt;
    return std::string(bytes, static_cast<std::size_t>(size));
}

}  // namespace quorvel::binding
