#include <limits>
#include <new>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/streaming_read.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex::vormant {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

FileDescriptor open_file(std::string_view path, FailurePolicy& policy) {
  auto opened = open_read_only(path);
  if (const IoError* error = std::get_if<IoError>(&opened)) {
    report_failure(policy, {.kind = FailureKind::CannotOpen, .io_error = *error});
  }
  return std::move(std::get<FileDescriptor>(opened));
}

// The header of the open file `fd`, its names into `names`; where its steps start.
StepsStart read_names(int fd, std::vector<std::string>& names, FailurePolicy& policy) {
  LineSource header = LineSource::over_range(fd, 0, kToTheEnd, 1, best_scan_level(), kReadSize);
  const std::uint64_t parameters = read_header(header, policy, &names);
  return {.offset = header.offset(), .line = parameters + 2};
}

LoadedPlot read_columns(std::string_view path, std::optional<std::uint64_t> n_digits,
                        std::span<const std::uint64_t> columns) {
  std::vector<std::string> names;
  ThrowingFailurePolicy policy(names);
  const FileDescriptor opened = open_file(path, policy);
  const int fd = opened.get();
  const StepsStart start = read_names(fd, names, policy);
  const std::uint64_t parameters = names.size();
  const std::uint64_t width = n_digits ? *n_digits : width_of_first_step(fd, start, parameters, policy);
  check_columns(columns, parameters);
  BlockIndex index(parameters, start.offset, start.line);
  const FastFieldConverter convert_fast(static_cast<std::size_t>(width));
  const IndexedFile file{fd, index, parameters, width, convert_fast};
  const ColumnPlan plan = ColumnPlan::chosen(parameters, columns);
  LoadedPlot plot{.names = {names[0]}, .n_digits = width, .data = {}};
  StreamingSelection selection(file, plan, plot.data, policy);
  index.extend(fd, false, policy, best_scan_level(), &selection);
  // A file that ends inside a step fails as its opening would, before any fault in a value.
  if (index.has_partial_block()) {
    check_steps_to_end(fd, {.offset = index.complete_end(), .line = index.lead_line(index.steps())},
                       parameters, width, policy);
  }
  selection.finish();
  for (const std::uint64_t column : columns) plot.names.push_back(names[column]);
  return plot;
}

}  // namespace

LoadOutcome load_names(std::string_view path) noexcept {
  return guarded([&] {
    LoadedPlot plot{.names = {}, .n_digits = 0, .data = {}};
    ThrowingFailurePolicy policy(plot.names);
    const FileDescriptor file = open_file(path, policy);
    read_names(file.get(), plot.names, policy);
    return plot;
  });
}

LoadOutcome load_plot_columns(std::string_view path, std::optional<std::uint64_t> n_digits,
                              std::span<const std::uint64_t> columns) noexcept {
  return guarded([&] { return read_columns(path, n_digits, columns); });
}

}  // namespace tarnex::vormant
