// vormant._reader.PlotFile: a plot file held open, its block index built, read in any part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

// The type, made for `module`.
PyObject* make_plot_file_type(PyObject* module) noexcept;

// A PlotFile of `type` for `path` (bytes without NUL), opened with the interpreter lock
// released; its reads make `values_type` objects. Null with the exception set when it fails.
PyObject* new_plot_file(PyTypeObject* type, PyTypeObject* values_type, std::string_view path,
                        std::optional<std::uint64_t> n_digits, bool growing) noexcept;

// The name lines as a tuple of str.
PyObject* names_tuple(const std::vector<std::string>& names) noexcept;

}  // namespace tarnex::vormant
