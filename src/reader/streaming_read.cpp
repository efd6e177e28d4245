#include "reader/streaming_read.hpp"

#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <string>

#include "text/positioned_read.hpp"

namespace tarnex {

StreamingSelection::StreamingSelection(const IndexedFile& file, const ColumnPlan& plan,
                                       PlotData& data, FailurePolicy& policy)
    : file_(file),
      data_(data),
      policy_(policy),
      plan_by_line_(static_cast<std::size_t>(value_lines_per_step(file.parameters)), nullptr) {
  for (const ColumnPlan::Line& line : plan.lines()) {
    plan_by_line_[static_cast<std::size_t>(line.index)] = &line;
  }
  data_.parameters = plan.row_width();
}

float* StreamingSelection::row(std::size_t step) {
  // Rows come in step order: the first value line of a step, which every read takes, makes its
  // row.
  const auto width = static_cast<std::size_t>(data_.parameters);
  if (data_.steps() <= step) data_.values.append(width);
  return data_.values.data() + step * width;
}

void StreamingSelection::take(std::size_t step, const ColumnPlan::Line& line, std::string_view text,
                              bool by_line_feed) {
  const std::uint64_t number = file_.index.lead_line(step) + 1 + line.index;
  take_fields(file_, line, checked_line(text, by_line_feed, number, policy_), number, row(step),
              policy_);
}

void StreamingSelection::value_line(std::size_t step, std::uint64_t line, std::uint64_t start,
                                    std::uint64_t end, const char* text, bool by_line_feed) {
  const ColumnPlan::Line* wanted = plan_by_line_[static_cast<std::size_t>(line)];
  if (wanted == nullptr || failure_) return;
  if (text == nullptr) {
    row(step);
    deferred_.push_back({step, wanted, start, end, by_line_feed});
    return;
  }
  try {
    take(step, *wanted, {text, static_cast<std::size_t>(end - start)}, by_line_feed);
  } catch (...) {
    // Lines read later may come earlier in the file: the failure waits for them.
    failure_ = std::current_exception();
  }
}

void StreamingSelection::finish() {
  std::string text;
  for (const Deferred& line : deferred_) {
    text.resize(static_cast<std::size_t>(line.end - line.start));
    const ssize_t count = read_at(file_.fd, text.data(), text.size(), line.start, text.size());
    if (count < 0) {
      report_failure(policy_, {.kind = FailureKind::ReadError,
                               .line = file_.index.lead_line(line.step) + 1 + line.line->index,
                               .io_error = IoError::system(errno)});
    }
    if (static_cast<std::size_t>(count) < text.size()) {
      const std::uint64_t step_line = file_.index.lead_line(line.step);
      report_failure(policy_, {.kind = FailureKind::EndsInsideTimeStep,
                               .line = step_line + 1 + line.line->index,
                               .step_line = step_line});
    }
    take(line.step, *line.line, text, line.by_line_feed);
  }
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace tarnex
