// The timestep blocks that follow the header: a lead line, then the values in fixed-width
// fields, ten to a line, the time first.
#pragma once

#include <cstdint>
#include <optional>

#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"
#include "text/line_source.hpp"

namespace tarnex {

// Appends one row of `parameters` values to `data.values` per block until the file ends where
// a lead line would begin. `parameters` is at least 1. Without `n_digits`, the first value line
// tells it; a file without one fails for want of a width.
void read_timestep_blocks(LineSource& source, std::uint64_t parameters,
                          std::optional<std::uint64_t>& n_digits, PlotData& data,
                          FailurePolicy& policy);

// The next value line of the time step whose lead line is `step_line`; the end of the file
// fails.
std::string_view require_value_line(LineSource& source, std::uint64_t step_line,
                                    FailurePolicy& policy);

// The next line, or false at the end of the file. A read error fails.
bool next_line_or_end(LineSource& source, std::string_view& line, FailurePolicy& policy);

}  // namespace tarnex
