// Cutting fields out of value lines, and the texts of the cuts that fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "text/cut.hpp"

namespace tarnex {
namespace {

constexpr BytePosition kTwoTo64 = BytePosition{1} << 64;
constexpr BytePosition kMax64 = std::numeric_limits<std::uint64_t>::max();

template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

struct CutCase {
  std::string name;
  std::string line;
  BytePosition start;
  BytePosition end;
  std::string expected;  // the cut text, or the failed-cut text
};

class SuccessfulCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(SuccessfulCut, GivesTheBytesFromStartUpToEnd) {
  const CutCase& c = GetParam();
  const std::optional<std::string_view> text = cut(c.line, c.start, c.end);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, c.expected);
  // A view into the line, not a copy.
  EXPECT_EQ(text->data(), c.line.data() + static_cast<std::size_t>(c.start));
  EXPECT_EQ(failed_cut_text(c.line, c.start, c.end), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cut, SuccessfulCut,
    ::testing::ValuesIn(std::vector<CutCase>{
        {"WholeLine", "  1.00000E+00", 0, 13, "  1.00000E+00"},
        {"SecondField", " 1.00000E+00 2.00000E+00", 12, 24, " 2.00000E+00"},
        {"EmptyAtTheEnd", "123456789012", 12, 12, ""},
        {"EmptyAtTheStart", "abc", 0, 0, ""},
        {"EmptyLine", "", 0, 0, ""},
        {"AroundTwoByteCharacter", "a\xC3\xA9z", 1, 3, "\xC3\xA9"},
        {"AfterTwoByteCharacter", "a\xC3\xA9z", 3, 4, "z"},
        {"EmptyBetweenCharacters", "\xC3\xA9\xE4\xB8\xAD", 2, 2, ""},
        {"ThreeByteCharacter", "\xC3\xA9\xE4\xB8\xAD", 2, 5, "\xE4\xB8\xAD"},
        {"FourByteCharacter", "1\xF0\x9F\x98\x80", 1, 5, "\xF0\x9F\x98\x80"},
    }),
    case_name<CutCase>);

class FailedCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(FailedCut, GivesNothingAndTheTextOfTheFirstFailingCheck) {
  const CutCase& c = GetParam();
  EXPECT_FALSE(cut(c.line, c.start, c.end).has_value());
  EXPECT_EQ(failed_cut_text(c.line, c.start, c.end), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    OutOfBounds, FailedCut,
    ::testing::ValuesIn(std::vector<CutCase>{
        {"EndBeyondLine", "12345678", 0, 12,
         "end byte index 12 is out of bounds for string of length 8"},
        {"StartBeyondLine", std::string(20, ' '), 24, 36,
         "start byte index 24 is out of bounds for string of length 20"},
        {"StartAtLengthEndBeyond", std::string(24, ' '), 24, 36,
         "end byte index 36 is out of bounds for string of length 24"},
        {"EndOneBeyond", "1234", 2, 5, "end byte index 5 is out of bounds for string of length 4"},
        {"EmptyLine", "", 0, 1, "end byte index 1 is out of bounds for string of length 0"},
        {"StartBeyondAndAfterEnd", "abc", 10, 0,
         "start byte index 10 is out of bounds for string of length 3"},
        {"EndBeyondBeforeStartInsideChar", "a\xC3\xA9", 2, 5,
         "end byte index 5 is out of bounds for string of length 3"},
        {"StartBeyond128Bit", std::string(20, ' '), 2 * kMax64, 2 * kMax64 + 12,
         "start byte index 36893488147419103230 is out of bounds for string of length 20"},
        {"EndAt2To64", "abcd", 0, kTwoTo64,
         "end byte index 18446744073709551616 is out of bounds for string of length 4"},
        // Narrowed to 64 bits this start would be 1 and the cut would succeed.
        {"StartJustAbove2To64", "abcd", kTwoTo64 + 1, 3,
         "start byte index 18446744073709551617 is out of bounds for string of length 4"},
        {"EndLargest128Bit", "abcd", 1, ~BytePosition{0},
         "end byte index 340282366920938463463374607431768211455 is out of bounds for string "
         "of length 4"},
    }),
    case_name<CutCase>);

INSTANTIATE_TEST_SUITE_P(Reversed, FailedCut,
                         ::testing::ValuesIn(std::vector<CutCase>{
                             {"StartAfterEnd", "12345678", 5, 3,
                              "byte range starts at 5 but ends at 3"},
                             {"StartAtLengthEndZero", "abc", 3, 0,
                              "byte range starts at 3 but ends at 0"},
                             // The order check comes before the boundary checks.
                             {"BothInsideCharacters", "a\xC3\xA9\xC3\xA9", 4, 2,
                              "byte range starts at 4 but ends at 2"},
                         }),
                         case_name<CutCase>);

INSTANTIATE_TEST_SUITE_P(
    NotACharBoundary, FailedCut,
    ::testing::ValuesIn(std::vector<CutCase>{
        {"EndInsideTwoByte", "a\xC3\xA9", 0, 2,
         "end byte index 2 is not a char boundary; it is inside '\xC3\xA9' (bytes 1..3 of string)"},
        {"StartInsideTwoByte", "a\xC3\xA9", 2, 3,
         "start byte index 2 is not a char boundary; it is inside '\xC3\xA9' (bytes 1..3 of "
         "string)"},
        {"StartWinsOverEnd", "\xC3\xA9\xC3\xA9", 1, 3,
         "start byte index 1 is not a char boundary; it is inside '\xC3\xA9' (bytes 0..2 of "
         "string)"},
        {"StartInsideThreeByteAfterLead", "x\xE4\xB8\xADy", 2, 5,
         "start byte index 2 is not a char boundary; it is inside '\xE4\xB8\xAD' (bytes 1..4 of "
         "string)"},
        {"StartInsideThreeByteLastByte", "x\xE4\xB8\xADy", 3, 5,
         "start byte index 3 is not a char boundary; it is inside '\xE4\xB8\xAD' (bytes 1..4 of "
         "string)"},
        {"EndInsideThreeByte", "x\xE4\xB8\xADy", 0, 3,
         "end byte index 3 is not a char boundary; it is inside '\xE4\xB8\xAD' (bytes 1..4 of "
         "string)"},
        {"StartInsideFourByte", "\xF0\x9F\x98\x80", 1, 4,
         "start byte index 1 is not a char boundary; it is inside '\xF0\x9F\x98\x80' (bytes 0..4 "
         "of string)"},
        {"EndInsideFourByteSecond", "\xF0\x9F\x98\x80", 0, 2,
         "end byte index 2 is not a char boundary; it is inside '\xF0\x9F\x98\x80' (bytes 0..4 "
         "of string)"},
        {"EndInsideFourByteLast", "  \xF0\x9F\x98\x80  ", 0, 5,
         "end byte index 5 is not a char boundary; it is inside '\xF0\x9F\x98\x80' (bytes 2..6 "
         "of string)"},
        {"NoBreakSpaceEscaped", "1.0\xC2\xA0" "2.0", 0, 4,
         "end byte index 4 is not a char boundary; it is inside '\\u{a0}' (bytes 3..5 of string)"},
        {"CombiningMarkEscaped", "e\xCC\x81", 0, 2,
         "end byte index 2 is not a char boundary; it is inside '\\u{301}' (bytes 1..3 of "
         "string)"},
        {"FormatCharacterEscaped", "12\xE2\x80\x8B", 3, 5,
         "start byte index 3 is not a char boundary; it is inside '\\u{200b}' (bytes 2..5 of "
         "string)"},
        {"UnassignedEscaped", "\xCD\xB8", 0, 1,
         "end byte index 1 is not a char boundary; it is inside '\\u{378}' (bytes 0..2 of "
         "string)"},
        {"PrivateUseEscaped", "ab\xEE\x80\x80", 0, 4,
         "end byte index 4 is not a char boundary; it is inside '\\u{e000}' (bytes 2..5 of "
         "string)"},
        {"SupplementaryPrivateUseEscaped", "\xF4\x8F\xBF\xBD", 0, 3,
         "end byte index 3 is not a char boundary; it is inside '\\u{10fffd}' (bytes 0..4 of "
         "string)"},
        {"C1ControlEscaped", "\xC2\x85", 1, 2,
         "start byte index 1 is not a char boundary; it is inside '\\u{85}' (bytes 0..2 of "
         "string)"},
    }),
    case_name<CutCase>);

// Every pair of positions in and just beyond a mixed line: the cut agrees with the rule
// start <= end <= length on character boundaries, and a failing cut always has a text.
TEST(CutExhaustive, AgreesWithTheBoundaryRuleForEveryPairOfPositions) {
  const std::string line = "a\xC3\xA9 \xE4\xB8\xAD\xF0\x9F\x98\x80z";
  const std::set<std::size_t> boundaries = {0, 1, 3, 4, 7, 11, 12};
  for (std::size_t start = 0; start <= line.size() + 2; ++start) {
    for (std::size_t end = 0; end <= line.size() + 2; ++end) {
      const bool allowed = start <= end && end <= line.size() && boundaries.count(start) == 1 &&
                           boundaries.count(end) == 1;
      const std::optional<std::string_view> text = cut(line, start, end);
      ASSERT_EQ(text.has_value(), allowed) << start << ".." << end;
      if (allowed) {
        EXPECT_EQ(*text, line.substr(start, end - start));
      } else {
        EXPECT_FALSE(failed_cut_text(line, start, end).empty()) << start << ".." << end;
      }
    }
  }
}

struct DecimalCase {
  std::string name;
  BytePosition value;
  std::string text;
};

class DecimalText : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalText, WritesEveryDigitWithoutSeparators) {
  EXPECT_EQ(decimal_text(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cut, DecimalText,
    ::testing::ValuesIn(std::vector<DecimalCase>{
        {"Zero", 0, "0"},
        {"Nine", 9, "9"},
        {"Ten", 10, "10"},
        {"ThousandsWithoutSeparator", 1234567, "1234567"},
        {"Largest64Bit", kMax64, "18446744073709551615"},
        {"TwoTo64", kTwoTo64, "18446744073709551616"},
        {"TwiceLargest64Bit", 2 * kMax64, "36893488147419103230"},
        {"TenTo38", BytePosition{10000000000000000000ULL} * 10000000000000000000ULL,
         "100000000000000000000000000000000000000"},
        {"Largest128Bit", ~BytePosition{0}, "340282366920938463463374607431768211455"},
    }),
    case_name<DecimalCase>);

}  // namespace
}  // namespace tarnex
