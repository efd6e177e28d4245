#include "reader/read_plot_file.hpp"

#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"
#include "text/numbers.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

LineSource open_plot_file(const ReadRequest& request, FailurePolicy& policy) {
  auto opened = LineSource::open(request.path, best_scan_level(), request.read_size);
  if (const IoError* error = std::get_if<IoError>(&opened)) {
    report_failure(policy, {.kind = FailureKind::CannotOpen, .io_error = *error});
  }
  return std::get<LineSource>(std::move(opened));
}

// The parameter count at the end of the first line. A line without tokens counts 0
// parameters, which is refused: every block holds at least the time.
std::uint64_t read_parameter_count(LineSource& source, FailurePolicy& policy) {
  std::string_view first_line;
  if (!next_line_or_end(source, first_line, policy)) {
    report_failure(policy, {.kind = FailureKind::NoFirstLine, .line = 1});
  }
  const std::vector<std::string_view> tokens = split_whitespace(first_line);
  std::uint64_t count = 0;
  std::string_view token;
  if (!tokens.empty()) {
    token = tokens.back();
    const std::optional<std::uint64_t> parsed = parse_count(token);
    if (!parsed) {
      report_failure(policy, {.kind = FailureKind::BadCount,
                              .line = 1,
                              .text = token,
                              .line_text = first_line});
    }
    count = *parsed;
  }
  if (count == 0) {
    report_failure(policy,
                   {.kind = FailureKind::ZeroCount, .line = 1, .text = token, .line_text = first_line});
  }
  return count;
}

void read_parameter_names(LineSource& source, std::uint64_t parameters, FailurePolicy& policy,
                          std::vector<std::string>* names) {
  std::string_view name_line;
  for (std::uint64_t read = 0; read < parameters; ++read) {
    if (!next_line_or_end(source, name_line, policy)) {
      report_failure(policy, {.kind = FailureKind::MissingNameLine,
                              .line = source.line_number() + 1,
                              .parameter = read,
                              .parameters = parameters});
    }
    if (names != nullptr) names->emplace_back(trim_whitespace(name_line));
  }
}

}  // namespace

std::uint64_t read_header(LineSource& source, FailurePolicy& policy,
                          std::vector<std::string>* names) {
  const std::uint64_t parameters = read_parameter_count(source, policy);
  read_parameter_names(source, parameters, policy, names);
  return parameters;
}

void read_plot_file(const ReadRequest& request, FailurePolicy& policy, PlotFile& file) {
  LineSource source = open_plot_file(request, policy);
  const std::uint64_t parameters =
      read_header(source, policy, request.keep_names ? &file.names : nullptr);
  file.data.parameters = parameters;
  std::optional<std::uint64_t> n_digits = request.n_digits;
  read_timestep_blocks(source, parameters, n_digits, file.data, policy);
  file.n_digits = *n_digits;
}

PlotData read_plot_file(std::string_view path, std::uint64_t n_digits, FailurePolicy& policy) {
  PlotFile file;
  read_plot_file({.path = path, .n_digits = n_digits}, policy, file);
  return std::move(file.data);
}

}  // namespace tarnex
