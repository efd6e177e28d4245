// A whole plot file read by several threads in one pass over its bytes, from guessed step
// starts (guessed_parts.hpp), each thread filling its rows of one block in place; the rows of a
// thread whose guessed place among the rows was off are moved to their place afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"
#include "reader/split_read.hpp"

namespace tarnex {

// Reads as read_steps_split does, the file's end being `end`, and returns true; or keeps
// nothing and returns false when the steps could not be guessed or a guess did not hold (a file
// whose lead lines have the length of its value lines, one whose steps differ much in length,
// one that does not end with a whole step), and then a read that counts the line feeds must
// follow. `parts` is at least 2.
bool read_steps_guessed(int fd, StepsStart start, std::uint64_t end, std::uint64_t parameters,
                        std::uint64_t n_digits, std::size_t parts, PlotData& data,
                        FailurePolicy& policy);

}  // namespace tarnex
