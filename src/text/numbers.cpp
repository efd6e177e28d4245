// The two number grammars of a plot file: the parameter count and the binary32 field value.
//
// Almost every field of a plot file is a short decimal such as -1.23457E+02. Those are read in
// one pass, eight digits at a time, and converted by one exact binary64 operation where that is
// provably correctly rounded (see round_exact_decimal). Everything else takes the full path: a
// character-by-character check of the number grammar, then the correctly rounding, allocation
// free from_chars of the standard library (or of the fast_float headers where the standard
// library has none for float).
#include "text/numbers.hpp"

#if TARNEX_USE_FAST_FLOAT
#include <fast_float/fast_float.h>
#endif

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cfenv>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include "text/whitespace.hpp"

// The exact path counts on every double operation rounding to binary64 itself.
static_assert(FLT_EVAL_METHOD == 0, "double operations must round to binary64");
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);

namespace tarnex {
namespace {

constexpr std::string_view kEmptyFieldDescription = "ParseFloatError { kind: Empty }";
constexpr std::string_view kInvalidFieldDescription = "ParseFloatError { kind: Invalid }";

constexpr std::uint32_t kPositiveInfinityBits = 0x7F800000;
constexpr std::uint32_t kQuietNanBits = 0x7FC00000;
constexpr std::uint32_t kSignBit = 0x80000000;

// Once an exponent's magnitude reaches this, its further digits are read but ignored.
constexpr std::int32_t kHeldExponentMagnitude = 65536;

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

// The decimal exponent of the leading significant digit of an unsigned decimal text that the
// grammar has accepted and that is not zero: 0 for 1.5, -3 for 0.0012, 2 for 3e2.
std::int64_t leading_digit_exponent(const char* begin, const char* end) noexcept {
  const char* p = begin;
  while (p != end && *p == '0') ++p;
  const char* const digits_end = skip_digits(p, end);
  std::int64_t exponent = (digits_end - p) - 1;
  p = digits_end;
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    if (exponent < 0) {
      while (p != end && *p == '0') ++p;
      exponent = -(p - fraction) - 1;
    }
    p = skip_digits(p, end);
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-')) ++p;
    // Only the sign of the sum matters, and the digits before it stay below 2^20.
    constexpr std::int64_t kEnough = std::int64_t{1} << 40;
    std::int64_t written = 0;
    for (; p != end && written < kEnough; ++p) written = written * 10 + digit_value(*p);
    exponent += negative ? -written : written;
  }
  return exponent;
}

// Whether binary floating point behaves as the language's default environment: rounding to
// nearest, subnormal operands and results kept. The interpreter never changes it, but other
// native code in the process may, and some library conversions follow it.
bool in_default_environment() noexcept {
  static volatile const float smallest_normal = std::numeric_limits<float>::min();
  static volatile const float smallest_subnormal = std::numeric_limits<float>::denorm_min();
  const float tiny = smallest_normal;
  const float subnormal = smallest_subnormal;
  return tiny + 1.0f == 1.0f - tiny && subnormal * 2.0f != 0.0f && tiny * 0.5f != 0.0f;
}

// Holds the default floating-point environment for its scope when another one is in force,
// and puts that one back, its exception flags included, when the scope ends.
class DefaultEnvironmentScope {
 public:
  DefaultEnvironmentScope() noexcept : switched_(!in_default_environment()) {
    if (switched_) {
      std::feholdexcept(&saved_);
      std::fesetenv(FE_DFL_ENV);
    }
  }
  ~DefaultEnvironmentScope() {
    if (switched_) std::fesetenv(&saved_);
  }
  DefaultEnvironmentScope(const DefaultEnvironmentScope&) = delete;
  DefaultEnvironmentScope& operator=(const DefaultEnvironmentScope&) = delete;

