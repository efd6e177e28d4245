// The two number grammars of a plot file: the parameter count and the binary32 field value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnex {

// An optional '+', then one or more ASCII digits, at most 2^64 - 1.
std::optional<std::uint64_t> parse_count(std::string_view token) noexcept;

// One byte, so that a Binary32Parse fits one register and leaves a call in it.
enum class ParseFloatErrorKind : std::uint8_t { Empty, Invalid };

struct Binary32Parse {
  float value;  // meaningful when ok
  bool ok;
  ParseFloatErrorKind error;  // meaningful when !ok
};

// An optional sign, then a decimal number with optional exponent, or inf / infinity / nan in
// any case; the whole text must match. The value is the correctly rounded binary32.
Binary32Parse parse_binary32(std::string_view text) noexcept;

// A field of a value line: `field` without whitespace at either end, read as parse_binary32
// reads it.
Binary32Parse parse_binary32_field(std::string_view field) noexcept;

// "ParseFloatError { kind: Empty }" or "ParseFloatError { kind: Invalid }".
std::string_view describe_parse_error(ParseFloatErrorKind kind) noexcept;

}  // namespace tarnex
