#include "reader/timestep_blocks.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "boundary/fatal_error.hpp"
#include "reader/messages.hpp"
#include "text/cut.hpp"
#include "text/numbers.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

constexpr std::uint64_t kFieldsPerLine = 10;

[[noreturn]] void fail_to_parse(ParseFloatErrorKind kind) {
  fatal(messages::with_description(messages::kCouldNotParseLine, describe_parse_error(kind)));
}

// Field `index` of a value line: bytes index * width up to (index + 1) * width, trimmed and
// read as binary32.
float field_value(std::string_view line, std::uint64_t index, std::uint64_t width) {
  const BytePosition start = BytePosition{index} * width;
  const BytePosition end = start + width;
  const std::optional<std::string_view> text = cut(line, start, end);
  if (!text) fatal(failed_cut_text(line, start, end));
  const Binary32Parse parsed = parse_binary32_field(*text);
  if (!parsed.ok) fail_to_parse(parsed.error);
  return parsed.value;
}

// Whether the first `count` fields of `line` can all be cut: the line reaches the end of the
// last one and every field border lies on a character boundary (the end of the line, or a byte
// that does not continue a character).
bool holds_fields(std::string_view line, std::uint64_t count, std::uint64_t width) noexcept {
  if (BytePosition{count} * width > line.size()) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
  const auto last_border = static_cast<std::size_t>(count * width);  // within the line
  const auto step = static_cast<std::size_t>(width);
  bool on_boundaries = last_border == line.size() || !is_continuation_byte(bytes[last_border]);
  for (std::size_t border = 0; border < last_border; border += step) {
    on_boundaries = on_boundaries && !is_continuation_byte(bytes[border]);
  }
  return on_boundaries;
}

// The values of parameters first .. first + count - 1 from one value line, written to their
// places in `row`. A line that holds all its fields is cut without further checks; any other
// goes field by field, so that each failure is the one the strict field order meets first.
void read_line_values(std::string_view line, std::uint64_t count, std::uint64_t width,
                      float* row) {
  if (!holds_fields(line, count, width)) {
    for (std::uint64_t field = 0; field < count; ++field) {
      row[field] = field_value(line, field, width);
    }
    return;
  }
  // Every field lies within the line, so its offset and width fit std::size_t. The leading
  // fields in the common shape are converted at once; the exact path takes the rest.
  const auto field_width = static_cast<std::size_t>(width);
  const std::size_t fast_count = convert_fast_fields(
      line.data(), line.size(), static_cast<std::size_t>(count), field_width, row);
  const char* text = line.data() + fast_count * field_width;
  for (std::uint64_t field = fast_count; field < count; ++field, text += field_width) {
    const Binary32Parse parsed = parse_binary32_field({text, field_width});
    if (!parsed.ok) fail_to_parse(parsed.error);
    row[field] = parsed.value;
  }
}

void read_block_values(LineSource& source, std::string_view value_line,
                       std::uint64_t parameters, std::uint64_t n_digits, float* row) {
  for (std::uint64_t first = 0; first < parameters; first += kFieldsPerLine) {
    if (first != 0) value_line = require_value_line(source);
    const std::uint64_t count = std::min(kFieldsPerLine, parameters - first);
    read_line_values(value_line, count, n_digits, row + first);
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
  // Every row holds P values in memory, so P fits std::size_t once a row has been made.
  std::string_view lead_line;
  while (next_line_or_end(source, lead_line)) {
    const std::string_view first_value_line = require_value_line(source);
    if (parameters > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
    float* const row = data.values.append(static_cast<std::size_t>(parameters));
    read_block_values(source, first_value_line, parameters, n_digits, row);
  }
  data.values.shrink_to_fit();
}

}  // namespace tarnex
