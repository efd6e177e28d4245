// vormant._reader.write_steps(fd, values, first_number, n_digits, threads, /): the time steps of
// a plot written as plot file text to an open file, formatted without the interpreter lock.
#pragma once

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

PyObject* write_steps(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

inline constexpr const char* kWriteStepsDoc =
    "write_steps(fd, values, first_number, n_digits, threads, /)\n--\n\n"
    "Writes the rows of `values` (a C-contiguous (steps, parameters) buffer of format 'f') to\n"
    "the file descriptor `fd` as time steps numbered from `first_number` on, each a lead line\n"
    "and its value lines, fields `n_digits` (12 or 15) bytes wide, formatted by up to\n"
    "`threads` threads. OSError when writing fails.";

}  // namespace tarnex::vormant
