// Binding the arguments of rust_read_vormant(file_path, n_digits) from the fast-call
// convention, with the interpreter's own kinds of argument errors.
#pragma once

#include <cstdint>
#include <string_view>

#include "boundary/py_errors.hpp"

namespace tarnex {

struct PlotArguments {
  // The interpreter's own UTF-8 form of the str, borrowed for the call (may hold NUL).
  std::string_view file_path;
  std::uint64_t n_digits;
};

// Binds the positional values args[0, nargs) and the keyword values args[nargs + i] named by
// kwnames[i] (kwnames may be null), then converts them. The argument objects stay borrowed.
PyResult<PlotArguments> bind_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// TypeError "'{type}' object is not an instance of '{target}'" for an object that is not of
// the expected type; "'None' is not an instance of '{target}'" for None.
PyError cast_error(PyObject* object, std::string_view target);

}  // namespace tarnex
