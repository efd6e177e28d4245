#include <limits>
#include <new>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/split_selection.hpp"
#include "reader/streaming_read.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/open_plot.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {
namespace {

// A read of fewer than one column in this many goes through the file once, on one thread,
// converting as the file is indexed; a wider one indexes the file first and converts on every
// thread that pays.
constexpr std::uint64_t kNarrow = 4;

// The chosen columns of every step, the file indexed first: it fails as opening it does, then
// as the read of those columns does.
LoadedPlot read_columns_indexed(OpenedPlot opened, std::vector<std::string> names,
                                std::optional<std::uint64_t> n_digits,
                                std::span<const std::uint64_t> columns, std::size_t threads) {
  const OpenPlot plot(std::move(opened), std::move(names), n_digits, false);
  plot.check_complete();
  const std::vector<std::string>& chosen_from = plot.names();
  check_columns(columns, chosen_from.size());
  LoadedPlot loaded{.names = {chosen_from[0]},
                    .n_digits = plot.n_digits().value_or(0),
                    .data = plot.read({.first = 0, .stride = 1, .count = plot.steps()},
                                      ColumnPlan::chosen(chosen_from.size(), columns), threads)};
  for (const std::uint64_t column : columns) loaded.names.push_back(chosen_from[column]);
  return loaded;
}

OpenedHeader read_header(std::string_view path) {
  OpenedHeader header;
  ThrowingFailurePolicy policy(header.names);
  header.opened = open_plot(path, header.names, policy);
  return header;
}

LoadedPlot read_columns(OpenedHeader header, std::optional<std::uint64_t> n_digits,
                        std::span<const std::uint64_t> columns, std::size_t threads) {
  std::vector<std::string>& names = header.names;
  OpenedPlot& opened = header.opened;
  ThrowingFailurePolicy policy(names);
  const std::uint64_t parameters = opened.parameters;
  if (threads != 1 && columns.size() * kNarrow >= parameters) {
    // The header read here is not read again: the open file takes it over.
    return read_columns_indexed(std::move(opened), std::move(names), n_digits, columns, threads);
  }
  const int fd = opened.file.get();
  const StepsStart start = opened.start;
  const std::uint64_t width = field_width(opened, n_digits, policy);
  check_columns(columns, parameters);
  const ColumnPlan plan = ColumnPlan::chosen(parameters, columns);
  LoadedPlot plot{.names = {names[0]}, .n_digits = width, .data = {}};
  for (const std::uint64_t column : columns) plot.names.push_back(names[column]);
  const std::size_t parts = whole_read_threads(fd, threads);
  if (parts > 1 &&
      read_selection_guessed(fd, start, parameters, width, plan, parts, plot.data, policy)) {
    return plot;
  }
  BlockIndex index(parameters, start.offset, start.line);
  const FastFieldConverter convert_fast(static_cast<std::size_t>(width));
  const IndexedFile file{fd, index, parameters, width, convert_fast};
  StreamingSelection selection(file, plan, plot.data, policy);
  index.extend(fd, false, policy, best_scan_level(), &selection);
  // A file that ends inside a step fails as its opening would, before any fault in a value.
  if (index.has_partial_block()) {
    check_steps_to_end(fd, {.offset = index.complete_end(), .line = index.lead_line(index.steps())},
                       parameters, width, policy);
  }
  selection.finish();
  return plot;
}

}  // namespace

LoadOutcome load_names(std::string_view path) noexcept {
  return guarded([&] {
    LoadedPlot plot{.names = {}, .n_digits = 0, .data = {}};
    ThrowingFailurePolicy policy(plot.names);
    open_plot(path, plot.names, policy);
    return plot;
  });
}

Outcome<OpenedHeader> open_header(std::string_view path) noexcept {
  return guarded([&] { return read_header(path); });
}

LoadOutcome load_plot_columns(OpenedHeader header, std::optional<std::uint64_t> n_digits,
                              std::span<const std::uint64_t> columns,
                              std::size_t threads) noexcept {
  return guarded([&] { return read_columns(std::move(header), n_digits, columns, threads); });
}

LoadOutcome load_plot_columns(std::string_view path, std::optional<std::uint64_t> n_digits,
                              std::span<const std::uint64_t> columns,
                              std::size_t threads) noexcept {
  return guarded([&] { return read_columns(read_header(path), n_digits, columns, threads); });
}

}  // namespace tarnex::vormant
