// An argument of a native call that only the file it reads shows to be unusable: a column past
// its parameters, a time step no file of its size holds. The reader code throws it; the
// function the interpreter called raises it as the Python exception its kind names.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarnex::vormant {

struct ArgumentFault {
  enum class Kind { Value, Index, Overflow };
  Kind kind;
  std::string message;
};

// The fault of column `column` of a file of `parameters` parameters, whose columns are 1 to
// parameters - 1 (0 is the time).
ArgumentFault column_out_of_range(std::uint64_t column, std::uint64_t parameters);

// Throws column_out_of_range for the first of `columns` the file lacks.
void check_columns(std::span<const std::uint64_t> columns, std::uint64_t parameters);

}  // namespace tarnex::vormant
