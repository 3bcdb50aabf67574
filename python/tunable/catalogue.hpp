// quorvel._tunable.catalogue(): the core's table of methods, for the package to build its
// parameter checks, documentation and command-line flags from.
#pragma once

#include "../binding/python.hpp"

namespace quorvel::binding::tunable {

PyObject* catalogue(PyObject* module, PyObject* unused);

}  // namespace quorvel::binding::tunable
