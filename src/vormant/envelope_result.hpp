// An envelope handed to Python: (start, time_first, time_last, first, last, min, max), start
// the bytes of its int64 step numbers, the others Values blocks of one row per group.
#pragma once

#include "boundary/py_compat.hpp"
#include "vormant/envelope_fold.hpp"

namespace tarnex::vormant {

// Takes over the envelope's blocks; null with an exception set.
PyObject* envelope_tuple(PyTypeObject* values_type, Envelope& envelope) noexcept;

}  // namespace tarnex::vormant
