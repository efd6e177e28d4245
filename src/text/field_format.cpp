// A normal binary32 value is m * 2^e with m below 2^24. Its D significant digits are
// v * 10^k rounded to an integer, for the k that brings v * 10^k into [10^(D-1), 10^D). That
// product is m * 5^k * 2^(e+k): for every k that normal values need at width 12, and for all
// but the values below 1E-36 at width 15, it is a shift or a division of integers below
// 2^128, so the digits and the remainder that decides their rounding are exact, and the
// rounding (ties to even) is done on them as the decimal rounding itself is defined. The rest
// (subnormals, and those few tiny values at width 15) take to_chars's rounding to a precision,
// which is exact as well but slower.
#include "text/field_format.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarnex {
namespace {

using u128 = unsigned __int128;

constexpr char kFill = ' ';
constexpr int kNarrowDigits = 6;
constexpr int kWideDigits = 9;

// Powers of five while they stay below 2^128.
constexpr int kLargestPowerOfFive = 55;
constexpr auto kPowersOfFive = [] {
  std::array<u128, kLargestPowerOfFive + 1> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 5;
  return powers;
}();

constexpr std::uint64_t power_of_ten(int exponent) noexcept {
  std::uint64_t power = 1;
  while (exponent-- > 0) power *= 10;
  return power;
}

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

// "00" to "99": two digits a step.
constexpr auto kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes `value`, below 10^Count, as exactly Count decimal digits.
template <int Count>
void write_digits(std::uint32_t value, char* out) noexcept {
  int at = Count;
  while (at >= 2) {
    at -= 2;
    std::memcpy(out + at, kDigitPairs.data() + 2 * (value % 100), 2);
    value /= 100;
  }
  if (at == 1) out[0] = static_cast<char>('0' + value);
}

// Writes the field: the sign, the Digits digits of `digits` with the point after the first,
// 'E' and the decimal exponent in two digits (every binary32 has one).
template <int Digits>
void write_field(bool negative, std::uint64_t digits, int exponent, char* out) noexcept {
  char text[Digits];
  write_digits<Digits>(static_cast<std::uint32_t>(digits), text);
  out[0] = negative ? '-' : kFill;
  out[1] = text[0];
  out[2] = '.';
  std::memcpy(out + 3, text + 1, Digits - 1);
  char* p = out + 2 + Digits;
  p[0] = 'E';
  p[1] = exponent < 0 ? '-' : '+';
  write_digits<2>(static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent), p + 2);
}

// The integer part of a scaled value and where its fraction lies against one half.
struct Scaled {
  std::uint64_t whole;
  int against_half;  // -1 below, 0 exactly one half, 1 above
};

int compare(u128 remainder, u128 half) noexcept {
  return remainder < half ? -1 : remainder == half ? 0 : 1;
}

// n / d, with the fraction against one half: 2r against d (d is below 2^127).
Scaled divided(u128 n, u128 d) noexcept {
  if ((n >> 64) == 0 && (d >> 64) == 0) {
    const auto n64 = static_cast<std::uint64_t>(n);
    const auto d64 = static_cast<std::uint64_t>(d);
    return {n64 / d64, compare(u128{n64 % d64} * 2, d64)};
  }
  return {static_cast<std::uint64_t>(n / d), compare(n % d * 2, d)};
}

// n / 2^shift, with the fraction against one half.
Scaled shifted(u128 n, int shift) noexcept {
  if (shift == 0) return {static_cast<std::uint64_t>(n), -1};
  if ((n >> 64) == 0 && shift < 64) {
    const auto n64 = static_cast<std::uint64_t>(n);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    return {n64 >> shift, compare(n64 & (2 * half - 1), half)};
  }
  const u128 low = n & ((u128{1} << shift) - 1);
  return {static_cast<std::uint64_t>(n >> shift), compare(low, u128{1} << (shift - 1))};
}

int bit_length(u128 n) noexcept {
  const auto high = static_cast<std::uint64_t>(n >> 64);
  return high != 0 ? 128 - std::countl_zero(high)
                   : 64 - std::countl_zero(static_cast<std::uint64_t>(n));
}

