// The binary32 value of a Fortran E field from its digits and power of ten, taken only where it
// is provably the correctly rounded one.
//
// Every kernel includes this header, and kernels are compiled for different instruction sets.
// So its functions have internal linkage and use compiler builtins rather than library
// templates: no out-of-line copy compiled for one instruction set can be chosen by the linker
// to stand in for another kernel's.
//
// Why a result is exact. The digits form an integer m < 10^9 < 2^30, exact in binary64, and the
// value is x = m * 10^q. Let P be the binary64 nearest to 10^q (kDecimalPowers) and y the
// binary64 product m * P as the hardware rounds it (to nearest). With u = 2^-53:
//   P = 10^q (1 + d1), |d1| <= u (d1 = 0 for 0 <= q <= 22);  y = m P (1 + d2), |d2| <= u,
//   so |y - x| <= (2u + u^2) |x| <= (2u + u^2) / (1 - 2u - u^2) |y|.
// With y in [2^k, 2^(k+1)) and a binary64 unit in the last place of 2^(k-52), that is
// |y - x| < 2^(k+1) * 2^-52 * (1 + 2^-50) = 2 (1 + 2^-50) units: x lies strictly within 2 + 2^-49
// units of y, and as y is a whole number of units, any point that lies between x and y, x
// included, lies within 2 units of y.
// Narrowing y to binary32 (to nearest, ties to even) drops its 29 low fraction bits D; a
// binary32 rounding boundary (a midpoint between neighbouring binary32 values) lies at
// D = 2^28, and the neighbouring boundaries are 2^28 units or more away (2^27 below a power of
// two). So when y is a normal binary32 magnitude and |D - 2^28| > 2, no boundary lies between x
// and y, neither is on one, and x and y round to the same binary32: the narrowed y is the
// correctly rounded x. Results near a boundary and those from 2^128 up take the library path.
// (Just below 2^-126, x may be a subnormal within 2 units of 2^-126, which rounds to 2^-126 as y
// does; at the top, x and y beyond the last boundary both give infinity.)
// Subnormal results (0 < y < 2^-126): binary32 spaces them 2^-149 apart. z = y * 2^149 is exact
// (a power of two, and z a normal binary64), below 2^23, so a unit of z is at most 2^-30 and
// |z - x * 2^149| < 2 (1 + 2^-50) 2^-30 < 2^-28. The rounding boundaries there are the
// half-integers of z. So when z lies more than 2^-28 from the nearest half-integer, x * 2^149
// rounds to the same integer k as z (no tie can arise), and the correctly rounded x is
// k * 2^-149, whose binary32 bits are k itself (k = 2^23 gives 2^-126, the smallest normal).
// The fraction f = z - floor(z) is exact, and so is f - 1/2 wherever f is within 1/4 of 1/2;
// elsewhere it is far from 1/2 anyway. As the bits are made from k, no flush-to-zero setting
// changes them.
// An exact product needs no test: for q >= 0 the value is a whole number, and y < 2^53 means
// it fits binary64 exactly (y = x), so narrowing rounds x itself, ties to even included
// (2.82518E+08 is such a tie). Zero digits give y = x = 0.
#pragma once

#include <cfloat>
#include <cstdint>

#include "text/simd/decimal_powers.hpp"

static_assert(FLT_EVAL_METHOD == 0, "double operations must round to binary64");

