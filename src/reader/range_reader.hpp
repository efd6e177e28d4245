// Reading time steps of an indexed plot file straight from their offsets: a range of the rows
// of a result, so that several threads can each fill their own rows of one block.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/block_index.hpp"
#include "reader/column_plan.hpp"
#include "reader/file_mapping.hpp"
#include "reader/read_failure.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {

// The time steps first, first + stride, ... : `count` of them, all indexed.
struct StepSelection {
  std::size_t first = 0;
  std::ptrdiff_t stride = 1;
  std::size_t count = 0;

  std::size_t step(std::size_t row) const noexcept {
    return first + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(row) * stride);
  }
};

// An indexed file and how its fields are read.
struct IndexedFile {
  int fd;
  const BlockIndex& index;
  std::uint64_t parameters;
  std::uint64_t n_digits;
  const FastFieldConverter& convert_fast;
  // A mapping of the file's indexed bytes, to fetch lines far apart many to a call; none to
  // read them one by one.
  const FileMapping* mapping = nullptr;
};

// Reads the fields `line` of the plan takes from value line `text`, line `number` of the file,
// into their columns of `row`.
void take_fields(const IndexedFile& file, const ColumnPlan::Line& line, std::string_view text,
                 std::uint64_t number, float* row, FailurePolicy& policy);

// A value line's text without its line end, checked as valid UTF-8.
std::string_view checked_line(std::string_view text, bool by_line_feed, std::uint64_t number,
                              FailurePolicy& policy);

// Rows [begin, end) of the selection's result: row r, step selection.step(r), goes to
// out + r * plan.row_width(). A read of every column of consecutive steps checks every line
// of them, lead lines included, as a read of the whole file does; any other read looks only at
// the value lines it needs, and at only the fields it takes. Failures go to `policy` in file
// order. The read gives up between steps once `stop` is set.
void read_rows(const IndexedFile& file, const StepSelection& steps, const ColumnPlan& plan,
               std::size_t begin, std::size_t end, float* out, FailurePolicy& policy,
               const std::atomic<bool>& stop);

// What a read of the selection costs, in the bytes a read of the whole file would read in the
// same time, about.
std::uint64_t cost_of_read(const BlockIndex& index, const StepSelection& steps,
                           const ColumnPlan& plan) noexcept;

}  // namespace tarnex
