// Cutting a byte range out of a line, and the text that explains a cut that fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnex {

// Field borders are products of a field index and a width that may come close to 2^64;
// they are computed and reported in 128 bits so that no border ever wraps around.
// (__extension__: the 128-bit type is GCC's and Clang's own, which -Wpedantic would flag.)
__extension__ typedef unsigned __int128 BytePosition;

// The bytes [start, end) of valid UTF-8 `line`, when start <= end <= length and both lie on
// character boundaries; otherwise nothing.
std::optional<std::string_view> cut(std::string_view line, BytePosition start,
                                    BytePosition end) noexcept;

// Why cut(line, start, end) failed, e.g. "end byte index 12 is out of bounds for string of
// length 8". Call only when it did; for a cut that succeeds the text is empty.
std::string failed_cut_text(std::string_view line, BytePosition start, BytePosition end);

// `position` in decimal, without separators.
std::string decimal_text(BytePosition position);

}  // namespace tarnex
