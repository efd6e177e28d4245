// Telling the field width from a file's first value line, for a reader not given one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnex {

inline constexpr std::uint64_t kFieldsPerLine = 10;
// The two widths plot files are written with: 12 bytes in files of 6 significant digits, 15 in
// files of 9, which give every binary32 back as it was.
inline constexpr std::uint64_t kFieldWidths[] = {12, 15};

// The number of fields on the first value line of a file with `parameters` parameters.
constexpr std::uint64_t fields_on_first_line(std::uint64_t parameters) noexcept {
  return parameters < kFieldsPerLine ? parameters : kFieldsPerLine;
}

// The width that `value_line` (without its line end) gives when its length is exactly its
// fields times 12 or times 15, its fields are numbers at that width and not all numbers at the
// other; nothing otherwise.
std::optional<std::uint64_t> width_of_first_value_line(std::string_view value_line,
                                                       std::uint64_t parameters) noexcept;

}  // namespace tarnex
