// Where time steps start in bytes taken from the middle of a plot file, told by the lengths of
// its lines alone: a guess, which a read of the bytes before them then confirms or refutes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnex {

// The lines of a time step: a lead line of any length, then value lines of fixed length.
struct StepShape {
  std::size_t value_lines;  // at least 1
  std::size_t full_length;  // of every value line but the last, without its line end
  std::size_t last_length;  // of the last value line

  static StepShape of(std::uint64_t parameters, std::uint64_t width) noexcept;
};

// A lead line found in the bytes, and the length of the step it leads, line ends included.
struct StepGuess {
  std::size_t offset;
  std::size_t step_bytes;
};

// In `bytes`, which begin at a line's start, the one lead line from which every whole line of
// the bytes fits the shape (the lines before it as the end of a step), with at least `steps`
// whole steps from it. None when no line or more than one fits so: a file whose lead lines
// have the length of its value lines cannot be told apart this way.
std::optional<StepGuess> guess_step_start(std::string_view bytes, const StepShape& shape,
                                          std::size_t steps) noexcept;

}  // namespace tarnex
