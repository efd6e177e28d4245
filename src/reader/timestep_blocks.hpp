// The timestep blocks that follow the header: a lead line, then the values in fixed-width
// fields, ten to a line, the time first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"
#include "text/line_source.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {

class StepValues;

// A value line as its failures name it: its number in the file and its first parameter.
struct ValueLineSite {
  FailurePolicy& policy;
  std::uint64_t number;
  std::uint64_t first;
};

// Field `index` of a value line: bytes index * width up to (index + 1) * width, trimmed and
// read as binary32.
float field_value(const ValueLineSite& site, std::string_view line, std::uint64_t index,
                  std::uint64_t width);

// The values of parameters first .. first + count - 1 of `site` from its value line `line`,
// written to row[0 .. count), every field checked, the first failure in field order reported.
void read_line_values(std::string_view line, std::uint64_t count, std::uint64_t width,
                      const FastFieldConverter& convert_fast, float* row,
                      const ValueLineSite& site);

// The next value line of the time step whose lead line is `step_line`; the end of the file
// fails.
std::string_view require_value_line(LineSource& source, std::uint64_t step_line,
                                    FailurePolicy& policy);

// Appends one row of `parameters` values to `data.values` per block until the file ends where
// a lead line would begin. `parameters` is at least 1. Without `n_digits`, the first value line
// tells it; a file without one fails for want of a width.
void read_timestep_blocks(LineSource& source, std::uint64_t parameters,
                          std::optional<std::uint64_t>& n_digits, PlotData& data,
                          FailurePolicy& policy);

// Where the rows of time steps go: room for rows first .. first + count - 1 of a read, which
// may ask again for rows it was given.
using RowsAt = std::function<float*(std::size_t first, std::size_t count)>;

// The one loop over time steps: reads up to `most` of them from `source`, which stands at a
// lead line, into the rows `rows_at` gives, and returns how many it read. It stops early where
// the source ends at a lead line, or between steps once `stop` is set; a source that ends
// inside a step fails.
std::size_t read_steps_to_end(LineSource& source, StepValues& values, std::size_t most,
                              const RowsAt& rows_at, FailurePolicy& policy,
                              const std::atomic<bool>& stop);

// Reads `count` time steps from `source`, which stands at the lead line of the first, into
// out[0 .. count * parameters); gives up between steps once `stop` is set. A file that ends
// before the last of them fails as one that ends inside a time step.
void read_steps(LineSource& source, std::uint64_t parameters, std::uint64_t n_digits,
                const FastFieldConverter& convert_fast, std::size_t count, float* out,
                FailurePolicy& policy, const std::atomic<bool>& stop);

// The width that `value_line`, the first value line, just taken from `source`, gives; a line
// that does not tell it fails.
std::uint64_t width_told_by(const LineSource& source, std::string_view value_line,
                            std::uint64_t parameters, FailurePolicy& policy);

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