 private:
  bool switched_;
  std::fenv_t saved_{};
};

// Correct rounding of an unsigned decimal text that the grammar has accepted. A result out of
// binary32's range is reported without a value, so it is made here: infinity when the number
// is huge, zero when it is tiny (a range error comes only past 10^38 or below 10^-38).
bool convert_with_library(const char* begin, const char* end, float& value) noexcept {
  const DefaultEnvironmentScope default_environment;
#if TARNEX_USE_FAST_FLOAT
  const fast_float::from_chars_result result = fast_float::from_chars(begin, end, value);
#else
  const std::from_chars_result result = std::from_chars(begin, end, value);
#endif
  if (result.ptr != end) return false;
  if (result.ec == std::errc::result_out_of_range) {
    value = leading_digit_exponent(begin, end) >= 0 ? std::bit_cast<float>(kPositiveInfinityBits)
                                                    : 0.0f;
    return true;
  }
  return result.ec == std::errc();
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


// ---------------------------------------------------------------------------------------------
// Short decimals: an optional sign, at most 18 digits with at most one full stop, and an optional
// exponent of at most 4 digits. This is the shape of every ordinary plot file field.
//
// The digits form an integer m and the value is x = m * 10^q. When m is at most 2^53 and 10^|q|
// is exact in binary64 (|q| at most 22), one IEEE multiplication or division of exact operands
// gives y, the correctly rounded binary64 of x (Clinger's fast path). Narrowing y to binary32
// then rounds x correctly, unless y lies exactly on a midpoint between two binary32 values, where
// rounding twice can differ from rounding once: a bit test finds those. They, and every short
// decimal outside these bounds, take the full path.

constexpr std::ptrdiff_t kMostShortDigits = 18;  // 10^18 < 2^63
constexpr std::ptrdiff_t kMostShortExponentDigits = 4;

constexpr std::uint64_t kMostExactDigits = std::uint64_t{1} << 53;
constexpr std::array<double, 23> kExactPowersOfTen = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr unsigned kMostExactPower = kExactPowersOfTen.size() - 1;

// binary64 has 52 fraction bits, binary32 23: the 29 bits that narrowing drops, and their
// pattern when y lies exactly halfway between two binary32 values. Every exact y (zero, or from
// 10^-22 to 2^53 * 10^22) is in binary32's normal range, where this pattern says it all.
constexpr int kDroppedBits = 52 - 23;
constexpr std::uint64_t kDroppedMask = (std::uint64_t{1} << kDroppedBits) - 1;
constexpr std::uint64_t kDroppedHalf = std::uint64_t{1} << (kDroppedBits - 1);

constexpr std::array<std::uint64_t, 9> kIntegerPowersOfTen = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

constexpr std::uint64_t every_byte(std::uint8_t byte) noexcept {
  return 0x0101010101010101ULL * byte;
}

// The number written by eight decimal digits given as byte values 0 to 9, the first digit in the
// lowest byte: neighbouring digits are combined into pairs, pairs into fours, fours into eight.
std::uint64_t eight_digits_value(std::uint64_t digits) noexcept {
  constexpr std::uint64_t kPairMask = 0x000000FF000000FF;
  constexpr std::uint64_t kFirstPairs = 100 + (std::uint64_t{1000000} << 32);
  constexpr std::uint64_t kSecondPairs = 1 + (std::uint64_t{10000} << 32);
  digits = digits * 10 + (digits >> 8);  // every other byte now holds a two-digit number
  return ((digits & kPairMask) * kFirstPairs + ((digits >> 16) & kPairMask) * kSecondPairs) >> 32;
}

// Appends the run of ASCII digits at `p` to `digits` (shift by ten and add) and returns its end;
// eight bytes are looked at a time where the text allows. Past 19 digits `digits` wraps around,
// and the caller, who counts them, gives up.
const char* take_digit_run(const char* p, const char* end, std::uint64_t& digits) noexcept {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t values = word ^ every_byte('0');  // a digit's byte becomes 0 to 9
    // The top bit of each byte that is not 0 to 9; the masked sum cannot carry into the next byte.
    const std::uint64_t others =
        (((values & every_byte(0x7F)) + every_byte(0x76)) | values) & every_byte(0x80);
    if (others == 0) {
      digits = digits * kIntegerPowersOfTen[8] + eight_digits_value(values);
      p += 8;
      continue;
    }
    const int run = std::countr_zero(others) / 8;
    if (run != 0) {
      // Shifting the run to the top bytes leaves zero digits in front of it.
      digits = digits * kIntegerPowersOfTen[static_cast<std::size_t>(run)] +
               eight_digits_value(values << (8 * (8 - run)));
    }
    return p + run;
  }
  for (; p != end && is_ascii_digit(*p); ++p) digits = digits * 10 + digit_value(*p);
  return p;
}

// The short path's answer when it cannot decide: a NaN, which it never yields as a value.
constexpr std::uint32_t kUndecidedBits = kQuietNanBits;

bool is_decided(float magnitude) noexcept { return magnitude == magnitude; }

float undecided() noexcept { return std::bit_cast<float>(kUndecidedBits); }

// The exact path needs the hardware to round to nearest. The interpreter never changes the
// rounding mode, but other native code in the process may.
bool rounds_to_nearest() noexcept {
  static volatile const float smallest = std::numeric_limits<float>::min();
  const float tiny = smallest;
  return tiny + 1.0f == 1.0f - tiny;
}

// The binary32 nearest to digits * 10^power by the exact path, or undecided() when it does not
// apply. Calls nothing on its common way, so that its callers need save no registers.
[[gnu::always_inline]] inline float round_exact_decimal(std::uint64_t digits, int power) noexcept {
  const unsigned magnitude = power < 0 ? static_cast<unsigned>(-power) : static_cast<unsigned>(power);
  if (digits > kMostExactDigits || magnitude > kMostExactPower || !rounds_to_nearest())
      [[unlikely]] {
    return undecided();
  }
  // digits <= 2^53: the signed conversion is the short one, and exact.
  const double m = static_cast<double>(static_cast<std::int64_t>(digits));
  const double scale = kExactPowersOfTen[magnitude];
  const double y = power < 0 ? m / scale : m * scale;
  if ((std::bit_cast<std::uint64_t>(y) & kDroppedMask) == kDroppedHalf) [[unlikely]] {
    return undecided();
  }
  return static_cast<float>(y);
}

// The number of blanks (spaces) that [p, end) starts with, eight bytes at a time where it can.
std::size_t leading_blanks(const char* p, const char* end) noexcept {
  if (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t others = word ^ every_byte(' ');  // zero bytes where the blanks are
    if (others != 0) return static_cast<std::size_t>(std::countr_zero(others) / 8);
  }
  const char* q = p;
  while (q != end && *q == ' ') ++q;
  return static_cast<std::size_t>(q - p);
}

// One optional sign character: whether it is '-', and `p` moved past it. No branch: the sign
// of the values in a plot file follows no pattern.
bool take_sign(const char*& p, const char* end) noexcept {
  const char c = p != end ? *p : '\0';
  const bool minus = c == '-';
  p += (minus || c == '+') ? 1 : 0;
  return minus;
}

// The shape in which plot files write nearly every value, a Fortran E field without its sign:
// one digit, a full stop, 4 to 8 digits, the letter E or e, a sign and two exponent digits. Its
// digits and power of ten, read with few instructions and no branch that depends on the
// digits; false for every other text.
constexpr std::ptrdiff_t kFortranExponentLength = 4;  // E+dd
constexpr std::ptrdiff_t kFewestFortranFractionDigits = 4;
constexpr std::ptrdiff_t kMostFortranFractionDigits = 8;

[[gnu::always_inline]] inline bool read_fortran_shape(const char* p, const char* end,
                                                      std::uint64_t& digits, int& power) noexcept {
  const std::ptrdiff_t fraction_digits = (end - p) - 2 - kFortranExponentLength;
  if (fraction_digits < kFewestFortranFractionDigits ||
      fraction_digits > kMostFortranFractionDigits) {
    return false;
  }
  const char* const exponent = end - kFortranExponentLength;
  const unsigned lead = digit_value(p[0]);
  const unsigned tens = digit_value(exponent[2]);
  const unsigned ones = digit_value(exponent[3]);
  const bool shape = lead < 10 && p[1] == '.' && (exponent[0] | 0x20) == 'e' &&
                     (exponent[1] == '+' || exponent[1] == '-') && tens < 10 && ones < 10;
  // The fraction digits and what follows them (at least 8 bytes: 4 digits and E+dd), with the
  // fraction moved to the top bytes: zero digits, which are digits too, come in behind it.
  std::uint64_t word;
  std::memcpy(&word, p + 2, sizeof word);
  const std::uint64_t values =
      (word ^ every_byte('0')) << (64 - 8 * static_cast<int>(fraction_digits));
  const std::uint64_t others =
      (((values & every_byte(0x7F)) + every_byte(0x76)) | values) & every_byte(0x80);
  if (!shape || others != 0) return false;
  const std::uint64_t fraction = eight_digits_value(values);
  digits = lead * kIntegerPowersOfTen[static_cast<std::size_t>(fraction_digits)] + fraction;
  const int magnitude = static_cast<int>(tens * 10 + ones);
  power = (exponent[1] == '-' ? -magnitude : magnitude) - static_cast<int>(fraction_digits);
  return true;
}

// Any other short decimal, digit run by digit run. False when the text is none.
[[gnu::noinline]] bool read_general_shape(const char* p, const char* end, std::uint64_t& digits,
                                          int& power) noexcept {
  digits = 0;
  const char* const integer_begin = p;
  p = take_digit_run(p, end, digits);
  std::ptrdiff_t digit_count = p - integer_begin;
  std::ptrdiff_t fraction_digits = 0;
  if (p != end && *p == '.') {
    const char* const fraction_begin = ++p;
    p = take_digit_run(p, end, digits);
    fraction_digits = p - fraction_begin;
    digit_count += fraction_digits;
  }
  if (digit_count == 0 || digit_count > kMostShortDigits) return false;
  int exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative_exponent = take_sign(p, end);
    const char* const exponent_begin = p;
    for (; p != end && is_ascii_digit(*p) && p - exponent_begin < kMostShortExponentDigits; ++p) {
      exponent = exponent * 10 + static_cast<int>(digit_value(*p));
    }
    if (p == exponent_begin) return false;
    exponent = negative_exponent ? -exponent : exponent;
  }
  if (p != end) return false;  // more exponent digits, or anything else
  power = exponent - static_cast<int>(fraction_digits);
  return true;
}

