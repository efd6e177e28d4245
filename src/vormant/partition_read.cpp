#include "vormant/partition_read.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <string>
#include <variant>

#include "reader/block_index.hpp"
#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/streaming_read.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/positioned_read.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {
namespace {

constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

// A file opened and its header read: what every part needs.
struct OpenedFile {
  OpenedPlot plot;
  std::vector<std::string> names;
  std::uint64_t n_digits = 0;
};

std::uint64_t lines_per_step(const OpenedFile& opened) noexcept {
  return value_lines_per_step(opened.names.size()) + 1;
}

// The file's size now; a failure to learn it is one of reading line `line`.
std::uint64_t file_size(const OpenedPlot& plot, std::uint64_t line, FailurePolicy& policy) {
  struct stat status;
  if (::fstat(plot.file.get(), &status) != 0) {
    report_failure(
        policy, {.kind = FailureKind::ReadError, .line = line, .io_error = IoError::system(errno)});
  }
  return static_cast<std::uint64_t>(status.st_size);
}

// The most steps the bytes of the file from `offset` on can hold: every line of a step takes at
// least a byte, its line feed or, at the end of a file without one, its last byte.
std::uint64_t room_for_steps(const OpenedFile& opened, std::uint64_t offset, std::uint64_t line,
                             FailurePolicy& policy) {
  const std::uint64_t size = file_size(opened.plot, line, policy);
  return size > offset ? (size - offset) / lines_per_step(opened) : 0;
}

// Where step `step` starts: after line feed step * (lines a step) - 1, counted from the steps'
// start, of which `feeds_before` lie before `begin`.
StepsStart start_of_step(const OpenedFile& opened, std::uint64_t begin, std::uint64_t feeds_before,
                         std::uint64_t step, FailurePolicy& policy) {
  const std::uint64_t room =
      room_for_steps(opened, opened.plot.start.offset, opened.plot.start.line, policy);
  if (step > room) {
    throw ArgumentFault{.kind = ArgumentFault::Kind::Index,
                        .message = "time step " + std::to_string(step) +
                                   " lies past the end of a file that holds at most " +
                                   std::to_string(room)};
  }
  const std::uint64_t first_line = step * lines_per_step(opened);  // at most the file's size
  StepsStart at{.offset = opened.plot.start.offset, .line = opened.plot.start.line + first_line};
  if (first_line == 0) return at;
  if (feeds_before >= first_line) {
    throw ArgumentFault{.kind = ArgumentFault::Kind::Value,
                        .message = "feeds_before must be fewer than the " +
                                   std::to_string(first_line) + " line feeds before time step " +
                                   std::to_string(step)};
  }
  at.offset =
      after_line_feeds(opened.plot.file.get(), begin, first_line - feeds_before, policy, at.line);
  return at;
}

// Reads the part's steps, every column, into `plot` from `at` on; returns where they end. Only
// the steps the rest of the file can hold are made room for: a file shorter than the part ends
// inside the first step it lacks.
std::uint64_t read_every_column(const OpenedFile& opened, StepsStart at, std::uint64_t steps,
                                LoadedPlot& plot, FailurePolicy& policy) {
  const std::uint64_t parameters = opened.names.size();
  const auto width = static_cast<std::size_t>(parameters);
  const std::uint64_t readable =
      std::min(steps, room_for_steps(opened, at.offset, at.line, policy));
  if (readable > std::numeric_limits<std::size_t>::max() / sizeof(float) / width) {
    throw std::bad_alloc();
  }
  plot.data.parameters = parameters;
  float* rows = plot.data.values.append(static_cast<std::size_t>(readable) * width);
  LineSource source = LineSource::over_range(opened.plot.file.get(), at.offset, kToTheEnd, at.line,
                                             best_scan_level(), LineSource::kBulkReadSize);
  const std::atomic<bool> never{false};
  const FastFieldConverter convert_fast(static_cast<std::size_t>(opened.n_digits));
  read_steps(source, parameters, opened.n_digits, convert_fast, static_cast<std::size_t>(readable),
             rows, policy, never);
  if (readable < steps) {
    const std::uint64_t missing = at.line + readable * lines_per_step(opened);
    report_failure(
        policy, {.kind = FailureKind::EndsInsideTimeStep, .line = missing, .step_line = missing});
  }
  return source.offset();
}

}  // namespace

