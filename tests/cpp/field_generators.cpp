#include "field_generators.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarnex::testing {

void write_digits(char* out, std::uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

std::string fortran_field(std::uint64_t mantissa, int significant, int exponent, bool negative,
                          int width) {
  std::string text(1, negative ? '-' : ' ');
  std::string digits(static_cast<std::size_t>(significant), '0');
  write_digits(digits.data(), mantissa, significant);
  text += digits.substr(0, 1) + "." + digits.substr(1);
  text += exponent < 0 ? "E-" : "E+";
  const int magnitude = std::abs(exponent);
  text += static_cast<char>('0' + magnitude / 10);
  text += static_cast<char>('0' + magnitude % 10);
  return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))),
                     ' ') +
         text;
}

std::pair<std::uint64_t, int> NearestNineDigitDecimals::floor_of_midpoint(int binade,
                                                                          std::uint32_t j) {
  const unsigned __int128 odd = (std::uint64_t{1} << 24) + 2 * std::uint64_t{j} + 1;
  const int shift = binade - 24;  // midpoint = odd * 2^shift
  const double midpoint = std::ldexp(static_cast<double>(odd), shift);
  int power = static_cast<int>(std::floor(std::log10(midpoint))) - 8;
  for (;;) {
    const std::uint64_t q = quotient(odd, shift, power);
    if (q < 100000000) {
      --power;
    } else if (q >= 1000000000) {
      ++power;
    } else {
      return {q, power};
    }
  }
}

unsigned __int128 NearestNineDigitDecimals::power_of_ten(int n) {
  unsigned __int128 value = 1;
  for (int i = 0; i < n; ++i) value *= 10;
  return value;
}

std::uint64_t NearestNineDigitDecimals::quotient(unsigned __int128 odd, int shift, int power) {
  unsigned __int128 value;
  if (shift >= 0 && power >= 0) {
    value = (odd << shift) / power_of_ten(power);
  } else if (shift >= 0) {
    value = (odd << shift) * power_of_ten(-power);
  } else if (power < 0) {
    value = (odd * power_of_ten(-power)) >> -shift;
  } else {
    value = (odd >> -shift) / power_of_ten(power);
  }
  return value > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(value);
}

}  // namespace tarnex::testing
