// The powers of ten that scale a Fortran E field's digits to its value.
#pragma once

namespace tarnex::simd {

// A field's digits m (6 or 9 of them) and its exponent e (-99 to 99, two digits) give the value
// m * 10^q with q = e - 5 or e - 8: q runs from -107 to 94.
constexpr int kLowestDecimalPower = -107;
constexpr int kHighestDecimalPower = 94;
constexpr int kDecimalPowerCount = kHighestDecimalPower - kLowestDecimalPower + 1;

// kDecimalPowers[q - kLowestDecimalPower] is the binary64 nearest to 10^q: exact for q from 0 to
// 22, within half a unit in the last place otherwise.
extern const double kDecimalPowers[kDecimalPowerCount];

}  // namespace tarnex::simd
