// A failed read as the Python exception it raises: the OSError of the system's error, or
// vormant._errors.PlotFileError(message, path, line).
#pragma once

#include <string_view>

#include "boundary/py_compat.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex::vormant {

// Sets the interpreter's exception for `failure` of the file at `path` (its bytes). Returns
// null, for the caller to return.
PyObject* raise_plot_file_failure(const PlotFileFailure& failure, std::string_view path) noexcept;

PyObject* raise_unexpected(const UnexpectedFailure& failure) noexcept;

// Sets the ValueError, IndexError or OverflowError of `fault`; returns null.
PyObject* raise_argument_fault(const ArgumentFault& fault) noexcept;

}  // namespace tarnex::vormant
