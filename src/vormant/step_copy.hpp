// Time steps of a plot file copied into another as they are: each lead line written anew with
// the step's new number, the value lines byte for byte, none of their values converted. What
// `vormant merge` and `vormant cut` write when the output keeps the source's fields and width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/block_index.hpp"
#include "reader/read_failure.hpp"

namespace tarnex::vormant {

// The plot file steps are copied from: its descriptor, its block index, its parameters and its
// field width.
struct CopySource {
  int fd;
  const BlockIndex& index;
  std::uint64_t parameters;
  std::uint64_t n_digits;
};

// Steps first .. first + count - 1 of `source` written to the file descriptor `target`,
// numbered from `first_number` on. Every line is taken as a read takes it and every field of
// a value line is checked as a number of the file's width, so that the copy holds nothing its
// reader refuses; a fault goes to `policy` as a read reports it (line, field, parameter), as
// does a failure to read the source. A value line is copied with its own line end (a carriage
// return kept); the end of the file, where it stood for the last one, becomes a line feed.
// Returns 0, or the errno of the write that failed. Throws std::bad_alloc when its buffers
// cannot be had.
int copy_steps(const CopySource& source, std::size_t first, std::size_t count, int target,
               std::uint64_t first_number, FailurePolicy& policy);

}  // namespace tarnex::vormant
