// Generators of plot file fields for the conversion tests: Fortran E fields of given digits, and
// the 9-digit decimals closest to binary32 rounding boundaries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tarnex::testing {

// Writes `value` (below 10^digits) as `digits` decimal digits at `out`.
void write_digits(char* out, std::uint64_t value, int digits);

// A Fortran E field of `width` characters: d.ddd...E+xx right-aligned, the first digit and the
// fraction taken from `mantissa` (significant digits), the exponent from `exponent`.
std::string fortran_field(std::uint64_t mantissa, int significant, int exponent, bool negative,
                          int width);

// The 9-digit decimals next to every midpoint between neighbouring binary32 values of binade
// [2^e, 2^(e+1)): the texts closest to a rounding boundary that a 9-digit field can hold, and the
// midpoints themselves where 9 digits write them exactly. Computed exactly in 128 bits, which
// covers the binades from 2^-76 to 2^127.
class NearestNineDigitDecimals {
 public:
  static constexpr int kLowestBinade = -76;
  static constexpr int kHighestBinade = 127;

  // The 9-digit decimal at or below midpoint j of binade e: digits q (10^8 <= q < 10^9) and the
  // power of ten of its last digit.
  static std::pair<std::uint64_t, int> floor_of_midpoint(int binade, std::uint32_t j);

 private:
  static unsigned __int128 power_of_ten(int n);
  // floor(odd * 2^shift / 10^power)
  static std::uint64_t quotient(unsigned __int128 odd, int shift, int power);
};

}  // namespace tarnex::testing
