// An independent model of the plot file rules for the fuzz targets: written apart from the
// reader (table-driven where the reader is hand-written, MPFR where it uses fast_float), so that
// the two agree only when both follow the rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::fuzz {

// What the number grammar of a field makes of a text.
struct NumberText {
  enum class Kind { Empty, Invalid, Decimal, Infinity, NaN };
  Kind kind = Kind::Invalid;
  bool negative = false;
  std::string digits;            // Decimal: every digit of the mantissa, the full stop removed
  std::int64_t exponent = 0;     // Decimal: value = digits * 10^exponent
};

NumberText recognise_number(std::string_view text);

// The binary32 bit pattern of a recognised number (not Empty or Invalid), rounded by MPFR.
std::uint32_t binary32_bits(const NumberText& number);

// Well-formed UTF-8, by the table of well-formed byte sequences of the Unicode Standard.
bool is_well_formed_utf8(std::string_view bytes);

// The line's text without Unicode White_Space at either end, and the last token of a line.
std::string_view trimmed(std::string_view text);
std::optional<std::string_view> last_token(std::string_view text);

// The outcome the reader must have for a file: its values, or a check of its fatal message.
struct Expected {
  bool ok = false;
  std::vector<std::uint32_t> time;                  // bit patterns
  std::vector<std::vector<std::uint32_t>> columns;  // bit patterns
  std::string message;  // the exact message; for a cut inside a character, what precedes {char}
  // A cut inside a character: the message continues with the character, written as itself or
  // as \u{hex}, between apostrophes, then " (bytes {from}..{to} of string)".
  bool inside_character = false;
  std::string character;  // its UTF-8 bytes
  std::string tail;       // " (bytes {from}..{to} of string)"
};

Expected expected_outcome(std::string_view file, std::uint64_t n_digits);

// True when `message` is what `expected` allows; else `why` says what differs.
bool message_matches(const Expected& expected, const std::string& message, std::string& why);

}  // namespace tarnex::fuzz
