// The timestep blocks that follow the header: a lead line, then the values in fixed-width
// fields, ten to a line, the time first.
#pragma once

#include <cstdint>

#include "reader/plot_data.hpp"
#include "text/line_source.hpp"

namespace tarnex {

// Appends one row of `parameters` values to `data.values` per block until the file ends where
// a lead line would begin. `parameters` is at least 1.
void read_timestep_blocks(LineSource& source, std::uint64_t parameters, std::uint64_t n_digits,
                          PlotData& data);

// The next line; the end of the file is "Error reading line".
std::string_view require_value_line(LineSource& source);

// The next line, or false at the end of the file. A read error is fatal.
bool next_line_or_end(LineSource& source, std::string_view& line);

}  // namespace tarnex
