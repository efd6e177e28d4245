// The two number grammars of a plot file: the parameter count and the binary32 field value.
//
// A field is checked against the number grammar here, character by character; the rounding of
// its decimal value to binary32 is left to fast_float (correctly rounding, allocation free),
// except for short numbers, which take an exact path of one float operation.
#include "text/numbers.hpp"

#include <fast_float/fast_float.h>

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

// The exact path relies on float arithmetic being carried out in binary32 itself.
static_assert(FLT_EVAL_METHOD == 0, "float operations must round to binary32");
static_assert(std::numeric_limits<float>::is_iec559);

namespace tarnex {
namespace {

constexpr std::string_view kEmptyFieldDescription = "ParseFloatError { kind: Empty }";
constexpr std::string_view kInvalidFieldDescription = "ParseFloatError { kind: Invalid }";

constexpr std::uint32_t kPositiveInfinityBits = 0x7F800000;
constexpr std::uint32_t kQuietNanBits = 0x7FC00000;
constexpr std::uint32_t kSignBit = 0x80000000;

// Once an exponent's magnitude reaches this, its further digits are read but ignored.
constexpr std::int32_t kHeldExponentMagnitude = 65536;

// Exact path: an integer of at most 2^24 is a binary32 value, and so is 10^k for k <= 10
// (5^10 < 2^24); one multiplication or division of the two is then rounded exactly once.
constexpr std::uint64_t kLargestExactPathInteger = std::uint64_t{1} << 24;
constexpr std::ptrdiff_t kMostExactPathDigits = 8;  // without leading zeros; 10^8 > 2^24
constexpr std::int64_t kLargestExactPathPower = 10;
constexpr std::array<float, kLargestExactPathPower + 1> kExactPowersOfTen = {
    1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// Numbers whose digits before the exponent run longer than this are rewritten before the
// conversion (see rewrite_decimal), which keeps every position and exponent far from the
// 32-bit arithmetic inside the library, whatever the length of the field.
constexpr std::ptrdiff_t kLongestDirectMantissa = std::ptrdiff_t{1} << 20;

// Every binary32 value and every midpoint between two neighbouring ones (2^-150 included) has
// at most 113 significant decimal digits. So digits beyond this many change the rounding only
// through whether any of them is nonzero, which one extra digit 1 stands for.
constexpr std::size_t kKeptSignificantDigits = 120;
// With at most 121 digits, a decimal exponent beyond +-400 is overflow or underflow either way.
constexpr std::int64_t kLargestRewrittenExponent = 400;

bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }

unsigned digit_value(char c) noexcept { return static_cast<unsigned>(c - '0'); }

// The letter test of the special words: `c` is the lower-case ASCII letter `lower` in either case.
bool is_letter_either_case(char c, char lower) noexcept {
  return (static_cast<unsigned char>(c) | 0x20u) == static_cast<unsigned char>(lower);
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) noexcept {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!is_letter_either_case(text[i], lower_word[i])) return false;
  }
  return true;
}

// A decimal number text without its sign, split into its parts by the grammar check.
struct DecimalNumber {
  const char* integer_begin;
  const char* integer_end;
  const char* fraction_begin;  // the fraction range is empty when there is no full stop
  const char* fraction_end;
  const char* mantissa_end;    // the exponent letter, or the end of the text
  const char* text_end;
  std::int32_t exponent;       // the explicit exponent, 0 when there is none
  bool exponent_held;          // its magnitude reached kHeldExponentMagnitude

  std::ptrdiff_t fraction_digits() const noexcept { return fraction_end - fraction_begin; }
  std::ptrdiff_t digit_count() const noexcept {
    return (integer_end - integer_begin) + fraction_digits();
  }
};

const char* skip_digits(const char* p, const char* end) noexcept {
  while (p != end && is_ascii_digit(*p)) ++p;
  return p;
}

const char* skip_zeros(const char* p, const char* end) noexcept {
  while (p != end && *p == '0') ++p;
  return p;
}

