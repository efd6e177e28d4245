// Most values written at width 12 hold no more than its 6 significant digits: they were read
// from such a field. For those, the shortest text that reads back to the value
// (Ryu, in std::to_chars) is also the correctly rounded one, padded with zeros: for a normal
// binary32 half a unit in its last place is below a millionth of the value, less than half a
// unit in the sixth significant digit, so a decimal of at most 6 digits that close to the value
// is the nearest one. Only longer ones, subnormals (too coarse for that argument) and
// every value at width 15 (whose 9 digits are finer than a binary32) take to_chars's rounding
// to a precision, which is slower.
#include "text/field_format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace tarnex {
namespace {

constexpr char kFill = ' ';
constexpr std::size_t kNarrowDigits = 6;
constexpr std::size_t kWideDigits = 9;

void right_aligned(std::string_view text, std::size_t width, char* out) noexcept {
  std::memset(out, kFill, width - text.size());
  std::memcpy(out + (width - text.size()), text.data(), text.size());
}

// Writes the special values, which have no digits; false for every finite value.
bool special_field(float value, std::size_t width, char* out) noexcept {
  if (std::isnan(value)) {
    right_aligned("NaN", width, out);
    return true;
  }
  if (std::isinf(value)) {
    right_aligned(value < 0 ? "-Inf" : "Inf", width, out);
    return true;
  }
  return false;
}

// The field from the text of to_chars in scientific form: its digits padded with zeros to
// `significant`, 'E' and a two-digit exponent (every binary32 has one).
void assemble(std::string_view text, std::size_t significant, char* out) noexcept {
  char* p = out;
  std::size_t at = 0;
  *p++ = text[0] == '-' ? '-' : kFill;
  if (text[0] == '-') ++at;
  *p++ = text[at++];
  *p++ = '.';
  if (text[at] == '.') ++at;
  std::size_t written = 1;
  while (text[at] != 'e') {
    *p++ = text[at++];
    ++written;
  }
  for (; written < significant; ++written) *p++ = '0';
  *p++ = 'E';
  std::memcpy(p, text.data() + at + 1, 3);  // sign and two digits
}

// The number of significant digits of a scientific text: its characters before 'e', less the
// sign and the point.
std::size_t significant_digits(std::string_view text) noexcept {
  const std::size_t mantissa = text.find('e');
  return mantissa - (text[0] == '-') - (mantissa > 1 + (text[0] == '-') ? 1 : 0);
}

// Writes the narrow field from the shortest text of `value` when that has at most 6
// significant digits and `value` is normal or zero; false otherwise.
bool narrow_from_shortest(float value, char* out) noexcept {
  if (std::fabs(value) < std::numeric_limits<float>::min() && value != 0) return false;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  const std::string_view written(text, static_cast<std::size_t>(end.ptr - text));
  if (significant_digits(written) > kNarrowDigits) return false;
  assemble(written, kNarrowDigits, out);
  return true;
}

void rounded_field(float value, std::size_t significant, char* out) noexcept {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                 static_cast<int>(significant - 1));
  assemble(std::string_view(text, static_cast<std::size_t>(end.ptr - text)), significant, out);
}

}  // namespace

void format_field(float value, std::size_t width, char* out) noexcept {
  if (special_field(value, width, out)) return;
  if (width == kNarrowField) {
    if (!narrow_from_shortest(value, out)) rounded_field(value, kNarrowDigits, out);
    return;
  }
  rounded_field(value, kWideDigits, out);
}

}  // namespace tarnex