namespace tarnex::simd {

// The two field widths that the fast path knows: 6 and 9 significant digits.
constexpr unsigned kSixDigitWidth = 12;
constexpr unsigned kNineDigitWidth = 15;

// Digits after the full stop: 5 or 8. The field is sign, digit, '.', these, 'E', sign, 2 digits.
constexpr unsigned fraction_digits(unsigned width) noexcept {
  return width - 7;
}

constexpr int kBinary64FractionBits = 52;
constexpr int kDroppedBits = 52 - 23;  // what narrowing to binary32 drops
constexpr std::uint64_t kDroppedMask = (std::uint64_t{1} << kDroppedBits) - 1;
constexpr std::uint64_t kBoundary = std::uint64_t{1} << (kDroppedBits - 1);
constexpr std::uint64_t kErrorUnits = 2;  // |y - x| in binary64 units, from the bound above
constexpr unsigned kExponentBias = 1023;
constexpr unsigned kLowestNormalExponent = kExponentBias - 126;
constexpr unsigned kHighestNormalExponent = kExponentBias + 127;
constexpr unsigned kExactIntegerExponent = kExponentBias + 53;  // y < 2^53

// Whether narrowing the nonnegative binary64 `y_bits` rounds x correctly (see above);
// `whole_number` says q >= 0.
[[gnu::always_inline]] static inline bool narrows_exactly(std::uint64_t y_bits,
                                                          bool whole_number) noexcept {
  const auto exponent = static_cast<unsigned>(y_bits >> kBinary64FractionBits);
  const bool exact = y_bits == 0 || (whole_number && exponent < kExactIntegerExponent);
  const bool normal = exponent - kLowestNormalExponent <=
                      kHighestNormalExponent - kLowestNormalExponent;  // wraps below
  // D - (2^28 - 2) wraps around below the boundary: only D within 2 of 2^28 is at most 4.
  const bool clear = (y_bits & kDroppedMask) - (kBoundary - kErrorUnits) > 2 * kErrorUnits;
  return exact || (normal && clear);
}

// The subnormal scale 2^149 and the bound 2^-28 on |z - x * 2^149| (see above).
constexpr double kSubnormalScale = 0x1p149;
constexpr double kSubnormalSlack = 0x1p-28;
constexpr std::uint64_t kLowestNormalBits = std::uint64_t{kLowestNormalExponent}
                                            << kBinary64FractionBits;

// Whether the nonnegative binary64 `y_bits` lies in the subnormal range of binary32, zero
// excluded.
[[gnu::always_inline]] static inline bool in_subnormal_range(std::uint64_t y_bits) noexcept {
  return y_bits - 1 < kLowestNormalBits - 1;  // wraps for zero
}

// The binary32 bits k of a y in the subnormal range (see above); false where z lies too close to
// a half-integer.
[[gnu::always_inline]] static inline bool subnormal_bits(double y, std::uint32_t& bits) noexcept {
  const double z = y * kSubnormalScale;
  const double whole = __builtin_floor(z);
  const double fraction = z - whole;
  if (!(__builtin_fabs(fraction - 0.5) > kSubnormalSlack)) return false;
  bits = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1u : 0u);
  return true;
}

// The binary32 of digits * 10^power with the sign, into `out`; false (and `out` untouched) where
// the product cannot be proven correctly rounded. `power` is within the table's range.
[[gnu::always_inline]] static inline bool scale_exactly(std::uint32_t digits, int power,
                                                        bool negative, float& out) noexcept {
  const double y = static_cast<double>(digits) * kDecimalPowers[power - kLowestDecimalPower];
  const auto y_bits = __builtin_bit_cast(std::uint64_t, y);
  std::uint32_t magnitude;
  if (narrows_exactly(y_bits, power >= 0)) {
    magnitude = __builtin_bit_cast(std::uint32_t, static_cast<float>(y));
  } else if (!in_subnormal_range(y_bits) || !subnormal_bits(y, magnitude)) {
    return false;
  }
  out = __builtin_bit_cast(float, magnitude | (negative ? 0x80000000u : 0u));
  return true;
}

// The power of ten of a field's last digit from its exponent's digits and sign.
[[gnu::always_inline]] static inline int field_power(unsigned exponent_digits,
                                                     bool negative_exponent,
                                                     unsigned width) noexcept {
  const int exponent = static_cast<int>(exponent_digits);
  return (negative_exponent ? -exponent : exponent) - static_cast<int>(fraction_digits(width));
}

}  // namespace tarnex::simd