std::uint64_t value_of_digits(const char* p, const char* end, std::uint64_t value) noexcept {
  for (; p != end; ++p) value = value * 10 + digit_value(*p);
  return value;
}

// Digits after the exponent sign; the magnitude stays once it has reached the held value.
const char* take_exponent_digits(const char* p, const char* end, std::int32_t& magnitude) noexcept {
  for (; p != end && is_ascii_digit(*p); ++p) {
    if (magnitude < kHeldExponentMagnitude) {
      magnitude = magnitude * 10 + static_cast<std::int32_t>(digit_value(*p));
    }
  }
  return p;
}

// Digits, an optional full stop and digits (at least one digit in all), and an optional
// exponent: e or E, an optional sign and at least one digit. Nothing may follow.
bool match_decimal(const char* begin, const char* end, DecimalNumber& number) noexcept {
  number = DecimalNumber{};
  number.integer_begin = begin;
  const char* p = skip_digits(begin, end);
  number.integer_end = p;
  number.fraction_begin = number.fraction_end = p;
  if (p != end && *p == '.') {
    number.fraction_begin = ++p;
    p = skip_digits(p, end);
    number.fraction_end = p;
  }
  if (number.digit_count() == 0) return false;
  number.mantissa_end = p;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative_exponent = false;
    if (p != end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    std::int32_t magnitude = 0;
    const char* digits_end = take_exponent_digits(p, end, magnitude);
    if (digits_end == p) return false;
    p = digits_end;
    number.exponent = negative_exponent ? -magnitude : magnitude;
    number.exponent_held = magnitude >= kHeldExponentMagnitude;
  }
  number.text_end = end;
  return p == end;
}

// The exact path only holds while the hardware rounds to nearest; code in the interpreter's
// process may have switched the mode. 1 + tiny and 1 - tiny both give 1 only in that mode.
bool hardware_rounds_to_nearest() noexcept {
  static volatile float tiny = FLT_MIN;
  const float t = tiny;
  return t + 1.0f == 1.0f - t;
}

// The integer of all digits of `number` if it is at most 2^24.
std::optional<std::uint64_t> small_digits_value(const DecimalNumber& number) noexcept {
  // Leading zeros aside, more than 8 digits make 10^8 or more, which is past 2^24.
  const char* integer_begin = skip_zeros(number.integer_begin, number.integer_end);
  const char* fraction_begin = number.fraction_begin;
  if (integer_begin == number.integer_end) {
    fraction_begin = skip_zeros(fraction_begin, number.fraction_end);
  }
  const std::ptrdiff_t significant =
      (number.integer_end - integer_begin) + (number.fraction_end - fraction_begin);
  if (significant > kMostExactPathDigits) return std::nullopt;
  const std::uint64_t value = value_of_digits(
      fraction_begin, number.fraction_end, value_of_digits(integer_begin, number.integer_end, 0));
  if (value > kLargestExactPathInteger) return std::nullopt;
  return value;
}

bool convert_exactly(const DecimalNumber& number, float& value) noexcept {
  if (number.exponent_held) return false;
  const std::optional<std::uint64_t> digits_value = small_digits_value(number);
  if (!digits_value) return false;
  const std::int64_t power = std::int64_t{number.exponent} - number.fraction_digits();
  if (power < -kLargestExactPathPower || power > kLargestExactPathPower) return false;
  if (!hardware_rounds_to_nearest()) return false;
  const auto integer = static_cast<float>(*digits_value);  // exact: at most 2^24
  value = power < 0 ? integer / kExactPowersOfTen[static_cast<std::size_t>(-power)]
                    : integer * kExactPowersOfTen[static_cast<std::size_t>(power)];
  return true;
}

// Correct rounding of an unsigned decimal text that the grammar has accepted.
bool convert_with_library(const char* begin, const char* end, float& value) noexcept {
  const fast_float::from_chars_result result = fast_float::from_chars(begin, end, value);
  const bool converted = result.ec == std::errc() || result.ec == std::errc::result_out_of_range;
  return converted && result.ptr == end;
}

