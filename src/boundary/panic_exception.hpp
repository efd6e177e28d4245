// PanicException: the exception type that carries a fatal error to the Python caller.
#pragma once

#include <string_view>

#include "boundary/py_compat.hpp"

namespace tarnex {

// The process-wide PanicException type (borrowed; it lives until the process ends), created on
// first need. A thread that finds another one creating it waits without the interpreter lock.
// A failed creation is the fatal error "Failed to initialize new exception type.: ...", and a
// later need tries again.
PyObject* panic_exception_type();

// Sets PanicException with `message` as its only argument as the current exception.
void raise_panic_exception(std::string_view message);

}  // namespace tarnex
