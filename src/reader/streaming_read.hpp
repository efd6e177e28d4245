// Chosen columns of every time step, converted while the block index is built: one pass over
// the file for a read that has no index to start from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/column_plan.hpp"
#include "reader/plot_data.hpp"
#include "reader/range_reader.hpp"

namespace tarnex {

class StreamingSelection final : public LineVisitor {
 public:
  // The plan's columns of every step of `file` (whose index is the one being built), into
  // `data`, one row per step.
  StreamingSelection(const IndexedFile& file, const ColumnPlan& plan, PlotData& data,
                     FailurePolicy& policy);

  void value_line(std::size_t step, std::uint64_t line, std::uint64_t start, std::uint64_t end,
                  const char* text, bool by_line_feed) override;

  // Once the index is built: the lines that ran across the scan's reads are read and
  // converted, and the first failure in file order, if any, goes on.
  void finish();

 private:
  struct Deferred {
    std::size_t step;
    const ColumnPlan::Line* line;
    std::uint64_t start;
    std::uint64_t end;
    bool by_line_feed;
  };

  void take(std::size_t step, const ColumnPlan::Line& line, std::string_view text,
            bool by_line_feed);
  float* row(std::size_t step);

  const IndexedFile& file_;
  PlotData& data_;
  FailurePolicy& policy_;
  std::vector<const ColumnPlan::Line*> plan_by_line_;  // null for a line the read skips
  std::vector<Deferred> deferred_;
  std::exception_ptr failure_;  // the first failure met while indexing
};

}  // namespace tarnex
