// UTF-8 rules: the well-formedness check of a line and the decoding of one character.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnex {

// True when `bytes` is well-formed UTF-8: no stray continuation byte, no truncated sequence,
// no overlong form, no surrogate, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes) noexcept;

// A byte that continues a multi-byte character (0x80 to 0xBF).
constexpr bool is_continuation_byte(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

struct DecodedChar {
  char32_t code_point;
  std::size_t length;  // in bytes, 1 to 4
};

// Decodes the character that starts at `offset` of well-formed UTF-8 `text`. Where the text is
// not well-formed there, or `offset` is at or past its end, the result is U+FFFD of length 1.
DecodedChar decode_char(std::string_view text, std::size_t offset) noexcept;

}  // namespace tarnex
