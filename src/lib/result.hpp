// The reader's PlotData as the interpreter objects that rust_read_vormant returns.
#pragma once

#include "boundary/py_errors.hpp"
#include "reader/plot_data.hpp"

namespace tarnex {

// (list of the time floats, list of one list of floats per column), each float the exact
// widening of its binary32 value. The storage of `data` is given back a tile of rows at a time
// as the lists are filled. A list, float or tuple that cannot be made ends the call by the null-result rule.
PyRef to_python_result(PlotData&& data);

}  // namespace tarnex
