// Which fields of a time step's value lines a read takes, and where each goes in its row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnex {

class ColumnPlan {
 public:
  // One field to take: its place on its value line and its column in the row.
  struct Pick {
    std::uint64_t field;
    std::size_t column;
  };
  // A value line the read needs.
  struct Line {
    std::uint64_t index;   // 0 for the first value line of a step
    std::uint64_t fields;  // the fields it holds: 10, or fewer on a step's last line
    // Every field, in order, to columns first_column onwards: the line converts as a whole.
    bool whole;
    std::size_t first_column;
    std::vector<Pick> picks;  // in field order
  };

  // Every parameter of a file with `parameters` of them, in the file's order.
  static ColumnPlan all(std::uint64_t parameters);
  // The time, then `chosen` (parameter indices from 1 to P - 1) in the order given.
  static ColumnPlan chosen(std::uint64_t parameters, std::span<const std::uint64_t> chosen);

  bool takes_all() const noexcept { return takes_all_; }
  // The values of one row.
  std::size_t row_width() const noexcept { return row_width_; }
  // The lines in file order.
  const std::vector<Line>& lines() const noexcept { return lines_; }

 private:
  std::vector<Line> lines_;
  std::size_t row_width_ = 0;
  bool takes_all_ = false;
};

}  // namespace tarnex
