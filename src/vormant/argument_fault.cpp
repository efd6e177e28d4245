#include "vormant/argument_fault.hpp"

namespace tarnex::vormant {

ArgumentFault column_out_of_range(std::uint64_t column, std::uint64_t parameters) {
  return {.kind = ArgumentFault::Kind::Index,
          .message = "column " + std::to_string(column) + " out of range: the file has " +
                     std::to_string(parameters) + " parameters"};
}

void check_columns(std::span<const std::uint64_t> columns, std::uint64_t parameters) {
  for (const std::uint64_t column : columns) {
    if (column == 0 || column >= parameters) throw column_out_of_range(column, parameters);
  }
}

}  // namespace tarnex::vormant
