// The shape of the values vormant hands to and takes from Python: rows of float32 numbers.
#pragma once

#include <string_view>

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

// Whether a buffer view is a 2-dimensional block of float32 values (format 'f').
inline bool is_float_block(const Py_buffer& view) noexcept {
  return view.ndim == 2 && view.itemsize == sizeof(float) && view.format != nullptr &&
         std::string_view(view.format) == "f";
}

}  // namespace tarnex::vormant
