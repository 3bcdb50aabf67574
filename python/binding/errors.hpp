// Conversions of failures into Python exceptions.
#pragma once

#include "python.hpp"

#include "core/error.hpp"

namespace quorvel::binding {

// The one conversion of a library error: ValueError carrying its display text.
void python_error(const BaselineError& error);

// The same ValueError with the error's fields as attributes: `index`, the position of the first
// non-finite sample (flat, row-major on grids), or None.
void python_error_with_fields(const BaselineError& error);

// The non-finite sample's index as a new int, or a new reference to None for other errors.
PyObject* non_finite_index(const BaselineError& error);

// Raises `type(message)` with `note` attached where the interpreter supports notes.
void raise_with_note(PyObject* type, PyObject* message, const char* note);
// Attaches `note` to the exception being raised.
void add_note_to_current_error(const char* note);
// TypeError "'T' object is not an instance of 'target'" with the given note.
void raise_not_instance(PyObject* object, const char* target, const char* note);

}  // namespace quorvel::binding
