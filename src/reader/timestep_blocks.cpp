#include "reader/timestep_blocks.hpp"

#include "boundary/fatal_error.hpp"
#include "reader/messages.hpp"
#include "text/cut.hpp"
#include "text/numbers.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

constexpr std::uint64_t kFieldsPerLine = 10;

// Field `index` of a value line: bytes index * width up to (index + 1) * width, trimmed and
// read as binary32.
float field_value(std::string_view line, std::uint64_t index, std::uint64_t width) {
  const BytePosition start = BytePosition{index} * width;
  const BytePosition end = start + width;
  const std::optional<std::string_view> text = cut(line, start, end);
  if (!text) fatal(failed_cut_text(line, start, end));
  const Binary32Parse parsed = parse_binary32(trim_whitespace(*text));
  if (!parsed.ok) {
    fatal(messages::with_description(messages::kCouldNotParseLine,
                                     describe_parse_error(parsed.error)));
  }
  return parsed.value;
}

void read_block_values(LineSource& source, std::string_view value_line,
                       std::uint64_t parameters, std::uint64_t n_digits, PlotData& data) {
  data.time.push_back(field_value(value_line, 0, n_digits));
  for (std::uint64_t parameter = 1; parameter < parameters; ++parameter) {
    const std::uint64_t field = parameter % kFieldsPerLine;
    if (field == 0) value_line = require_value_line(source);
    data.columns[parameter - 1].push_back(field_value(value_line, field, n_digits));
  }
}

}  // namespace

bool next_line_or_end(LineSource& source, std::string_view& line) {
  switch (source.next(line)) {
    case LineStatus::Line:
      return true;
    case LineStatus::EndOfFile:
      return false;
    case LineStatus::Error:
      break;
  }
  fatal(messages::with_description(messages::kFailedToReadLine, source.error().describe()));
}

std::string_view require_value_line(LineSource& source) {
  std::string_view line;
  if (!next_line_or_end(source, line)) fatal(std::string(messages::kErrorReadingLine));
  return line;
}

void read_timestep_blocks(LineSource& source, std::uint64_t parameters, std::uint64_t n_digits,
                          PlotData& data) {
  std::string_view lead_line;
  while (next_line_or_end(source, lead_line)) {
    read_block_values(source, require_value_line(source), parameters, n_digits, data);
  }
}

}  // namespace tarnex
