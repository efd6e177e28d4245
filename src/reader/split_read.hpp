// A whole plot file read by several threads at once, without a block index: the threads count
// the line feeds of their share of the bytes, the counts tell each where its first time step
// starts, and each reads its steps into its rows of one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"

namespace tarnex {

// Where the time steps begin: the byte after the header, and the number of its first line.
struct StepsStart {
  std::uint64_t offset;
  std::uint64_t line;
};

// The line feeds among bytes [begin, end) of the file, as many as it has; a read failure names
// `line`.
std::uint64_t count_line_feeds(int fd, std::uint64_t begin, std::uint64_t end,
                               FailurePolicy& policy, std::uint64_t line);

// The offset just past the `count`-th line feed from `from` (count at least 1), or the end of
// the file where it has fewer.
std::uint64_t after_line_feeds(int fd, std::uint64_t from, std::uint64_t count,
                               FailurePolicy& policy, std::uint64_t line);

// The width the first time step's first value line tells; a file without such a line fails as
// a read in one go fails.
std::uint64_t width_of_first_step(int fd, StepsStart start, std::uint64_t parameters,
                                  FailurePolicy& policy);

// Reads the time steps from `start` to the end of the file, for their failures alone: the
// failure of what follows the last complete step, a step the file ends inside or a fault before
// that end, as a read in one go reports it. Without `n_digits` the first step tells it.
void check_steps_to_end(int fd, StepsStart start, std::uint64_t parameters,
                        std::optional<std::uint64_t> n_digits, FailurePolicy& policy);

// Every complete time step of the open file `fd` from `start` on, `parameters` values of
// `n_digits` bytes each, read by `parts` threads into `data`. Every line is checked and the
// first failure in file order goes to `policy`, as a read in one go would report it; a step the
// file ends inside is such a failure, after every step before it. The file is read up to the
// end it has when the read starts.
void read_steps_split(int fd, StepsStart start, std::uint64_t parameters, std::uint64_t n_digits,
                      std::size_t parts, PlotData& data, FailurePolicy& policy);

}  // namespace tarnex
