// Plot files for the tests of indexed reads, built as lines so that a test can change any line
// by its number before the lines are joined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::testing {

struct PlotLines {
  std::uint64_t parameters = 1;
  std::vector<std::string> lines;  // line n of the file is lines[n - 1], without its line end

  std::uint64_t value_lines() const noexcept { return (parameters + 9) / 10; }
  // Line numbers, 1-based, as failures give them.
  std::uint64_t lead_line(std::size_t step) const noexcept {
    return parameters + 2 + step * (value_lines() + 1);
  }
  std::uint64_t value_line(std::size_t step, std::uint64_t index) const noexcept {
    return lead_line(step) + 1 + index;
  }
  std::string& line(std::uint64_t number) { return lines[number - 1]; }

  // The lines, each ended by `eol` but the last when `final_eol` is false.
  std::string text(std::string_view eol, bool final_eol = true) const;
  // Where each line starts in text(eol): line n at [n - 1]; the text's size last.
  std::vector<std::uint64_t> line_offsets(std::string_view eol) const;
};

// `steps` time steps of `parameters` values in fields `width` bytes wide: mostly Fortran E
// fields, some in other shapes that read as numbers, from subnormals to large magnitudes, signs
// and zeros included. Lead lines vary in length; value lines hold their fields and no more.
PlotLines make_plot(std::uint64_t parameters, std::size_t steps, int width, unsigned seed);

}  // namespace tarnex::testing
