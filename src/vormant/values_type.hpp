// vormant._reader.Values: owns a file's values and exports them through the buffer protocol
// as a writable, C-contiguous (T, P) block of format "f", so that memoryview and NumPy share
// the memory without a copy.
#pragma once

#include <memory>

#include "boundary/py_compat.hpp"
#include "reader/plot_data.hpp"

namespace tarnex::vormant {

// Makes the Values type for `module`; a new reference, or null with an exception set.
PyObject* make_values_type(PyObject* module) noexcept;

// A new Values object of `type` that takes over `data`; null with an exception set.
PyObject* new_values(PyTypeObject* type, std::unique_ptr<PlotData> data) noexcept;

}  // namespace tarnex::vormant
