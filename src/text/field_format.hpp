// One binary32 value as a field of a plot file: an E field right-aligned in 12 bytes (6
// significant digits) or 15 bytes (9 significant digits), as simulation codes write them.
#pragma once

#include <cstddef>

namespace tarnex {

// The field widths a plot file is written with.
constexpr std::size_t kNarrowField = 12;
constexpr std::size_t kWideField = 15;

// Writes `value` into out[0, width) for `width` 12 or 15: a space or '-', one digit, '.', the
// further digits and an exponent of two digits, such as -1.23456789E+02. The digits are the
// exact value correctly rounded (ties to even) to 6 or 9 significant digits; 9 are enough for
// every value to read back to the same bits. Infinities are "Inf" and "-Inf", NaN is "NaN",
// right-aligned: the spellings the field grammar reads back.
void format_field(float value, std::size_t width, char* out) noexcept;

}  // namespace tarnex
