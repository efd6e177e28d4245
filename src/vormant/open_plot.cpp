#include "vormant/open_plot.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/thread_split.hpp"
#include "reader/timestep_blocks.hpp"
#include "vormant/plot_file_failure.hpp"
#include "vormant/plot_preamble.hpp"
#include "vormant/step_copy.hpp"

namespace tarnex::vormant {
namespace {

std::size_t threads_for(std::uint64_t bytes, std::size_t asked) noexcept {
  if (asked != 0) return asked;
  const std::uint64_t wanted = bytes / kBytesPerThread + 1;
  return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, usable_processors()));
}

// The width the first value line of the file's first block tells; its failure otherwise.
std::uint64_t width_of_first_block(int fd, const BlockIndex& index, std::uint64_t parameters,
                                   const std::vector<std::string>& names) {
  ThrowingFailurePolicy policy(names);
  LineSource first = LineSource::over_range(fd, index.start(0), index.end(0), index.lead_line(0),
                                            best_scan_level(), LineSource::kBulkReadSize);
  std::string_view lead_line;
  std::string_view value_line;
  if (!next_line_or_end(first, lead_line, policy) || !next_line_or_end(first, value_line, policy)) {
    report_failure(policy, {.kind = FailureKind::EndsInsideTimeStep,
                            .line = first.line_number() + 1,
                            .step_line = index.lead_line(0)});
  }
  return width_told_by(first, value_line, parameters, policy);
}

}  // namespace

OpenPlot::OpenPlot(std::string_view path, std::optional<std::uint64_t> n_digits, bool growing)
    : growing_(growing), n_digits_(n_digits) {
  ThrowingFailurePolicy policy(names_);
  index_opened(open_plot(path, names_, policy), policy);
}

OpenPlot::OpenPlot(OpenedPlot opened, std::vector<std::string> names,
                   std::optional<std::uint64_t> n_digits, bool growing)
    : names_(std::move(names)), growing_(growing), n_digits_(n_digits) {
  ThrowingFailurePolicy policy(names_);
  index_opened(std::move(opened), policy);
}

void OpenPlot::index_opened(OpenedPlot opened, FailurePolicy& policy) {
  file_ = std::move(opened.file);
  parameters_ = opened.parameters;
  index_ = BlockIndex(parameters_, opened.start.offset, opened.start.line);
  index_.extend(file_.get(), growing_, policy);
  if (!n_digits_ && index_.steps() == 0 && !growing_) {
    // No step to tell the width: the steps after the header fail the way a whole read fails,
    // at a block the file ends inside, or for want of a width.
    check_steps_to_end(file_.get(), {.offset = index_.complete_end(), .line = index_.lead_line(0)},
                       parameters_, n_digits_, policy);
  }
  learn_width();
  map_indexed_bytes();
}

void OpenPlot::map_indexed_bytes() {
  mapping_ = std::make_unique<FileMapping>(file_.get(), index_.complete_end());
}

void OpenPlot::learn_width() {
  if (n_digits_ || index_.steps() == 0) return;
  n_digits_ = width_of_first_block(file_.get(), index_, parameters_, names_);
}

std::size_t OpenPlot::refresh() {
  ThrowingFailurePolicy policy(names_);
  const std::uint64_t indexed_end = index_.complete_end();
  const std::size_t added = index_.extend(file_.get(), growing_, policy);
  learn_width();
  // A last block indexed again after its line feed arrived ends a byte later, with no step added.
  if (index_.complete_end() != indexed_end) map_indexed_bytes();
  return added;
}

void OpenPlot::check_complete() const {
  if (growing_ || !index_.has_partial_block()) return;
  ThrowingFailurePolicy policy(names_);
  check_steps_to_end(file_.get(),
                     {.offset = index_.complete_end(), .line = index_.lead_line(index_.steps())},
                     parameters_, n_digits_, policy);
}

PlotData OpenPlot::read(const StepSelection& steps, const ColumnPlan& plan,
                        std::size_t threads) const {
  PlotData data;
  data.parameters = plan.row_width();
  if (steps.count == 0) return data;
  const std::size_t width = plan.row_width();
  if (steps.count > std::numeric_limits<std::size_t>::max() / sizeof(float) / width) {
    throw std::bad_alloc();
  }
  // Without a width, the first block told none and the refresh that indexed it failed: every
  // read of the steps fails the same way.
  const std::uint64_t n_digits =
      n_digits_ ? *n_digits_ : width_of_first_block(file_.get(), index_, parameters_, names_);
  float* const rows = data.values.append_unfilled(steps.count * width);
  const FastFieldConverter convert_fast(static_cast<std::size_t>(n_digits));
  const IndexedFile file{file_.get(), index_, parameters_, n_digits, convert_fast, mapping_.get()};
  ThrowingFailurePolicy policy(names_);
  // The steps are read forwards through the file whatever the stride, so that a read meets
  // the earliest fault in the file first, as a read of the whole file does: a selection going
  // backwards is read as its mirror image, its rows turned round afterwards.
  const bool backwards = steps.stride < 0;
  const StepSelection forwards =
      backwards ? StepSelection{steps.step(steps.count - 1), -steps.stride, steps.count} : steps;
  const std::size_t parts = threads_for(cost_of_read(index_, forwards, plan), threads);
  run_split(steps.count, parts,
            [&](std::size_t begin, std::size_t end, const std::atomic<bool>& stop) {
              data.values.make_present(begin * width, end * width);
              read_rows(file, forwards, plan, begin, end, rows, policy, stop);
            });
  if (backwards) {
    for (std::size_t low = 0, high = steps.count - 1; low < high; ++low, --high) {
      std::swap_ranges(rows + low * width, rows + (low + 1) * width, rows + high * width);
    }
  }
  return data;
}

int OpenPlot::copy_steps(std::size_t first, std::size_t count, int target,
                         std::uint64_t first_number) const {
  if (count == 0) return 0;
  // Without a width, the first block told none: the copy fails as a read does.
  const std::uint64_t n_digits =
      n_digits_ ? *n_digits_ : width_of_first_block(file_.get(), index_, parameters_, names_);
  ThrowingFailurePolicy policy(names_);
  return vormant::copy_steps({file_.get(), index_, parameters_, n_digits}, first, count, target,
                             first_number, policy);
}

}  // namespace tarnex::vormant
