// The fields a selective read takes from a regular time step, converted in one kernel call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/column_plan.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {

// A regular step's value lines have the file's common lengths, so the plan's fields lie at
// offsets fixed once per read: from the start of the plan's first line, either with the lines
// as they lie in the file (`in_file`) or with only the plan's lines, one after the other
// (`gathered`). A step whose lines the kernel cannot take whole (a line that is not ASCII, a
// carriage return where a field ends, a field that is no number) is left to the line-by-line
// path, which meets its first failure in order.
class PickedFields {
 public:
  enum class Layout { InFile, Gathered };

  PickedFields(const ColumnPlan& plan, const BlockIndex& index, std::uint64_t width,
               const FastFieldConverter& convert_fast, Layout layout);

  // Whether convert() may be tried at all: enough fields for one call, a width the kernels know.
  bool usable() const noexcept { return usable_; }
  // The bytes from the plan's first line to the line feed of its last.
  std::size_t span() const noexcept { return span_; }
  // At least this many bytes must be readable past the span.
  static constexpr std::size_t kPadding = 16;

  // The plan's fields of the step whose plan lines start at `bytes` into `row`; false (and
  // `row` to be written again) when the step must go line by line.
  bool convert(const char* bytes, float* row);

 private:
  struct LineCheck {
    std::uint32_t start;   // of the line, from the first plan line's start
    std::uint32_t length;  // before its line feed
    std::uint32_t needed;  // the bytes its fields take
  };
  bool lines_can_be_taken(const char* bytes) const noexcept;

  const FastFieldConverter& convert_fast_;
  std::size_t width_;
  bool usable_ = false;
  std::size_t span_ = 0;
  std::vector<LineCheck> lines_;
  std::vector<std::uint32_t> offsets_;  // of each picked field
  std::vector<std::size_t> columns_;    // its place in the row
  std::vector<float> values_;
  std::vector<RefusedGroup> refused_;
};

}  // namespace tarnex
