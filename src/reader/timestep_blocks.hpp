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

// The failure of a line that the source could not give: a failed read, or invalid UTF-8.
[[noreturn, gnu::cold]] void fail_to_take_line(const LineSource& source, FailurePolicy& policy);

// The next line, or false at the end of the file. A read error fails. Inline: every line of
// the file passes here.
inline bool next_line_or_end(LineSource& source, std::string_view& line, FailurePolicy& policy) {
  const LineStatus status = source.next(line);
  if (status == LineStatus::Line) [[likely]]
    return true;
  if (status == LineStatus::EndOfFile) return false;
  fail_to_take_line(source, policy);
}

}  // namespace tarnex
