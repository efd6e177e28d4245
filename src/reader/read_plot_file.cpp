#include "reader/read_plot_file.hpp"

#include "boundary/fatal_error.hpp"
#include "reader/messages.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"
#include "text/numbers.hpp"
#include "text/stdout_writer.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

LineSource open_plot_file(std::string_view path) {
  auto opened = LineSource::open(path);
  if (const IoError* error = std::get_if<IoError>(&opened)) {
    fatal(messages::with_description(messages::kPlotFileNotFound, error->describe()));
  }
  return std::get<LineSource>(std::move(opened));
}

// The parameter count at the end of the first line. A line without tokens counts 0
// parameters, which is refused: every block holds at least the time.
std::uint64_t read_parameter_count(LineSource& source) {
  std::string_view first_line;
  if (!next_line_or_end(source, first_line)) fatal(std::string(messages::kNoFirstLine));
  const std::vector<std::string_view> tokens = split_whitespace(first_line);
  std::uint64_t count = 0;
  if (!tokens.empty()) {
    const std::optional<std::uint64_t> parsed = parse_count(tokens.back());
    if (!parsed) {
      print_line({messages::kBadCountLineStart, tokens.back(), messages::kBadCountLineEnd});
      fatal(messages::quoting_first_line(messages::kBadParameterCount, first_line));
    }
    count = *parsed;
  }
  if (count == 0) fatal(messages::quoting_first_line(messages::kNoParameters, first_line));
  return count;
}

void skip_parameter_names(LineSource& source, std::uint64_t parameters) {
  std::string_view name_line;
  for (std::uint64_t read = 0; read < parameters; ++read) {
    if (!next_line_or_end(source, name_line)) fatal(std::string(messages::kFailedToReadLine));
  }
}

}  // namespace

PlotData read_plot_file(std::string_view path, std::uint64_t n_digits) {
  LineSource source = open_plot_file(path);
  const std::uint64_t parameters = read_parameter_count(source);
  skip_parameter_names(source, parameters);
  PlotData data;
  data.parameters = parameters;
  read_timestep_blocks(source, parameters, n_digits, data);
  return data;
}

}  // namespace tarnex
