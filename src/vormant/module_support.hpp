// What the functions of vormant._reader share: the module's state, their common arguments, and
// a file read turned into its Python result.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "boundary/py_compat.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex::vormant {

struct ModuleState {
  PyObject* values_type;
  PyObject* plot_file_type;
};

ModuleState* state_of(PyObject* module) noexcept;

// n_digits: None, 12 or 15. False with an exception set when it is none of these.
bool width_argument(PyObject* object, std::optional<std::uint64_t>& width) noexcept;

// path: bytes without NUL. False with an exception set otherwise.
bool path_argument(PyObject* object, std::string_view& path) noexcept;

// (names, n_digits, values) for a file read; takes over its values.
PyObject* result_of(PyObject* module, LoadedPlot& plot) noexcept;

}  // namespace tarnex::vormant
