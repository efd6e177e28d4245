// The number grammars: parameter counts, and field values checked bit for bit, partly against
// MPFR as an independent correctly rounding reference.
#include "field_generators.hpp"
#include "floating_point_environment.hpp"
#include "mpfr_reference.hpp"
#include "text/numbers.hpp"

#include <fast_float/fast_float.h>
#include <gmp.h>
#include <gtest/gtest.h>
#include <mpfr.h>
#include <xmmintrin.h>

#include <array>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/whitespace.hpp"

namespace tarnex {
namespace {

std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }

std::string repeated(char c, std::size_t count) { return std::string(count, c); }

// ---------------------------------------------------------------------------------------------
// Parameter counts

struct CountCase {
  std::string text;
  std::uint64_t value;
};

class CountAccepted : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountAccepted, GivesItsValue) {
  EXPECT_EQ(parse_count(GetParam().text), std::optional<std::uint64_t>(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CountAccepted,
    ::testing::Values(CountCase{"12", 12}, CountCase{"+12", 12}, CountCase{"00012", 12},
                      CountCase{"+007", 7}, CountCase{"0", 0}, CountCase{"+0", 0},
                      CountCase{"18446744073709551615", 18446744073709551615u},
                      CountCase{"+018446744073709551615", 18446744073709551615u},
                      CountCase{repeated('0', 30) + "1", 1},
                      CountCase{repeated('0', 40) + "18446744073709551615",
                                18446744073709551615u}));

class CountRejected : public ::testing::TestWithParam<std::string> {};

TEST_P(CountRejected, Fails) { EXPECT_EQ(parse_count(GetParam()), std::nullopt); }

INSTANTIATE_TEST_SUITE_P(
    Counts, CountRejected,
    ::testing::Values("18446744073709551616", "18446744073709551620", "99999999999999999999",
                      "184467440737095516150", "-1", "-0", "+", "-", "", "1.0", "1e3", "12a",
                      "+-1", "++1", " 1", "1 ", "1_000", "0x10", "\xd9\xa1",  // Arabic-Indic one
                      "\xef\xbc\x91"));                                       // fullwidth one

// ---------------------------------------------------------------------------------------------
// Field texts that are not numbers

struct RejectedCase {
  std::string text;
  ParseFloatErrorKind kind;
};

void PrintTo(const RejectedCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class FieldRejected : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(FieldRejected, GivesTheErrorKind) {
  const Binary32Parse result = parse_binary32(GetParam().text);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, GetParam().kind);
}

RejectedCase invalid(std::string text) { return {std::move(text), ParseFloatErrorKind::Invalid}; }

INSTANTIATE_TEST_SUITE_P(
    Grammar, FieldRejected,
    ::testing::Values(
        RejectedCase{"", ParseFloatErrorKind::Empty}, invalid("."), invalid("+"), invalid("-"),
        invalid("+."), invalid("-.e1"), invalid("e5"), invalid("E5"), invalid(".e5"),
        invalid("1e"), invalid("1e+"), invalid("1e-"), invalid("1E"), invalid("1e+-5"),
        invalid("1e5.0"), invalid("1ee5"), invalid("1.0-100"), invalid("1.0+100"),
        invalid("1.0d0"), invalid("1.0D0"), invalid("1.0D+00"), invalid("1.0q0"),
        invalid("0x1p3"), invalid("0x10"), invalid("1,5"), invalid("1_000"), invalid("1 000"),
        invalid(" 1"), invalid("1 "), invalid("1\t"), invalid("1\n"),
        invalid(std::string("1\0", 2)),
        invalid("1..5"), invalid("1.5.2"), invalid("++1"), invalid("+-1"), invalid("-+1"),
        invalid("--1"), invalid("1-"), invalid("1+"), invalid("\xd9\xa1"),
        invalid("1\xd9\xa1"), invalid("\xef\xbc\x91.5"), invalid("1e\xd9\xa1"),
        invalid("infinit"), invalid("infin"), invalid("inff"), invalid("infinityy"),
        invalid("in"), invalid("i"), invalid("n"), invalid("na"), invalid("nann"),
        invalid("nan(1)"), invalid("nan()"), invalid("+-inf"), invalid("--nan"), invalid(" inf"),
        invalid("inf "), invalid("1inf"), invalid("infe1"), invalid("\xc4\xb0nf"),  // dotted I
        invalid("\xc9nf"), invalid("Inf1")));

// ---------------------------------------------------------------------------------------------
// Field values, compared as bit patterns

struct ValueCase {
  std::string name;
  std::string text;
  std::uint32_t bits;
};

// Some texts are megabytes long: a failure names the case, not the text.
void PrintTo(const ValueCase& c, std::ostream* out) {
  *out << c.name << " (" << c.text.size() << " characters)";
}

class FieldValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FieldValue, IsTheCorrectlyRoundedBinary32) {
  const Binary32Parse result = parse_binary32(GetParam().text);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(bits_of(result.value), GetParam().bits)
      << std::hex << "got 0x" << bits_of(result.value);
}

std::string case_name(const ::testing::TestParamInfo<ValueCase>& info) { return info.param.name; }

constexpr std::uint32_t kOne = 0x3F800000;
constexpr std::uint32_t kLargestFinite = 0x7F7FFFFF;
constexpr std::uint32_t kInfinity = 0x7F800000;
constexpr std::uint32_t kNegative = 0x80000000;
constexpr std::uint32_t kNearestToOneTenth = 0x3DCCCCCD;

INSTANTIATE_TEST_SUITE_P(
    Forms, FieldValue,
    ::testing::Values(ValueCase{"Integer", "5", 0x40A00000},
                      ValueCase{"TrailingFullStop", "5.", 0x40A00000},
                      ValueCase{"LeadingFullStop", ".5", 0x3F000000},
                      ValueCase{"NegativeFraction", "-0.25", 0xBE800000},
                      ValueCase{"PlusSignAndExponent", "+1.5e3", 0x44BB8000},
                      ValueCase{"CapitalExponentLetter", "1E-07", 0x33D6BF95},
                      ValueCase{"FullStopBeforeExponent", "1.e2", 0x42C80000},
                      ValueCase{"FortranField", "1.0E+00", kOne},
                      ValueCase{"FortranSixDigits", "1.23457E+02", 0x42F6E9FC},
                      ValueCase{"FortranNineDigits", "-1.23456789E-05", 0xB74F204A},
                      ValueCase{"LeadingZeros", "000001.5000000", 0x3FC00000},
                      ValueCase{"ExponentWithLeadingZeros", "25e-0001", 0x40200000},
                      ValueCase{"PlainZero", "0", 0x00000000},
                      ValueCase{"ZeroWithHugeExponent", "0e99999", 0x00000000},
                      ValueCase{"NegativeZero", "-0.0", kNegative},
                      ValueCase{"NegativeZeroWithExponent", "-0E+00", kNegative},
                      ValueCase{"NegativeZeroByUnderflow", "-1e-50", kNegative},
                      ValueCase{"OneTenth", "0.1", kNearestToOneTenth},
                      ValueCase{"NegativeOneTenth", "-.1", kNearestToOneTenth | kNegative},
                      ValueCase{"ExactPathLargestInteger", "16777216e-10", 0x3ADBE6FF},
                      ValueCase{"ExactPathLargestPower", "1e10", 0x501502F9},
                      ValueCase{"JustPastExactPathPower", "1e11", 0x51BA43B7},
                      ValueCase{"JustPastExactPathInteger", "16777217e-10", 0x3ADBE700},
                      ValueCase{"TwentyDigits", "12345678901234567890", 0x5F2B54AA}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Specials, FieldValue,
    ::testing::Values(ValueCase{"Inf", "inf", kInfinity}, ValueCase{"InfUpper", "INF", kInfinity},
                      ValueCase{"InfPlus", "+iNf", kInfinity},
                      ValueCase{"InfMinus", "-inf", kInfinity | kNegative},
                      ValueCase{"Infinity", "infinity", kInfinity},
                      ValueCase{"InfinityMixed", "InFiNiTy", kInfinity},
                      ValueCase{"InfinityMinus", "-Infinity", kInfinity | kNegative},
                      ValueCase{"NanMixed", "NaN", 0x7FC00000}, ValueCase{"Nan", "nAn", 0x7FC00000},
                      ValueCase{"NanPlus", "+NAN", 0x7FC00000},
                      ValueCase{"NanMinus", "-nan", 0xFFC00000}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Ties, FieldValue,
    ::testing::Values(
        // 1 + 2^-24 lies midway between 1 and the next float and goes to the even one, 1.
        ValueCase{"MidwayAboveOneToEven", "1.000000059604644775390625", kOne},
        ValueCase{"JustAboveMidwayAboveOne",
                  "1.000000059604644775390625" + repeated('0', 60) + "1", kOne + 1},
        ValueCase{"JustBelowMidwayAboveOne", "1.0000000596046447753906249" + repeated('9', 60),
                  kOne},
        ValueCase{"MidwayAboveOneScaled", "1000000059604644775390625e-24", kOne},
        // 1 + 3 * 2^-24 lies midway between odd 1 + 2^-23 and even 1 + 2^-22: upwards.
        ValueCase{"MidwayUpToEven", "1.000000178813934326171875", kOne + 2},
        ValueCase{"JustBelowMidwayUpToEven", "1.0000001788139343261718749999", kOne + 1},
        ValueCase{"IntegerTieToEven", "16777217", 0x4B800000},
        ValueCase{"IntegerTieUpToEven", "16777219", 0x4B800002},
        ValueCase{"IntegerJustAboveTie", "16777217.00000000000000000000001", 0x4B800001},
        ValueCase{"NegativeTie", "-16777217", 0xCB800000}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Range, FieldValue,
    ::testing::Values(
        ValueCase{"LargestFinite", "3.4028235e38", kLargestFinite},
        ValueCase{"LargestFiniteLonger", "3.40282356e38", kLargestFinite},
        ValueCase{"OverflowJustPast", "3.40282357e38", kInfinity},
        ValueCase{"Overflow", "3.5e38", kInfinity},
        ValueCase{"NegativeOverflow", "-3.5e38", kInfinity | kNegative},
        // 2^128 - 2^103: midway between the largest finite value and 2^128.
        ValueCase{"OverflowThreshold", "340282356779733661637539395458142568448", kInfinity},
        ValueCase{"OverflowThresholdScientific", "3.40282356779733661637539395458142568448E+38",
                  kInfinity},
        ValueCase{"BelowOverflowThreshold", "340282356779733661637539395458142568447",
                  kLargestFinite},
        ValueCase{"JustBelowOverflowThreshold",
                  "340282356779733661637539395458142568447." + repeated('9', 100),
                  kLargestFinite},
        ValueCase{"UnderflowToZero", "1e-46", 0x00000000},
        ValueCase{"SmallestSubnormal", "1.4e-45", 0x00000001},
        ValueCase{"SmallestSubnormalFortran", "1.40130E-45", 0x00000001},
        // 2^-150: half the smallest subnormal.
        ValueCase{"UnderflowThreshold",
                  "7.00649232162408535461864791644958065640130970938257885878534141944895541342"
                  "930300743319094181060791015625e-46",
                  0x00000000},
        ValueCase{"JustAboveUnderflowThreshold",
                  "7.00649232162408535461864791644958065640130970938257885878534141944895541342"
                  "930300743319094181060791015625000000000000000001e-46",
                  0x00000001},
        ValueCase{"JustBelowUnderflowThreshold",
                  "7.00649232162408535461864791644958065640130970938257885878534141944895541342"
                  "930300743319094181060791015624999999999999999999e-46",
                  0x00000000},
        // 3 * 2^-150: midway between the subnormals 1 and 2, to the even 2.
        ValueCase{"SubnormalTie",
                  "2.10194769648722560638559437493487419692039291281477365763560242583468662402"
                  "8790902229957282543182373046875e-45",
                  0x00000002},
        // (2^24 - 1) * 2^-150: midway between the largest subnormal and the smallest normal.
        ValueCase{"SubnormalToNormalTie",
                  "1.17549428075736429172788299103576651332285899275899042768296311842500306496"
                  "51730385585324256680905818939208984375e-38",
                  0x00800000},
        ValueCase{"NegativeSubnormal", "-1.4e-45", 0x80000001}),
    case_name);

std::vector<ValueCase> long_digit_cases() {
  const std::string midway_above_one = "1.000000059604644775390625";
  return {
      {"EightHundredDigitsOneTenth", "0.1" + repeated('0', 800) + "1", kNearestToOneTenth},
      {"EightHundredDigitsTie", midway_above_one + repeated('0', 800), kOne},
      {"EightHundredDigitsAboveTie", midway_above_one + repeated('0', 800) + "1", kOne + 1},
      {"EightHundredIntegerDigits", "1" + repeated('0', 799) + "e-799", kOne},
      {"EightHundredLeadingZeros", "0." + repeated('0', 799) + "1e800", kOne},
      {"EightHundredZeros", repeated('0', 400) + "." + repeated('0', 400), 0x00000000},
      {"EightHundredDigitsOverflow", "3" + repeated('0', 799), kInfinity},
      {"EightHundredDigitsUnderflow", "0." + repeated('0', 799) + "1", 0x00000000},
      // Past a megabyte of digits.
      {"MegabyteTie", midway_above_one + repeated('0', 1200000), kOne},
      {"MegabyteAboveTie", midway_above_one + repeated('0', 1200000) + "1", kOne + 1},
      {"MegabyteOneTenth", "0.1" + repeated('0', 1200000) + "1", kNearestToOneTenth},
      // The exponent holds at 120000 and cannot make up for the leading zeros.
      {"MegabyteLeadingZerosExponentHeld", "0." + repeated('0', 1200000) + "1e1200001", 0},
      {"MegabyteZeros", "-" + repeated('0', 1200000) + "e5", kNegative},
  };
}

INSTANTIATE_TEST_SUITE_P(LongDigits, FieldValue, ::testing::ValuesIn(long_digit_cases()),
                         case_name);

std::vector<ValueCase> long_exponent_cases() {
  return {
      {"ExponentOneAfterManyZeros", "1e" + repeated('0', 30) + "1", 0x41200000},
      {"NegativeExponentAfterManyZeros", "1e-" + repeated('0', 30) + "1", 0x3DCCCCCD},
      {"HugeExponent", "1e99999999999999999999", kInfinity},
      {"HugeNegativeExponent", "1e-99999999999999999", 0x00000000},
      {"HugeExponentOfZero", "0.0e99999999999999999999", 0x00000000},
      {"HugeExponentNegative", "-1e+99999999999999999999", kInfinity | kNegative},
      {"ThousandsOfExponentDigits", "1e" + repeated('9', 5000), kInfinity},
      // The exponent's magnitude stays once it has reached 65536, whatever digits follow.
      {"ExponentReadUpToHeld", "0." + repeated('0', 65535) + "1e65536", kOne},
      {"ExponentHeldAfterReaching", "0." + repeated('0', 65535) + "1e655369999", kOne},
      {"ExponentHeldAtSeventyThousand", "0." + repeated('0', 70000) + "1e700010", kOne},
      {"NegativeExponentHeld", "1" + repeated('0', 70000) + "e-7000109", kNearestToOneTenth},
      {"ExponentHeldWithManyDigits", "1" + repeated('0', 1100000) + "e-1100000", kInfinity},
      {"ExponentBelowHeldIsExact", "0." + repeated('0', 65534) + "1e65535", kOne},
  };
}

INSTANTIATE_TEST_SUITE_P(LongExponents, FieldValue, ::testing::ValuesIn(long_exponent_cases()),
                         case_name);

// ---------------------------------------------------------------------------------------------
// Parse error descriptions

TEST(DescribeParseError, NamesTheKind) {
  EXPECT_EQ(describe_parse_error(ParseFloatErrorKind::Empty), "ParseFloatError { kind: Empty }");
  EXPECT_EQ(describe_parse_error(ParseFloatErrorKind::Invalid),
            "ParseFloatError { kind: Invalid }");
}

// ---------------------------------------------------------------------------------------------
// Comparison with MPFR

using testing::Binary32Reference;
using testing::fortran_field;
using testing::NearestNineDigitDecimals;
using testing::write_digits;

class Binary32AgainstMpfr : public ::testing::Test {
 protected:
  // Parses `text` ourselves and, unless `reference_text` is given, the same text with MPFR.
  void expect_same_as_reference(const std::string& text, const std::string& reference_text = {}) {
    const std::optional<std::uint32_t> expected =
        reference_.bits(reference_text.empty() ? text : reference_text);
    ASSERT_TRUE(expected.has_value()) << "reference did not read " << text.substr(0, 200);
    const Binary32Parse result = parse_binary32(text);
    ASSERT_TRUE(result.ok) << text.substr(0, 200);
    ++compared_;
    if (bits_of(result.value) != *expected) {
      ADD_FAILURE() << std::hex << "text " << text.substr(0, 200) << " (" << std::dec
                    << text.size() << " characters): got 0x" << std::hex
                    << bits_of(result.value) << ", reference 0x" << *expected;
    }
  }

  std::uint32_t random_bits() { return static_cast<std::uint32_t>(random_()); }
  unsigned random_below(unsigned bound) { return static_cast<unsigned>(random_() % bound); }
  char random_digit() { return static_cast<char>('0' + random_below(10)); }
  // A random finite binary32 value, either sign, any magnitude, zeros and subnormals included.
  float random_finite() {
    std::uint32_t bits = random_bits();
    if ((bits & kInfinity) == kInfinity) bits &= ~std::uint32_t{0x40000000};  // not inf or NaN
    return std::bit_cast<float>(bits);
  }

  Binary32Reference reference_;
  std::mt19937_64 random_{20240611};
  int compared_ = 0;
};

std::string printed(const char* format, int precision, double value) {
  char text[256];
  std::snprintf(text, sizeof text, format, precision, value);
  return text;
}

// Fortran E fields, as plot files write them: 6 and 9 significant digits, all magnitudes.
TEST_F(Binary32AgainstMpfr, FortranFieldsOfRandomValues) {
  for (int i = 0; i < 20000; ++i) {
    const double value = random_finite();
    expect_same_as_reference(printed("%.*E", 5, value));
    expect_same_as_reference(printed("%.*E", 8, value));
  }
  EXPECT_EQ(compared_, 40000);
}

// Random digits with exponents over the whole range, and fields around the two limits.
TEST_F(Binary32AgainstMpfr, FortranFieldsOfRandomDigits) {
  for (int i = 0; i < 20000; ++i) {
    const int digits = i % 2 == 0 ? 6 : 9;
    std::string text = random_below(2) == 0 ? "-" : "";
    text += static_cast<char>('1' + random_below(9));
    text += '.';
    for (int d = 1; d < digits; ++d) text += random_digit();
    const int exponent = static_cast<int>(random_below(88)) - 47;
    text += exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(exponent);
    text += static_cast<char>('0' + magnitude / 10);
    text += static_cast<char>('0' + magnitude % 10);
    expect_same_as_reference(text);
  }
  for (int i = 0; i < 2000; ++i) {
    std::string tail;
    for (int d = 0; d < 1 + i % 4; ++d) tail += random_digit();
    expect_same_as_reference("3.40282" + tail + "E+38");
    expect_same_as_reference("7.00649" + tail + "E-46");
    expect_same_as_reference("1.40129" + tail + "E-45");
    expect_same_as_reference("1.17549" + tail + "E-38");
  }
}

// A decimal value as 0.digits * 10^exponent, the digits without leading or trailing zeros.
struct Decimal {
  std::string digits;
  int exponent;

  std::string scientific() const {
    return digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(exponent - 1);
  }
  // Slightly above: one more digit 1 far out.
  Decimal above() const { return {digits + "1", exponent}; }
  // Slightly below: the last digit (never 0) one less, then nines.
  Decimal below() const {
    std::string lower = digits;
    --lower.back();
    return {lower + "999", exponent};
  }
};

// The exact decimal of a nonzero double (every double's decimal has fewer than 770 digits).
Decimal exact_decimal(double value) {
  char text[1100];
  std::snprintf(text, sizeof text, "%.800e", value);
  const std::string printed_text = text;
  const std::size_t e = printed_text.find('e');
  std::string digits = printed_text.substr(0, 1) + printed_text.substr(2, e - 2);
  digits.erase(digits.find_last_not_of('0') + 1);
  return {digits, std::stoi(printed_text.substr(e + 1)) + 1};
}

// The exact midpoint between a positive finite binary32 value and the next one up (for the
// largest finite value: 2^128 - 2^103). Exact in a double, which has bits to spare.
double midpoint_above(std::uint32_t bits) {
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  const std::uint32_t fraction = bits & 0x7FFFFF;
  const std::uint64_t significand = biased == 0 ? fraction : fraction | 0x800000;
  const int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  return std::ldexp(static_cast<double>(2 * significand + 1), exponent - 1);
}

// Midpoints between neighbouring binary32 values, and texts just above and below them.
TEST_F(Binary32AgainstMpfr, NearTies) {
  for (int i = 0; i < 5000; ++i) {
    const std::uint32_t bits = random_bits() % kInfinity;
    const Decimal midpoint = exact_decimal(midpoint_above(bits));
    const std::string sign = i % 3 == 0 ? "-" : (i % 3 == 1 ? "+" : "");
    for (const Decimal& near : {midpoint, midpoint.above(), midpoint.below()}) {
      expect_same_as_reference(sign + near.scientific());
    }
  }
}

// Near ties written with so many zeros that the exponent reaches 65536 and holds there: MPFR
// reads the same value with the exponent written without the digits that do not count.
TEST_F(Binary32AgainstMpfr, NearTiesWithHeldExponents) {
  constexpr int kHeld = 65536;
  for (int i = 0; i < 60; ++i) {
    const Decimal midpoint = exact_decimal(midpoint_above(random_bits() % kInfinity));
    for (const Decimal& near : {midpoint, midpoint.above(), midpoint.below()}) {
      // 0.000...digits e+E, with E at least 65536.
      const int leading_zeros = kHeld - near.exponent + static_cast<int>(random_below(50));
      const std::string fraction = "0." + repeated('0', leading_zeros) + near.digits;
      const std::string exponent = std::to_string(leading_zeros + near.exponent);
      expect_same_as_reference(fraction + "e" + exponent + "0123456789",
                               fraction + "e" + exponent);
      // digits000... e-E, with E at least 65536.
      const int trailing_zeros = kHeld + near.exponent;
      const std::string integer = near.digits + repeated('0', trailing_zeros);
      const std::string negative_exponent =
          std::to_string(static_cast<int>(near.digits.size()) + trailing_zeros - near.exponent);
      expect_same_as_reference(integer + "E-" + negative_exponent + "99999",
                               integer + "E-" + negative_exponent);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The short path against the general converter
//
// Short decimals are rounded through one binary64 product and a test of its bits (numbers.cpp).
// These families run every field of a kind through the reader's entry and compare the bits with
// fast_float's general from_chars; every disagreement, and a sample of the rest, also goes to
// MPFR, so that a fault of either converter shows.

// fast_float's correctly rounded reading of an unsigned or negative decimal text.
std::uint32_t general_converter_bits(std::string_view text) {
  float value = 0.0f;
  const auto result = fast_float::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
  return bits_of(value);
}

class ShortPathAgainstGeneralConverter : public ::testing::Test {
 public:
  static constexpr int kReferenceSampleEvery = 4099;

  // Reads `field` (padded as in a value line) with the reader's entry and compares the result
  // with the general converter's reading of its trimmed text.
  void check_field(std::string_view field) {
    const std::string_view text = trim_whitespace(field);
    const Binary32Parse parsed = parse_binary32_field(field);
    const std::uint32_t expected = general_converter_bits(text);
    ++compared_;
    if (!parsed.ok || bits_of(parsed.value) != expected) {
      ++mismatches_;
      if (mismatches_ <= 20) {
        ADD_FAILURE() << std::hex << "field '" << field << "': got 0x" << bits_of(parsed.value)
                      << " (ok " << parsed.ok << "), general converter 0x" << expected
                      << ", MPFR 0x" << reference_.bits(std::string(text)).value_or(0xDEAD);
      }
    } else if (compared_ % kReferenceSampleEvery == 0) {
      const std::optional<std::uint32_t> mpfr = reference_.bits(std::string(text));
      ASSERT_TRUE(mpfr.has_value()) << text;
      EXPECT_EQ(bits_of(parsed.value), *mpfr) << field;
    }
  }

  // d.dddddddd E exponent, from 9 digits.
  void check_nine_digit_field(std::uint64_t digits, int exponent) {
    check_field(fortran_field(digits, 9, exponent, (digits & 1) != 0, 15));
  }

  std::int64_t mismatches() const { return mismatches_; }

 protected:
  Binary32Reference reference_;
  std::int64_t compared_ = 0;
  std::int64_t mismatches_ = 0;
};

// Every 6-digit field d.ddddd of every exponent from E-46 (below the smallest subnormal) to E+39
// (above the largest finite value): 86 million fields, signs alternating.
TEST_F(ShortPathAgainstGeneralConverter, EverySixDigitFieldOfEveryExponent) {
  for (int exponent = -46; exponent <= 39; ++exponent) {
    std::string field = fortran_field(0, 6, exponent, false, 12);
    char* const lead = field.data() + 1;  // " d.ddddd" / "-d.ddddd"
    for (std::uint64_t mantissa = 0; mantissa < 1000000; ++mantissa) {
      lead[0] = static_cast<char>('0' + mantissa / 100000);
      write_digits(lead + 2, mantissa % 100000, 5);
      field[0] = mantissa % 2 == 0 ? ' ' : '-';
      check_field(field);
      if (mismatches_ > 20) return;
    }
  }
  EXPECT_EQ(compared_, 86 * 1000000);
}

void check_binade_near_midpoints(ShortPathAgainstGeneralConverter& test, int binade,
                                 std::uint32_t step) {
  for (std::uint32_t j = 0; j < (1u << 23); j += step) {
    const auto [below, power] = NearestNineDigitDecimals::floor_of_midpoint(binade, j);
    const int exponent = power + 8;  // of d.dddddddd
    if (test.mismatches() > 20) return;
    test.check_nine_digit_field(below, exponent);
    if (below + 1 < 1000000000) {
      test.check_nine_digit_field(below + 1, exponent);
    } else {
      test.check_nine_digit_field(100000000, exponent + 1);
    }
  }
}

class NineDigitNearMidpoints : public ShortPathAgainstGeneralConverter,
                               public ::testing::WithParamInterface<int> {};

// Every fourth midpoint of the binade; the disabled test below takes all of them.
TEST_P(NineDigitNearMidpoints, WholeBinade) {
  check_binade_near_midpoints(*this, GetParam(), 4);
  EXPECT_EQ(compared_, 2 * (std::int64_t{1} << 21));
}

// 2^-76 and 2^-60: deep fractions; 2^-1 and 2^0: around 1; 2^23 and 2^24: integers around the
// end of binary32's exact integers; 2^29: around 10^9; 2^126 and 2^127: the largest values, up
// to the overflow threshold 2^128 - 2^103.
INSTANTIATE_TEST_SUITE_P(Binades, NineDigitNearMidpoints,
                         ::testing::Values(-76, -60, -1, 0, 23, 24, 29, 126, 127));

// Decimals of 16 to 18 digits right next to midpoints, with the exponent after the integer
// digits: they lie within about 10^-17 of a rounding boundary, where a binary64 product that is
// not exact would round the wrong way. Binades of every kind, subnormal ones included.
TEST_F(ShortPathAgainstGeneralConverter, LongDecimalsNextToMidpoints) {
  std::mt19937_64 random(97);
  const auto increment = [](std::string digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
      if (digits[i] != '9') {
        ++digits[i];
        return digits;
      }
      digits[i] = '0';
    }
    return "1" + digits;
  };
  for (int i = 0; i < 60000 && mismatches_ == 0; ++i) {
    const std::uint32_t bits = static_cast<std::uint32_t>(random() % kInfinity);
    const Decimal midpoint = exact_decimal(midpoint_above(bits));
    for (const std::size_t kept : {16, 17, 18}) {
      std::string below = midpoint.digits.substr(0, kept);
      below.resize(kept, '0');
      const std::string exponent = "e" + std::to_string(midpoint.exponent - static_cast<int>(kept));
      const std::string sign = i % 2 == 0 ? " " : "-";
      check_field(sign + below + exponent);
      check_field(sign + increment(below) + exponent);
    }
  }
  EXPECT_EQ(compared_, 60000 * 6);
}

// Every binade that the exact computation covers, every midpoint: some 3.4 billion fields, for
// a run by hand (--gtest_also_run_disabled_tests).
TEST_F(ShortPathAgainstGeneralConverter, DISABLED_NineDigitNearMidpointsOfEveryBinade) {
  for (int binade = NearestNineDigitDecimals::kLowestBinade;
       binade <= NearestNineDigitDecimals::kHighestBinade && mismatches_ == 0; ++binade) {
    check_binade_near_midpoints(*this, binade, 1);
  }
  std::printf("compared %lld fields\n", static_cast<long long>(compared_));
}

// The hardware's rounding mode and its flush-to-zero and denormals-are-zero flags belong to the
// process, and code in the interpreter's process may change them; no result may depend on them.
using testing::FloatingPointEnvironment;

struct EnvironmentCase {
  const char* name;
  int rounding;
  unsigned csr_flags;
};

class ValuesInAnyFloatingPointEnvironment : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(ValuesInAnyFloatingPointEnvironment, AreThoseOfTheDefaultOne) {
  // Fields of all magnitudes, subnormal and overflowing ones included, and fields right at
  // and next to midpoints; their values read in the default environment first.
  std::mt19937_64 random(5);
  std::vector<std::string> fields;
  for (int i = 0; i < 20000; ++i) {
    const int exponent = static_cast<int>(random() % 86) - 46;
    fields.push_back(fortran_field(random() % 1000000, 6, exponent, i % 2 == 0, 12));
    fields.push_back(fortran_field(random() % 1000000000, 9, exponent, i % 3 == 0, 15));
  }
  for (int i = 0; i < 2000; ++i) {
    const Decimal midpoint = exact_decimal(midpoint_above(static_cast<std::uint32_t>(random()) %
                                                          kInfinity));
    fields.push_back(midpoint.scientific());
    fields.push_back(midpoint.above().scientific());
    fields.push_back(midpoint.below().scientific());
  }
  std::vector<std::uint32_t> expected;
  for (const std::string& field : fields) expected.push_back(bits_of(parse_binary32_field(field).value));

  const FloatingPointEnvironment environment(GetParam().rounding, GetParam().csr_flags);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Binary32Parse parsed = parse_binary32_field(fields[i]);
    ASSERT_TRUE(parsed.ok) << fields[i];
    ASSERT_EQ(bits_of(parsed.value), expected[i]) << fields[i];
  }
}

constexpr unsigned kFlushToZero = _MM_FLUSH_ZERO_ON;
constexpr unsigned kDenormalsAreZero = 0x0040;  // MXCSR bit 6

INSTANTIATE_TEST_SUITE_P(
    Modes, ValuesInAnyFloatingPointEnvironment,
    ::testing::Values(EnvironmentCase{"Upward", FE_UPWARD, 0},
                      EnvironmentCase{"Downward", FE_DOWNWARD, 0},
                      EnvironmentCase{"TowardZero", FE_TOWARDZERO, 0},
                      EnvironmentCase{"FlushToZero", FE_TONEAREST, kFlushToZero | kDenormalsAreZero},
                      EnvironmentCase{"DownwardFlushToZero", FE_DOWNWARD,
                                      kFlushToZero | kDenormalsAreZero}),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The field entry: trimming and reading in one

struct FieldCase {
  std::string field;
  bool ok;
  ParseFloatErrorKind kind;  // when !ok
};

void PrintTo(const FieldCase& c, std::ostream* out) { *out << '\'' << c.field << '\''; }

class FieldEntry : public ::testing::TestWithParam<FieldCase> {};

// The result is that of the trim followed by the number grammar, whatever the field's shape;
// values are checked against MPFR.
TEST_P(FieldEntry, TrimsThenReads) {
  const FieldCase& c = GetParam();
  const Binary32Parse parsed = parse_binary32_field(c.field);
  ASSERT_EQ(parsed.ok, c.ok);
  if (!c.ok) {
    EXPECT_EQ(parsed.error, c.kind);
    return;
  }
  const std::string text(trim_whitespace(c.field));
  const bool special = text.find_first_of("nNiI") != std::string::npos;
  if (special) {
    EXPECT_EQ(bits_of(parsed.value), bits_of(parse_binary32(text).value));
    return;
  }
  Binary32Reference reference;
  const std::optional<std::uint32_t> expected = reference.bits(text);
  ASSERT_TRUE(expected.has_value());
  EXPECT_EQ(bits_of(parsed.value), *expected) << std::hex << bits_of(parsed.value);
}

FieldCase value_field(std::string field) { return {std::move(field), true, {}}; }
FieldCase invalid_field(std::string field) {
  return {std::move(field), false, ParseFloatErrorKind::Invalid};
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FieldEntry,
    ::testing::Values(
        // The common shapes, padded.
        value_field(" 1.23457E+02"), value_field("-1.23457E+02"), value_field("   1.2346E+02"),
        value_field(" 1.23456789E-05"), value_field("-9.99999999E+37"),
        value_field(" 0.00000E+00"), value_field("-0.00000E+00"), value_field(" 1.40130E-45"),
        value_field(" 7.00649E-46"), value_field(" 3.40282E+38"), value_field(" 3.40283E+38"),
        value_field("+1.23457E+02"), value_field(" 1.23457e-02"), value_field("1.23457E+02"),
        // Other shapes of decimal numbers.
        value_field(" 1.23457E+2"), value_field(" 1.23457E+002"), value_field(" 1.23457E02"),
        value_field(" 1.234E+02"), value_field(" 1.2345678901E+02"), value_field("  .5E+01"),
        value_field(" 1.E+01"), value_field(" 12345.6E+02"), value_field("   42"),
        value_field(" 1.5"), value_field("1.23457E+02   "), value_field(" 1.23457E+9999"),
        value_field(" 1.23457E-9999"), value_field(" 1.23457E+99999"),
        value_field(" 999999999999999999e-64"), value_field(" 999999999999999999e-65"),
        value_field(" 1e38"), value_field(" 1e39"), value_field(" 9999999999999999999e20"),
        value_field(" 0.0000000000000000000000001E+25"),
        // Other whitespace around a number.
        value_field("\t1.23457E+02"), value_field("1.23457E+02\t"),
        value_field("\xc2\xa0" "1.23457E+02"), value_field("1.23457E+02\xc2\xa0"),
        value_field("\xe3\x80\x80 -1.23457E+02 \xe3\x80\x80"),
        // Words.
        value_field("       inf"), value_field("      -NaN"), value_field(" Infinity "),
        // Not numbers.
        FieldCase{"", false, ParseFloatErrorKind::Empty},
        FieldCase{"            ", false, ParseFloatErrorKind::Empty},
        FieldCase{"\xc2\xa0\t ", false, ParseFloatErrorKind::Empty}, invalid_field(" 1.23457F+02"),
        invalid_field(" 1.23457E*02"), invalid_field(" 1.2345 E+02"), invalid_field(" 1 .23457E+02"),
        invalid_field(" 1.23457E+0x"), invalid_field(" x.23457E+02"), invalid_field(" 1,23457E+02"),
        invalid_field(" 1.23a57E+02"), invalid_field("--1.23457E+02"), invalid_field(" -"),
        invalid_field("1.23457E+02-1.2"), invalid_field(" 1.23457E+"), invalid_field(" 1.23457E"),
        invalid_field(" .E+02"), invalid_field("1.23457D+02"),
        invalid_field("1.23457E+02\xe2\x80\x8b")));  // zero width space, not whitespace

}  // namespace
}  // namespace tarnex
