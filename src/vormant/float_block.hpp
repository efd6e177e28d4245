// The shape of the values vormant hands to and takes from Python: rows of float32 numbers.
#pragma once

#include <cstddef>
#include <string_view>

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

// Whether a buffer view is a 2-dimensional block of float32 values (format 'f').
inline bool is_float_block(const Py_buffer& view) noexcept {
  return view.ndim == 2 && view.itemsize == sizeof(float) && view.format != nullptr &&
         std::string_view(view.format) == "f";
}

// A 2-dimensional C-contiguous float32 buffer held for a native call and let go at its end.
class HeldFloatBlock {
 public:
  HeldFloatBlock() = default;
  HeldFloatBlock(const HeldFloatBlock&) = delete;
  HeldFloatBlock& operator=(const HeldFloatBlock&) = delete;
  ~HeldFloatBlock() {
    if (held_) PyBuffer_Release(&view_);
  }

  // Takes the buffer of `object` (writable when asked); false with an exception set when it
  // is no such block.
  bool take(PyObject* object, const char* what, bool writable) noexcept {
    const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(object, &view_, flags) != 0) return false;
    held_ = true;
    if (is_float_block(view_)) return true;
    PyErr_Format(PyExc_TypeError, "%s must be a C-contiguous 2-dimensional buffer of format 'f'",
                 what);
    return false;
  }

  float* data() const noexcept { return static_cast<float*>(view_.buf); }
  std::size_t rows() const noexcept { return static_cast<std::size_t>(view_.shape[0]); }
  std::size_t columns() const noexcept { return static_cast<std::size_t>(view_.shape[1]); }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace tarnex::vormant