FileLayout read_layout(std::string_view path) {
  OpenedFile opened;
  ThrowingFailurePolicy policy(opened.names);
  opened.plot = open_plot(path, opened.names, policy);
  return {std::move(opened.names), opened.plot.start.offset};
}

std::vector<ByteRange> part_ranges(std::string_view path, std::uint64_t size) {
  OpenedFile opened;
  ThrowingFailurePolicy policy(opened.names);
  opened.plot = open_plot(path, opened.names, policy);
  const StepsStart start = opened.plot.start;
  return byte_ranges(start.offset, file_size(opened.plot, start.line, policy), size);
}

LineFeeds count_feeds(std::string_view path, std::uint64_t begin, std::uint64_t end) {
  std::vector<std::string> none;
  ThrowingFailurePolicy policy(none);
  const FileDescriptor file = open_plot_file(path, policy);
  LineFeeds feeds{.count = count_line_feeds(file.get(), begin, end, policy, 0),
                  .ends_with_feed = false};
  if (end > begin) {
    char last = 0;
    const ssize_t got = read_at(file.get(), &last, 1, end - 1);
    if (got < 0) {
      report_failure(
          policy, {.kind = FailureKind::ReadError, .line = 0, .io_error = IoError::system(errno)});
    }
    feeds.ends_with_feed = got == 1 && last == '\n';
  }
  return feeds;
}

LoadedPlot read_partition(std::string_view path, std::optional<std::uint64_t> n_digits,
                          std::optional<std::span<const std::uint64_t>> columns,
                          const Partition& part) {
  OpenedFile opened;
  ThrowingFailurePolicy policy(opened.names);
  opened.plot = open_plot(path, opened.names, policy);
  const std::uint64_t parameters = opened.names.size();
  if (columns) check_columns(*columns, parameters);
  opened.n_digits = field_width(opened.plot, n_digits, policy);
  const int fd = opened.plot.file.get();
  const StepsStart at =
      start_of_step(opened, part.begin, part.feeds_before, part.first_step, policy);
  LoadedPlot plot{.names = {}, .n_digits = opened.n_digits, .data = {}};
  const FastFieldConverter convert_fast(static_cast<std::size_t>(opened.n_digits));
  std::uint64_t end = at.offset;  // where the part's steps end
  if (!columns) {
    end = read_every_column(opened, at, part.steps, plot, policy);
  } else {
    BlockIndex index(parameters, at.offset, at.line);
    const IndexedFile file{fd, index, parameters, opened.n_digits, convert_fast};
    const ColumnPlan plan = ColumnPlan::chosen(parameters, *columns);
    StreamingSelection selection(file, plan, plot.data, policy);
    index.extend(fd, !part.checks_end, policy, best_scan_level(), &selection,
                 static_cast<std::size_t>(part.steps));
    if (index.steps() < part.steps) {
      // The file is shorter than when its line feeds were counted.
      report_failure(policy, {.kind = FailureKind::EndsInsideTimeStep,
                              .line = index.lead_line(index.steps()),
                              .step_line = index.lead_line(index.steps())});
    }
    end = index.complete_end();
    selection.finish();
  }
  if (part.checks_end) {
    check_steps_to_end(fd, {.offset = end, .line = at.line + part.steps * lines_per_step(opened)},
                       parameters, opened.n_digits, policy);
  }
  plot.names = std::move(opened.names);
  return plot;
}

float time_of_step(std::string_view path, std::optional<std::uint64_t> n_digits,
                   std::uint64_t begin, std::uint64_t feeds_before, std::uint64_t step) {
  OpenedFile opened;
  ThrowingFailurePolicy policy(opened.names);
  opened.plot = open_plot(path, opened.names, policy);
  opened.n_digits = field_width(opened.plot, n_digits, policy);
  const StepsStart at = start_of_step(opened, begin, feeds_before, step, policy);
  LineSource source = LineSource::over_range(opened.plot.file.get(), at.offset, kToTheEnd, at.line,
                                             best_scan_level(), LineSource::kBulkReadSize);
  std::string_view lead_line;
  std::string_view value_line;
  if (!next_line_or_end(source, lead_line, policy) ||
      !next_line_or_end(source, value_line, policy)) {
    report_failure(
        policy, {.kind = FailureKind::EndsInsideTimeStep, .line = at.line, .step_line = at.line});
  }
  return field_value({policy, at.line + 1, 0}, value_line, 0, opened.n_digits);
}

}  // namespace tarnex::vormant
