// How a computing call leaves and re-enters the interpreter.
#pragma once

#include "python.hpp"

#include <new>
#include <optional>
#include <stdexcept>

namespace quorvel::binding {

// Runs `compute` with the interpreter lock released. Nothing may unwind through the released
// region, so allocation failure comes out as an empty optional.
template <class Output, class Compute>
std::optional<Output> compute_without_lock(Compute compute) {
    std::optional<Output> output;
    Py_BEGIN_ALLOW_THREADS
    try {
        output.emplace(compute());
    } catch (const std::bad_alloc&) {
        output.reset();
    }
    Py_END_ALLOW_THREADS
    return output;
}

// Allocation failure while the lock is held becomes MemoryError instead of ending the process.
template <class Body>
PyObject* guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    }
}

}  // namespace quorvel::binding
