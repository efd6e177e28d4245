// The time steps of a plot file as text: per step a lead line, then the values ten fields to a
// line, each line ended by a line feed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnex {

// The bytes a lead line takes at most: its number is at most 20 digits.
inline constexpr std::size_t kLeadLineBound = 32;

// Writes the lead line of step `number` (1-based), its line feed included, at `out`, which
// has room for kLeadLineBound bytes. Returns the end of the line.
char* write_lead_line(char* out, std::uint64_t number) noexcept;

// The bytes that the text of one step with `parameters` values takes at most (its lead line's
// number being at most 20 digits).
std::size_t step_text_bound(std::size_t parameters, std::size_t width) noexcept;

// Writes `steps` steps of `parameters` values each, row after row from `values`, numbered from
// `first_number` on, with fields `width` (12 or 15) bytes wide, into `out`, which has room for
// steps * step_text_bound(...) bytes. Returns the end of the text.
char* write_step_text(char* out, const float* values, std::size_t parameters, std::size_t steps,
                      std::uint64_t first_number, std::size_t width) noexcept;

}  // namespace tarnex
