// vormant._reader.compare_piece: one piece of two runs compared, without the interpreter lock.
#pragma once

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

// Its entry in the module's method table, ended by an empty one.
extern PyMethodDef compare_methods[];

}  // namespace tarnex::vormant
