// vormant._reader's functions for splitting one plot file among workers (Dask): its layout,
// its byte ranges and its parts from their line feeds, the line feeds of a byte range, the steps
// of one part, the time of one step.
#pragma once

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

// Their entries in the module's method table, ended by an empty one.
extern PyMethodDef partition_methods[];

}  // namespace tarnex::vormant
