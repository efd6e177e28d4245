#include "reader/field_width.hpp"

namespace tarnex {
namespace {

// The two widths plot files are written with: 6 and 9 significant digits.
constexpr std::uint64_t kKnownWidths[] = {12, 15};

}  // namespace

std::optional<std::uint64_t> width_of_first_value_line(std::string_view value_line,
                                                       std::uint64_t parameters) noexcept {
  const std::uint64_t fields = fields_on_first_line(parameters);
  for (const std::uint64_t width : kKnownWidths) {
    if (value_line.size() == fields * width) return width;
  }
  return std::nullopt;
}

}  // namespace tarnex
