// The fields that vormant writes: at width 15 every binary32 reads back to its own bits, and
// the digits at widths 12 and 15 are MPFR's correctly rounded 6 and 9 of the exact value.
#include "text/field_format.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
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

// Every positive finite binary32 (a sign only adds '-', which the sampled tests hold): whatever
// decimal text a value was read from, written at width 15 it reads back to the same bits.
// Split between two threads.
TEST(FieldFormat, EveryWideFieldReadsBackToTheSameBits) {
  constexpr std::uint32_t kInfinity = 0x7F800000u;
  std::atomic<std::uint64_t> mismatches{0};
  auto check = [&](std::uint32_t begin, std::uint32_t end) {
    std::string text(kWideField, '?');
    for (std::uint32_t bits = begin; bits < end; ++bits) {
      format_field(std::bit_cast<float>(bits), kWideField, text.data());
      const Binary32Parse back = parse_binary32_field(trim_whitespace(text));
      if (!back.ok || std::bit_cast<std::uint32_t>(back.value) != bits) ++mismatches;
    }
  };
  std::thread other(check, kInfinity / 2, kInfinity);
  check(0, kInfinity / 2);
  other.join();
  EXPECT_EQ(mismatches.load(), 0u);
}

// MPFR's `digits` significant digits of `value`, ties to even, as an E field.
std::string mpfr_field(float value, int digits) {
  mpfr_t exact;
  mpfr_init2(exact, 24);
  mpfr_set_flt(exact, value, MPFR_RNDN);
  mpfr_exp_t exponent = 0;
  char* text =
      mpfr_get_str(nullptr, &exponent, 10, static_cast<std::size_t>(digits), exact, MPFR_RNDN);
  const std::string written(text);
  mpfr_free_str(text);
  mpfr_clear(exact);
  const std::string mantissa = written.substr(written[0] == '-' ? 1 : 0);
  const long power = value == 0 ? 0 : exponent - 1;
  char tail[8];
  std::snprintf(tail, sizeof tail, "E%c%02ld", power < 0 ? '-' : '+', std::labs(power));
  return std::string(1, std::signbit(value) ? '-' : ' ') + mantissa[0] + '.' + mantissa.substr(1) +
         tail;
}

struct Width {
  std::size_t bytes;
  int digits;
};

class FieldDigits : public ::testing::TestWithParam<Width> {};

TEST_P(FieldDigits, AreTheCorrectlyRoundedDecimal) {
  const Width width = GetParam();
  for_sampled_values(1024, [&](float value) {
    ASSERT_EQ(field(value, width.bytes), mpfr_field(value, width.digits));
  });
}

INSTANTIATE_TEST_SUITE_P(FieldFormat, FieldDigits,
                         ::testing::Values(Width{kNarrowField, 6}, Width{kWideField, 9}));

// Values whose decimal expansion ends in a 5 just past the field's digits lie exactly between
// two decimals of the field: integers of seven digits at width 12, and 2^-10 (0.0009765625)
// and 2^-13 (0.0001220703125), of 7 and 10 significant digits.
TEST(FieldFormat, TiesGoToTheEvenDigit) {
  EXPECT_EQ(field(1234565.0f, kNarrowField), " 1.23456E+06");
  EXPECT_EQ(field(1234575.0f, kNarrowField), " 1.23458E+06");
  EXPECT_EQ(field(std::ldexp(1.0f, -10), kNarrowField), " 9.76562E-04");
  EXPECT_EQ(field(std::ldexp(-1.0f, -13), kWideField), "-1.22070312E-04");
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