// Rewrites a number whose exponent is held or whose digits are very many as its leading
// significant digits, a digit 1 if any later digit is nonzero, and the matching exponent, then
// converts that short text. The value rounds the same way (see kKeptSignificantDigits).
[[gnu::noinline, gnu::cold]] bool rewrite_decimal(const DecimalNumber& number,
                                                  float& value) noexcept {
  std::array<char, kKeptSignificantDigits + 1 + 1 + 8> text{};  // digits, extra 1, e, exponent
  std::size_t kept = 0;
  std::int64_t dropped = 0;  // significant digits after the kept ones
  bool dropped_nonzero = false;
  bool leading_zero = true;
  const auto take = [&](const char* p, const char* end) {
    for (; p != end; ++p) {
      if (leading_zero && *p == '0') continue;
      leading_zero = false;
      if (kept < kKeptSignificantDigits) {
        text[kept++] = *p;
      } else {
        ++dropped;
        dropped_nonzero = dropped_nonzero || *p != '0';
      }
    }
  };
  take(number.integer_begin, number.integer_end);
  take(number.fraction_begin, number.fraction_end);
  if (kept == 0) {  // every digit is zero
    value = 0.0f;
    return true;
  }
  std::int64_t exponent = std::int64_t{number.exponent} - number.fraction_digits() + dropped;
  if (dropped_nonzero) {
    text[kept++] = '1';
    --exponent;
  }
  if (exponent > kLargestRewrittenExponent) exponent = kLargestRewrittenExponent;
  if (exponent < -kLargestRewrittenExponent) exponent = -kLargestRewrittenExponent;
  text[kept++] = 'e';
  char* const text_end = std::to_chars(text.data() + kept, text.data() + text.size(), exponent).ptr;
  return convert_with_library(text.data(), text_end, value);
}

bool convert_decimal(const DecimalNumber& number, float& value) noexcept {
  if (convert_exactly(number, value)) return true;
  if (number.exponent_held || number.mantissa_end - number.integer_begin > kLongestDirectMantissa) {
    return rewrite_decimal(number, value);
  }
  return convert_with_library(number.integer_begin, number.text_end, value);
}

// inf, infinity or nan in any case, and nothing else.
bool match_special_word(std::string_view word, float& value) noexcept {
  if (equals_ignoring_ascii_case(word, "inf") || equals_ignoring_ascii_case(word, "infinity")) {
    value = std::bit_cast<float>(kPositiveInfinityBits);
    return true;
  }
  if (equals_ignoring_ascii_case(word, "nan")) {
    value = std::bit_cast<float>(kQuietNanBits);
    return true;
  }
  return false;
}

// The value of a number text without its sign; false if the text is not a number.
bool parse_magnitude(std::string_view text, float& magnitude) noexcept {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  if (begin != end && (is_ascii_digit(*begin) || *begin == '.')) {
    DecimalNumber number;
    return match_decimal(begin, end, number) && convert_decimal(number, magnitude);
  }
  return match_special_word(text, magnitude);
}

// Sets the sign bit only: exact for every value, NaN included.
float with_sign(float magnitude, bool negative) noexcept {
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | (negative ? kSignBit : 0));
}

}  // namespace

std::optional<std::uint64_t> parse_count(std::string_view token) noexcept {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : token) {
    if (!is_ascii_digit(c)) return std::nullopt;
    const unsigned digit = digit_value(c);
    if (value > (kLargest - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Binary32Parse parse_binary32(std::string_view text) noexcept {
  if (text.empty()) return {0.0f, false, ParseFloatErrorKind::Empty};
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  float magnitude = 0.0f;
  const bool ok = parse_magnitude(text, magnitude);
  // One return, built from scalars, so that the result leaves in registers.
  return {with_sign(magnitude, negative), ok, ParseFloatErrorKind::Invalid};
}

std::string_view describe_parse_error(ParseFloatErrorKind kind) noexcept {
  return kind == ParseFloatErrorKind::Empty ? kEmptyFieldDescription : kInvalidFieldDescription;
}

}  // namespace tarnex
