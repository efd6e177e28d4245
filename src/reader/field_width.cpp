#include "reader/field_width.hpp"

#include "text/cut.hpp"
#include "text/numbers.hpp"

namespace tarnex {
namespace {

// Whether the first `fields` fields of `value_line`, `width` bytes each, all hold numbers.
bool reads_as_numbers(std::string_view value_line, std::uint64_t fields, std::uint64_t width) {
  if (fields * width > value_line.size()) return false;
  for (std::uint64_t field = 0; field < fields; ++field) {
    const std::optional<std::string_view> text =
        cut(value_line, field * width, (field + 1) * width);
    if (!text || !parse_binary32_field(*text).ok) return false;
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> width_of_first_value_line(std::string_view value_line,
                                                       std::uint64_t parameters) noexcept {
  const std::uint64_t fields = fields_on_first_line(parameters);
  for (const std::uint64_t width : kFieldWidths) {
    if (value_line.size() != fields * width) continue;
    // The length alone may mislead: a line of the other width with spare bytes at its end has
    // the same length. The width holds only when its fields are numbers and the other width's
    // are not.
    const std::uint64_t other = width == kFieldWidths[0] ? kFieldWidths[1] : kFieldWidths[0];
    if (reads_as_numbers(value_line, fields, width) &&
        !reads_as_numbers(value_line, fields, other)) {
      return width;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace tarnex
