// Chosen columns of every time step of a plot file, read by several threads from guessed step
// starts (guessed_parts.hpp): each thread converts the fields it takes as it indexes its share
// (StreamingSelection), and the parts' rows, a few values each, are put together in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/column_plan.hpp"
#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"
#include "reader/split_read.hpp"

namespace tarnex {

// Reads the plan's columns of every step of the open file `fd`, whose steps begin at `start`,
// into `data` as a read on one thread converting while it indexes would (the first failure in
// file order included) and returns true; or keeps nothing and returns false when the steps
// could not be guessed or a guess did not hold, or the file does not end with a whole step,
// and then that read must follow. `parts` is at least 2.
bool read_selection_guessed(int fd, StepsStart start, std::uint64_t parameters,
                            std::uint64_t n_digits, const ColumnPlan& plan, std::size_t parts,
                            PlotData& data, FailurePolicy& policy);

}  // namespace tarnex