// Reads [p, end) as a short decimal: its value with the sign, or undecided() when it is none or
// is not exactly convertible; the full path then reads it from the start, and reports it if
// it is not a number at all.
float read_short_decimal(const char* p, const char* end) noexcept {
  const bool negative = take_sign(p, end);
  std::uint64_t digits;
  int power;
  if (!read_fortran_shape(p, end, digits, power) &&
      !read_general_shape(p, end, digits, power)) {
    return undecided();
  }
  const float magnitude = round_exact_decimal(digits, power);
  return is_decided(magnitude) ? with_sign(magnitude, negative) : magnitude;
}

// The full path: the grammar checked character by character, then a correctly rounding
// conversion of any length.
Binary32Parse parse_in_full(std::string_view text) noexcept {
  if (text.empty()) return {0.0f, false, ParseFloatErrorKind::Empty};
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  float magnitude = 0.0f;
  const bool ok = parse_magnitude(text, magnitude);
  // One return, built from scalars, so that the result leaves in registers.
  return {with_sign(magnitude, negative), ok, ParseFloatErrorKind::Invalid};
}

// A field in any other shape. Plot files pad their fields with spaces; every other kind of
// whitespace, and every field that is no short decimal, goes through the whole trim and the
// full path.
[[gnu::noinline]] Binary32Parse parse_other_field(std::string_view field) noexcept {
  const char* begin = field.data();
  const char* end = begin + field.size();
  begin += leading_blanks(begin, end);
  while (end != begin && end[-1] == ' ') --end;
  const float value = read_short_decimal(begin, end);
  if (is_decided(value)) return {value, true, ParseFloatErrorKind::Invalid};
  return parse_in_full(trim_whitespace(field));
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
  const float value = read_short_decimal(text.data(), text.data() + text.size());
  if (is_decided(value)) return {value, true, ParseFloatErrorKind::Invalid};
  return parse_in_full(text);
}

Binary32Parse parse_binary32_field(std::string_view field) noexcept {
  // A padded Fortran E field of a moderate magnitude, the common case, is read here without
  // a call; everything else starts again on the other way.
  const char* begin = field.data();
  const char* const end = begin + field.size();
  begin += leading_blanks(begin, end);
  const bool negative = take_sign(begin, end);
  std::uint64_t digits;
  int power;
  if (read_fortran_shape(begin, end, digits, power)) [[likely]] {
    const float magnitude = round_exact_decimal(digits, power);
    if (is_decided(magnitude)) [[likely]] {
      return {with_sign(magnitude, negative), true, ParseFloatErrorKind::Invalid};
    }
  }
  return parse_other_field(field);
}

std::string_view describe_parse_error(ParseFloatErrorKind kind) noexcept {
  return kind == ParseFloatErrorKind::Empty ? kEmptyFieldDescription : kInvalidFieldDescription;
}

}  // namespace tarnex