// m * 2^e * 10^k exactly as integer part and fraction, for m below 2^24; false where an
// operand would not fit in 128 bits.
bool scale(std::uint32_t m, int e, int k, Scaled& scaled) noexcept {
  if (k >= 0) {
    // m * 5^k below 2^127 leaves the shifts below room to spare.
    if (k > kLargestPowerOfFive - 11) return false;
    const u128 n = u128{m} * kPowersOfFive[static_cast<std::size_t>(k)];
    const int shift = e + k;
    if (shift >= 0) {
      scaled = {static_cast<std::uint64_t>(n << shift), -1};
      return true;
    }
    if (-shift >= 127) return false;
    scaled = shifted(n, -shift);
    return true;
  }
  // Twice a remainder of 5^-k (shifted) stays below 2^128.
  if (-k > kLargestPowerOfFive - 2) return false;
  const u128 five = kPowersOfFive[static_cast<std::size_t>(-k)];
  const int shift = e + k;
  if (shift >= 0) {
    if (shift > 127 - 24) return false;
    scaled = divided(u128{m} << shift, five);
    return true;
  }
  if (bit_length(five) - shift > 126) return false;
  scaled = divided(m, five << -shift);
  return true;
}

// Writes the field of a normal nonzero value from its exact digits; false where the operands
// would not fit, which the caller leaves to to_chars.
template <int Digits>
bool exact_field(float value, char* out) noexcept {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  const int biased = static_cast<int>(bits >> 23 & 0xFF);
  if (biased == 0) return false;  // subnormal
  const std::uint32_t m = (bits & 0x7FFFFF) | 0x800000;
  const int e = biased - 150;
  // floor(log10(2^(biased - 127))): the decimal exponent or one below it.
  int exponent = ((biased - 127) * 78913) >> 18;
  constexpr std::uint64_t kLimit = power_of_ten(Digits);
  Scaled scaled{};
  if (!scale(m, e, Digits - 1 - exponent, scaled)) return false;
  if (scaled.whole >= kLimit) {
    ++exponent;
    if (!scale(m, e, Digits - 1 - exponent, scaled)) return false;
  }
  std::uint64_t rounded = scaled.whole;
  if (scaled.against_half > 0 || (scaled.against_half == 0 && (rounded & 1) != 0)) ++rounded;
  if (rounded == kLimit) {
    rounded /= 10;
    ++exponent;
  }
  write_field<Digits>((bits >> 31) != 0, rounded, exponent, out);
  return true;
}

// The field from to_chars's scientific text: its digits, 'E' and a two-digit exponent.
template <int Digits>
void to_chars_field(float value, char* out) noexcept {
  char text[32];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, Digits - 1);
  const std::string_view written(text, static_cast<std::size_t>(end.ptr - text));
  const std::size_t mantissa = written.find('e');
  const std::size_t first = written[0] == '-' ? 1 : 0;
  std::uint64_t whole = 0;
  for (std::size_t at = first; at < mantissa; ++at) {
    if (written[at] != '.') whole = whole * 10 + static_cast<std::uint64_t>(written[at] - '0');
  }
  int exponent = 0;
  std::from_chars(written.data() + mantissa + 2, written.data() + written.size(), exponent);
  if (written[mantissa + 1] == '-') exponent = -exponent;
  write_field<Digits>(first == 1, whole, exponent, out);
}

template <int Digits>
void finite_field(float value, char* out) noexcept {
  if (value == 0) {
    write_field<Digits>(std::signbit(value), 0, 0, out);
  } else if (!exact_field<Digits>(value, out)) {
    to_chars_field<Digits>(value, out);
  }
}

}  // namespace

void format_field(float value, std::size_t width, char* out) noexcept {
  if (special_field(value, width, out)) return;
  if (width == kNarrowField) {
    finite_field<kNarrowDigits>(value, out);
  } else {
    finite_field<kWideDigits>(value, out);
  }
}

}  // namespace tarnex
