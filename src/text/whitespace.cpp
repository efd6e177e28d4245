#include "text/whitespace.hpp"

#include <cstddef>

#include "text/utf8.hpp"

namespace tarnex {

namespace {

constexpr unsigned char kAsciiLimit = 0x80;

constexpr bool is_ascii_whitespace(unsigned char byte) noexcept {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

unsigned char byte_at(std::string_view text, std::size_t offset) noexcept {
  return static_cast<unsigned char>(text[offset]);
}

// The byte length of the whitespace character starting at `offset`, or 0 when the character
// there is not whitespace.
std::size_t whitespace_length_at(std::string_view text, std::size_t offset) noexcept {
  const unsigned char byte = byte_at(text, offset);
  if (byte < kAsciiLimit) return is_ascii_whitespace(byte) ? 1 : 0;
  const DecodedChar decoded = decode_char(text, offset);
  return is_whitespace(decoded.code_point) ? decoded.length : 0;
}

// The byte length of the character starting at `offset`.
std::size_t char_length_at(std::string_view text, std::size_t offset) noexcept {
  return byte_at(text, offset) < kAsciiLimit ? 1 : decode_char(text, offset).length;
}

// The offset of the first byte of the character that ends at `end`, never before `floor`.
std::size_t last_char_start(std::string_view text, std::size_t floor, std::size_t end) noexcept {
  std::size_t start = end - 1;
  while (start > floor && is_continuation_byte(byte_at(text, start))) --start;
  return start;
}

}  // namespace

bool is_whitespace(char32_t code_point) noexcept {
  if (code_point < kAsciiLimit) return is_ascii_whitespace(static_cast<unsigned char>(code_point));
  switch (code_point) {
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return code_point >= 0x2000 && code_point <= 0x200A;
  }
}

std::vector<std::string_view> split_whitespace(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t offset = 0;
  while (offset < text.size()) {
    if (const std::size_t blank = whitespace_length_at(text, offset); blank != 0) {
      offset += blank;
      continue;
    }
    const std::size_t token_start = offset;
    do {
      offset += char_length_at(text, offset);
    } while (offset < text.size() && whitespace_length_at(text, offset) == 0);
    tokens.push_back(text.substr(token_start, offset - token_start));
  }
  return tokens;
}

std::string_view trim_whitespace(std::string_view text) noexcept {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    const std::size_t blank = whitespace_length_at(text, begin);
    if (blank == 0) break;
    begin += blank;
  }
  while (begin < end) {
    const unsigned char last = byte_at(text, end - 1);
    if (last < kAsciiLimit) {
      if (!is_ascii_whitespace(last)) break;
      --end;
      continue;
    }
    const std::size_t start = last_char_start(text, begin, end);
    if (!is_whitespace(decode_char(text, start).code_point)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace tarnex
