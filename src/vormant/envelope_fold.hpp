// The envelope of a run of time steps: the steps cut into consecutive groups, and of each group
// the time of its first and last step and, per parameter, its first, last, smallest and largest
// value. A line drawn through these four points of every group that falls within one pixel
// column covers the same pixels as the line through every point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/plot_data.hpp"

namespace tarnex::vormant {

struct Envelope {
  std::vector<std::int64_t> start;  // the first step of each group, in the file's numbering
  PlotData time_first;              // one column
  PlotData time_last;
  PlotData first;  // a column per parameter chosen
  PlotData last;
  PlotData min;  // NaN left out; NaN for a group of NaN alone
  PlotData max;
};

// The first row of group `group` of `rows` rows cut into `groups`: floor(group * rows / groups).
std::size_t group_begin(std::size_t group, std::size_t rows, std::size_t groups) noexcept;

// Folds rows (the time, then `columns` values) into the envelope of `groups` groups of `rows`
// rows, the rows taken in order in pieces of any size. Memory: the envelope alone.
class EnvelopeFold {
 public:
  EnvelopeFold(std::size_t rows, std::size_t groups, std::size_t columns);

  // Rows `row` onwards, `count` of them, each the time and then the values.
  void fold(std::size_t row, const float* values, std::size_t count) noexcept;
  Envelope& result() noexcept { return envelope_; }

 private:
  void open_group(const float* values) noexcept;

  std::size_t rows_;
  std::size_t groups_;
  std::size_t columns_;
  std::size_t group_ = 0;       // the group being folded, once the first is open
  std::size_t next_begin_ = 0;  // the row that opens the next group
  float* first_ = nullptr;      // the rows of the envelope's columns
  float* last_ = nullptr;
  float* min_ = nullptr;
  float* max_ = nullptr;
  float* time_first_ = nullptr;
  float* time_last_ = nullptr;
  Envelope envelope_;
};

}  // namespace tarnex::vormant
