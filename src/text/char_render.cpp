#include "text/char_render.hpp"

#include <algorithm>
#include <iterator>

#include "text/unicode_tables.hpp"
#include "text/whitespace.hpp"

namespace tarnex {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool in_escaped_table(char32_t code_point) noexcept {
  const auto* const table_end = std::end(unicode::kEscapedWhenRendered);
  // The first range that does not end before the code point is the only one that can hold it.
  const auto* const range =
      std::lower_bound(std::begin(unicode::kEscapedWhenRendered), table_end, code_point,
                       [](const unicode::CodePointRange& candidate, char32_t value) {
                         return candidate.last < value;
                       });
  return range != table_end && range->first <= code_point;
}

void append_utf8(std::string& out, char32_t code_point) {
  const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (code_point < 0x80) {
    out += byte(code_point);
  } else if (code_point < 0x800) {
    out += byte(0xC0 | (code_point >> 6));
    out += byte(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += byte(0xE0 | (code_point >> 12));
    out += byte(0x80 | ((code_point >> 6) & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  } else {
    out += byte(0xF0 | (code_point >> 18));
    out += byte(0x80 | ((code_point >> 12) & 0x3F));
    out += byte(0x80 | ((code_point >> 6) & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  }
}

// Backslash, u, and the code point in lower-case hexadecimal without leading zeros in braces.
void append_escaped(std::string& out, char32_t code_point) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  char digits[8];
  char* const stop = digits + sizeof digits;
  char* first = stop;
  do {
    *--first = kHexDigits[code_point & 0xF];
    code_point >>= 4;
  } while (code_point != 0);
  out += "\\u{";
  out.append(first, stop);
  out += '}';
}

}  // namespace

bool is_escaped_when_rendered(char32_t code_point) noexcept {
  // Beyond U+10FFFF there is nothing to write as itself.
  return code_point > kMaxCodePoint || is_whitespace(code_point) || in_escaped_table(code_point);
}

std::string render_char(char32_t code_point) {
  std::string out = "'";
  if (is_escaped_when_rendered(code_point)) {
    append_escaped(out, code_point);
  } else {
    append_utf8(out, code_point);
  }
  out += '\'';
  return out;
}

}  // namespace tarnex
