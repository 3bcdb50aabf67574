// Binding of (data, method="asls") with the messages of a Python-level signature.
#pragma once

#include "python.hpp"

#include <optional>
#include <string>

namespace quorvel::binding {

struct Signature {
    const char* function;
    const char* first;  // name of the data parameter
};

struct BoundArguments {
    PyObject* data;    // borrowed
    PyObject* method;  // borrowed; null when not given
};

// Returns nullopt with TypeError set when the call does not fit the signature.
std::optional<BoundArguments> bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

// The method name as UTF-8, "asls" when absent; nullopt with an exception set otherwise.
std::optional<std::string> method_text(PyObject* method);

}  // namespace quorvel::binding
