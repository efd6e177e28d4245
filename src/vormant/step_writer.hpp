// The time steps of a plot in memory written as plot file text to an open file, formatted by
// threads a bounded piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnex::vormant {

struct StepBlock {
  const float* values;  // `steps` rows of `parameters` values
  std::size_t parameters;
  std::size_t steps;
};

// Writes all of [data, data + size) to `fd`, again after a signal or a short write. Returns 0,
// or the errno of the write that failed.
int write_all(int fd, const char* data, std::size_t size) noexcept;

// Writes the steps of `block`, numbered from `first_number` on, with fields `width` (12 or 15)
// bytes wide, to the file descriptor `fd`, formatted by up to `threads` threads. Returns 0, or
// the errno of the write that failed. Throws std::bad_alloc when its buffers cannot be had.
int write_steps(int fd, const StepBlock& block, std::uint64_t first_number, std::size_t width,
                std::size_t threads);

}  // namespace tarnex::vormant
