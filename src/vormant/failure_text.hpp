// The words of vormant's messages for a plot file that cannot be read.
#pragma once

#include <span>
#include <string>

#include "reader/read_failure.hpp"

namespace tarnex::vormant {

// The message for `failure`, to follow the file's path: ", line 17: field 3 ('  1.2.3E+00') is
// not a number (parameter 'PRESSURE', column 2)" or ": the file ends inside the time step
// that starts on line 40 (line 43 expected)". `names` are the name lines read so far.
std::string failure_text(const ReadFailure& failure, std::span<const std::string> names);

}  // namespace tarnex::vormant
