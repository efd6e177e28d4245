// The fields that vormant writes: at width 15 every binary32 reads back to its own bits, at
// width 12 the digits are MPFR's correctly rounded 6-digit decimal of the exact value.
#include "text/field_format.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "text/numbers.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

constexpr std::uint32_t kMantissas = 1u << 23;
constexpr std::uint32_t kSignBit = 0x80000000u;

std::string field(float value, std::size_t width) {
  std::string text(width, '?');
  format_field(value, width, text.data());
  return text;
}

// Mantissas of one exponent: both ends of it and `count` spread evenly between them.
std::vector<std::uint32_t> mantissa_sample(std::uint32_t count) {
  std::vector<std::uint32_t> mantissas;
  for (std::uint32_t m = 0; m < 64; ++m) {
    mantissas.push_back(m);
    mantissas.push_back(kMantissas - 1 - m);
  }
  for (std::uint32_t i = 0; i < count; ++i) mantissas.push_back(i * (kMantissas / count) + i % 97);
  return mantissas;
}

// Every finite binary32 exponent, subnormals (exponent 0) included, both signs.
template <class Check>
void for_sampled_values(std::uint32_t per_exponent, Check&& check) {
  const std::vector<std::uint32_t> mantissas = mantissa_sample(per_exponent);
  for (std::uint32_t exponent = 0; exponent < 255; ++exponent) {
    for (const std::uint32_t mantissa : mantissas) {
      for (const std::uint32_t sign : {0u, kSignBit}) {
        check(std::bit_cast<float>(sign | exponent << 23 | mantissa));
      }
    }
  }
}

TEST(FieldFormat, WideFieldsReadBackToTheSameBits) {
  for_sampled_values(8192, [](float value) {
    const std::string text = field(value, kWideField);
    const Binary32Parse back = parse_binary32_field(trim_whitespace(text));
    ASSERT_TRUE(back.ok) << text;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(back.value), std::bit_cast<std::uint32_t>(value))
        << text;
  });
}

// MPFR's 6 significant digits of `value`, ties to even, as an E field of width 12.
std::string mpfr_narrow_field(float value) {
  mpfr_t exact;
  mpfr_init2(exact, 24);
  mpfr_set_flt(exact, value, MPFR_RNDN);
  mpfr_exp_t exponent = 0;
  char* digits = mpfr_get_str(nullptr, &exponent, 10, 6, exact, MPFR_RNDN);
  const std::string text(digits);
  mpfr_free_str(digits);
  mpfr_clear(exact);
  const bool negative = text[0] == '-';
  const std::string mantissa = text.substr(negative ? 1 : 0);
  const long power = value == 0 ? 0 : exponent - 1;
  char tail[8];
  std::snprintf(tail, sizeof tail, "E%c%02ld", power < 0 ? '-' : '+', std::labs(power));
  return std::string(1, std::signbit(value) ? '-' : ' ') + mantissa[0] + '.' + mantissa.substr(1) +
         tail;
}

TEST(FieldFormat, NarrowFieldsAreTheCorrectlyRoundedSixDigits) {
  for_sampled_values(
      1024, [](float value) { ASSERT_EQ(field(value, kNarrowField), mpfr_narrow_field(value)); });
}

// Integers of seven digits ending in 5 lie exactly between two 6-digit decimals.
TEST(FieldFormat, NarrowFieldsRoundExactTiesToEven) {
  for (const float tie : {1234565.0f, 1234575.0f, 9999995.0f, -2500005.0f, 1000005.0f}) {
    EXPECT_EQ(field(tie, kNarrowField), mpfr_narrow_field(tie)) << tie;
  }
  EXPECT_EQ(field(1234565.0f, kNarrowField), " 1.23456E+06");
  EXPECT_EQ(field(1234575.0f, kNarrowField), " 1.23458E+06");
}

struct SpecialCase {
  float value;
  const char* narrow;
  const char* wide;
};

class SpecialFields : public ::testing::TestWithParam<SpecialCase> {};

TEST_P(SpecialFields, AreWrittenAsTheGrammarReadsThem) {
  const SpecialCase& special = GetParam();
  EXPECT_EQ(field(special.value, kNarrowField), special.narrow);
  EXPECT_EQ(field(special.value, kWideField), special.wide);
}

INSTANTIATE_TEST_SUITE_P(
    FieldFormat, SpecialFields,
    ::testing::Values(
        SpecialCase{0.0f, " 0.00000E+00", " 0.00000000E+00"},
        SpecialCase{-0.0f, "-0.00000E+00", "-0.00000000E+00"},
        SpecialCase{std::numeric_limits<float>::infinity(), "         Inf", "            Inf"},
        SpecialCase{-std::numeric_limits<float>::infinity(), "        -Inf", "           -Inf"},
        SpecialCase{std::numeric_limits<float>::quiet_NaN(), "         NaN", "            NaN"},
        SpecialCase{-123.456789f, "-1.23457E+02", "-1.23456787E+02"}));

}  // namespace
}  // namespace tarnex
