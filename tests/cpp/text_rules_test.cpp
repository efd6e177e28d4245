// The character rules of plot file lines: UTF-8 well-formedness and decoding, whitespace
// splitting and trimming, and how a character is shown in a failed-cut text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_render.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int value : values) out += static_cast<char>(value);
  return out;
}

// Encodes one code point; written independently of the code under test.
std::string utf8(char32_t cp) {
  if (cp < 0x80) return bytes({static_cast<int>(cp)});
  if (cp < 0x800) return bytes({0xC0 | int(cp >> 6), 0x80 | int(cp & 0x3F)});
  if (cp < 0x10000) {
    return bytes({0xE0 | int(cp >> 12), 0x80 | int((cp >> 6) & 0x3F), 0x80 | int(cp & 0x3F)});
  }
  return bytes({0xF0 | int(cp >> 18), 0x80 | int((cp >> 12) & 0x3F), 0x80 | int((cp >> 6) & 0x3F),
                0x80 | int(cp & 0x3F)});
}

template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// UTF-8 well-formedness

struct Utf8Case {
  std::string name;
  std::string text;
};

class RejectedUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(RejectedUtf8, IsRejectedAloneAndInsideLongAsciiText) {
  const std::string& bad = GetParam().text;
  const std::string ascii(37, 'x');
  EXPECT_FALSE(is_valid_utf8(bad));
  EXPECT_FALSE(is_valid_utf8(ascii + bad));
  EXPECT_FALSE(is_valid_utf8(bad + ascii));
  EXPECT_FALSE(is_valid_utf8(ascii + utf8(0xE9) + bad + utf8(0x1F600) + ascii));
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, RejectedUtf8,
    ::testing::ValuesIn(std::vector<Utf8Case>{
        {"ByteFF", bytes({0xFF})},
        {"ByteFE", bytes({0xFE})},
        {"LeadF5", bytes({0xF5, 0x80, 0x80, 0x80})},
        {"LeadF8", bytes({0xF8, 0x88, 0x80, 0x80, 0x80})},
        {"LoneContinuation80", bytes({0x80})},
        {"LoneContinuationBF", bytes({0xBF})},
        {"ContinuationAfterComplete2Byte", bytes({0xC3, 0xA9, 0xA9})},
        {"Truncated2Byte", bytes({0xC3})},
        {"Truncated3ByteAfterLead", bytes({0xE2})},
        {"Truncated3Byte", bytes({0xE2, 0x82})},
        {"Truncated4ByteAfterLead", bytes({0xF0})},
        {"Truncated4Byte", bytes({0xF0, 0x9F, 0x98})},
        {"TruncatedBeforeAscii", bytes({0xE2, 0x82, 0x41})},
        {"LeadThenAscii", bytes({0xC3, 0x41})},
        {"LeadThenLead", bytes({0xC3, 0xC3, 0xA9})},
        {"ThirdByteNotContinuation", bytes({0xE2, 0x82, 0xC0})},
        {"FourthByteNotContinuation", bytes({0xF0, 0x9F, 0x98, 0x41})},
        {"OverlongC080", bytes({0xC0, 0x80})},
        {"OverlongC1BF", bytes({0xC1, 0xBF})},
        {"OverlongE08080", bytes({0xE0, 0x80, 0x80})},
        {"OverlongE09FBF", bytes({0xE0, 0x9F, 0xBF})},
        {"OverlongF0808080", bytes({0xF0, 0x80, 0x80, 0x80})},
        {"OverlongF08FBFBF", bytes({0xF0, 0x8F, 0xBF, 0xBF})},
        {"SurrogateEDA080", bytes({0xED, 0xA0, 0x80})},
        {"SurrogateEDBFBF", bytes({0xED, 0xBF, 0xBF})},
        {"SurrogatePair", bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})},
        {"AboveMaxF4908080", bytes({0xF4, 0x90, 0x80, 0x80})},
        {"AboveMaxF4BFBFBF", bytes({0xF4, 0xBF, 0xBF, 0xBF})},
    }),
    case_name<Utf8Case>);

class AcceptedUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(AcceptedUtf8, IsAcceptedAloneAndInsideLongAsciiText) {
  const std::string& good = GetParam().text;
  const std::string ascii(37, 'x');
  EXPECT_TRUE(is_valid_utf8(good));
  EXPECT_TRUE(is_valid_utf8(ascii + good + ascii));
  EXPECT_TRUE(is_valid_utf8(good + good + ascii + good));
}

INSTANTIATE_TEST_SUITE_P(Utf8, AcceptedUtf8,
                         ::testing::ValuesIn(std::vector<Utf8Case>{
                             {"Empty", ""},
                             {"Ascii", "12.5 abc"},
                             {"NulByte", bytes({'a', 0x00, 'b'})},
                             {"ControlsAndDelete", bytes({0x01, 0x0D, 0x1F, 0x7F})},
                             {"Lowest2Byte", bytes({0xC2, 0x80})},
                             {"Highest2Byte", bytes({0xDF, 0xBF})},
                             {"Lowest3Byte", bytes({0xE0, 0xA0, 0x80})},
                             {"BelowSurrogates", bytes({0xED, 0x9F, 0xBF})},
                             {"AboveSurrogates", bytes({0xEE, 0x80, 0x80})},
                             {"Highest3Byte", bytes({0xEF, 0xBF, 0xBF})},
                             {"ByteOrderMark", bytes({0xEF, 0xBB, 0xBF})},
                             {"Lowest4Byte", bytes({0xF0, 0x90, 0x80, 0x80})},
                             {"Middle4Byte", bytes({0xF3, 0xBF, 0xBF, 0xBF})},
                             {"Highest4Byte", bytes({0xF4, 0x8F, 0xBF, 0xBF})},
                             {"Mixed", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z"},
                         }),
                         case_name<Utf8Case>);

// The ASCII fast path tests blocks of up to 64 bytes at once; a fault must be found at any offset,
// whichever lane of a block it falls in and however many ASCII bytes follow it.
class Utf8AtOffset : public ::testing::TestWithParam<int> {};

TEST_P(Utf8AtOffset, BadByteIsFoundAtEveryOffset) {
  const auto offset = static_cast<std::size_t>(GetParam());
  for (const std::size_t tail : {0, 1, 7, 8, 15, 16, 17, 40}) {
    std::string line(offset, '7');
    line += bytes({0xFF});
    line += std::string(tail, '7');
    EXPECT_FALSE(is_valid_utf8(line)) << "tail " << tail;
  }
}

TEST_P(Utf8AtOffset, LoneContinuationIsFoundAtEveryOffset) {
  std::string line(static_cast<std::size_t>(GetParam()), ' ');
  line += bytes({0x80});
  line += std::string(20, ' ');
  EXPECT_FALSE(is_valid_utf8(line));
}

TEST_P(Utf8AtOffset, TruncatedSequenceAtTheEndIsFound) {
  const std::string ascii(static_cast<std::size_t>(GetParam()), 'a');
  EXPECT_FALSE(is_valid_utf8(ascii + bytes({0xC3})));
  EXPECT_FALSE(is_valid_utf8(ascii + bytes({0xE4, 0xB8})));
  EXPECT_FALSE(is_valid_utf8(ascii + bytes({0xF0, 0x9F, 0x98})));
}

TEST_P(Utf8AtOffset, WellFormedCharactersAreAcceptedAtEveryOffset) {
  for (const char32_t cp : {U'\u00E9', U'\u4E2D', U'\U0001F600'}) {
    std::string line(static_cast<std::size_t>(GetParam()), 'a');
    line += utf8(cp);
    EXPECT_TRUE(is_valid_utf8(line));
    line += std::string(33, 'b');
    EXPECT_TRUE(is_valid_utf8(line));
  }
}

INSTANTIATE_TEST_SUITE_P(Utf8, Utf8AtOffset, ::testing::Range(0, 81));

// A decoder written the other way round: decode first, then check the value's range.
bool reference_is_valid(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t cp;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    constexpr std::array<char32_t, 5> kShortestFrom = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortestFrom[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

TEST(Utf8Exhaustive, EveryOneAndTwoByteTextAgreesWithTheReference) {
  for (int first = 0; first < 256; ++first) {
    ASSERT_EQ(is_valid_utf8(bytes({first})), reference_is_valid(bytes({first}))) << first;
    for (int second = 0; second < 256; ++second) {
      const std::string text = bytes({first, second});
      ASSERT_EQ(is_valid_utf8(text), reference_is_valid(text)) << first << ' ' << second;
    }
  }
}

TEST(Utf8Exhaustive, EveryThreeByteTextWithA3ByteLeadAgreesWithTheReference) {
  for (int lead = 0xE0; lead <= 0xEF; ++lead) {
    for (int second = 0; second < 256; ++second) {
      for (int third = 0; third < 256; ++third) {
        const std::string text = bytes({lead, second, third});
        ASSERT_EQ(is_valid_utf8(text), reference_is_valid(text))
            << lead << ' ' << second << ' ' << third;
      }
    }
  }
}

TEST(Utf8Exhaustive, FourByteTextsAgreeWithTheReference) {
  for (int lead = 0xF0; lead <= 0xFF; ++lead) {
    for (int second = 0; second < 256; ++second) {
      for (const int third : {0x41, 0x80, 0x9F, 0xBF, 0xC0}) {
        for (const int fourth : {0x00, 0x7F, 0x80, 0xBF, 0xC0}) {
          const std::string text = bytes({lead, second, third, fourth});
          ASSERT_EQ(is_valid_utf8(text), reference_is_valid(text))
              << lead << ' ' << second << ' ' << third << ' ' << fourth;
        }
      }
    }
  }
}

TEST(Utf8Exhaustive, EveryCodePointRoundTripsThroughDecoding) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string text = "a" + utf8(cp) + "b";
    ASSERT_TRUE(is_valid_utf8(text)) << std::hex << static_cast<std::uint32_t>(cp);
    const DecodedChar decoded = decode_char(text, 1);
    ASSERT_EQ(decoded.code_point, cp);
    ASSERT_EQ(decoded.length, text.size() - 2);
  }
}

TEST(DecodeChar, StaysInsideTextThatIsNotWellFormed) {
  const std::string truncated = "a" + bytes({0xE4, 0xB8});
  EXPECT_EQ(decode_char(truncated, 1).length, 1u);
  EXPECT_EQ(decode_char(truncated, 1).code_point, U'\uFFFD');
  EXPECT_EQ(decode_char(bytes({0x80}), 0).length, 1u);
  EXPECT_EQ(decode_char("ab", 2).length, 1u);
}

// ---------------------------------------------------------------------------------------------
// Whitespace

constexpr std::array<char32_t, 25> kWhitespace = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

class WhitespaceCodePoint : public ::testing::TestWithParam<char32_t> {};

TEST_P(WhitespaceCodePoint, SeparatesTokensAndIsTrimmed) {
  const std::string blank = utf8(GetParam());
  EXPECT_TRUE(is_whitespace(GetParam()));
  EXPECT_EQ(split_whitespace("ab" + blank + "c"), (std::vector<std::string_view>{"ab", "c"}));
  EXPECT_EQ(split_whitespace(blank + blank), std::vector<std::string_view>{});
  EXPECT_EQ(trim_whitespace(blank + "1" + blank + "5" + blank), "1" + blank + "5");
  EXPECT_EQ(trim_whitespace(blank), "");
}

INSTANTIATE_TEST_SUITE_P(Whitespace, WhitespaceCodePoint, ::testing::ValuesIn(kWhitespace));

class NotWhitespaceCodePoint : public ::testing::TestWithParam<char32_t> {};

TEST_P(NotWhitespaceCodePoint, StaysInsideTokensAndIsKeptByTrim) {
  const std::string other = utf8(GetParam());
  EXPECT_FALSE(is_whitespace(GetParam()));
  EXPECT_EQ(split_whitespace("ab" + other + "c"),
            (std::vector<std::string_view>{"ab" + other + "c"}));
  EXPECT_EQ(split_whitespace(" " + other + " "), (std::vector<std::string_view>{other}));
  EXPECT_EQ(trim_whitespace(other + " 1 " + other), other + " 1 " + other);
}

INSTANTIATE_TEST_SUITE_P(Whitespace, NotWhitespaceCodePoint,
                         ::testing::Values(0x0000, 0x0008, 0x000E, 0x001F, 0x0021, 0x007F,
                                           0x0084, 0x0086, 0x009F, 0x00A1, 0x00E9, 0x167F,
                                           0x1681, 0x180E, 0x1FFF, 0x200B, 0x200C, 0x200D,
                                           0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060,
                                           0x2FFF, 0x3001, 0xFEFF, 0x1F600));

TEST(Whitespace, NoOtherCodePointIsWhitespace) {
  std::size_t count = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) count += is_whitespace(cp) ? 1 : 0;
  EXPECT_EQ(count, kWhitespace.size());
}

struct SplitCase {
  std::string name;
  std::string line;
  std::vector<std::string> tokens;
};

class SplitWhitespace : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitWhitespace, GivesTheMaximalNonBlankRuns) {
  const std::vector<std::string_view> tokens = split_whitespace(GetParam().line);
  ASSERT_EQ(tokens.size(), GetParam().tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) EXPECT_EQ(tokens[i], GetParam().tokens[i]);
}

INSTANTIATE_TEST_SUITE_P(
    Whitespace, SplitWhitespace,
    ::testing::ValuesIn(std::vector<SplitCase>{
        {"MixedBlanks", " \t 12  abc" + utf8(0x3000) + "x ", {"12", "abc", "x"}},
        {"NoBreakSpaceSeparates", "1" + utf8(0xA0) + "2", {"1", "2"}},
        {"ZeroWidthSpaceDoesNot", "1" + utf8(0x200B) + "2", {"1" + utf8(0x200B) + "2"}},
        {"ByteOrderMarkDoesNot", utf8(0xFEFF) + "12 3", {utf8(0xFEFF) + "12", "3"}},
        {"Empty", "", {}},
        {"OnlyBlanks", " \t\r\n" + utf8(0x2029) + utf8(0x85), {}},
        {"SingleToken", "abc", {"abc"}},
        {"NonBlankMultibyteTokens", "\xC3\xA9 \xE4\xB8\xAD\xF0\x9F\x98\x80",
         {"\xC3\xA9", "\xE4\xB8\xAD\xF0\x9F\x98\x80"}},
        {"MultibyteBlankRun", "a" + utf8(0x2000) + utf8(0x205F) + utf8(0x1680) + "b", {"a", "b"}},
        {"NulIsPartOfAToken", bytes({'a', 0, 'b', ' ', 'c'}), {bytes({'a', 0, 'b'}), "c"}},
        {"CountLine", "  VORMANT RUN 7 params   12", {"VORMANT", "RUN", "7", "params", "12"}},
    }),
    case_name<SplitCase>);

struct TrimCase {
  std::string name;
  std::string text;
  std::string trimmed;
};

class TrimWhitespace : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimWhitespace, RemovesBlanksAtBothEndsOnly) {
  EXPECT_EQ(trim_whitespace(GetParam().text), GetParam().trimmed);
}

INSTANTIATE_TEST_SUITE_P(
    Whitespace, TrimWhitespace,
    ::testing::ValuesIn(std::vector<TrimCase>{
        {"NoBreakSpaceSpaceNumberTab", utf8(0xA0) + " 1.5\t", "1.5"},
        {"Blanks", "      ", ""},
        {"Empty", "", ""},
        {"NothingToTrim", "1.5", "1.5"},
        {"InnerBlanksStay", " 1 5 ", "1 5"},
        {"MultibyteBlanksAtTheEnd", "-2.5E+01" + utf8(0x3000) + utf8(0x2028), "-2.5E+01"},
        {"MultibyteBlanksOnly", utf8(0x3000) + utf8(0x202F) + " " + utf8(0x85), ""},
        {"TwoByteCharacterLast", "  caf\xC3\xA9  ", "caf\xC3\xA9"},
        {"ThreeByteCharacterLast", "\t\xE4\xB8\xAD", "\xE4\xB8\xAD"},
        {"FourByteCharacterLast", "x\xF0\x9F\x98\x80" + utf8(0xA0), "x\xF0\x9F\x98\x80"},
        {"SingleMultibyteCharacter", "\xC3\xA9", "\xC3\xA9"},
        {"ZeroWidthSpaceStays", utf8(0x200B) + "1" + utf8(0x200B),
         utf8(0x200B) + "1" + utf8(0x200B)},
        {"ByteOrderMarkStays", " " + utf8(0xFEFF) + "1", utf8(0xFEFF) + "1"},
        {"CarriageReturnIsBlank", "3.0\r", "3.0"},
    }),
    case_name<TrimCase>);

// ---------------------------------------------------------------------------------------------
// Rendering of a character in a failed-cut text

struct RenderCase {
  std::string name;
  char32_t code_point;
  std::string rendered;
};

class RenderChar : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderChar, WritesTheCharacterOrItsEscapeBetweenApostrophes) {
  EXPECT_EQ(render_char(GetParam().code_point), GetParam().rendered);
  const bool escaped = GetParam().rendered.starts_with("'\\u{");
  EXPECT_EQ(is_escaped_when_rendered(GetParam().code_point), escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Render, RenderChar,
    ::testing::ValuesIn(std::vector<RenderCase>{
        // written as themselves
        {"LatinSmallEAcute", 0xE9, "'\xC3\xA9'"},
        {"InvertedExclamation", 0xA1, "'\xC2\xA1'"},
        {"YDiaeresis", 0xFF, "'\xC3\xBF'"},
        {"EuroSign", 0x20AC, "'\xE2\x82\xAC'"},
        {"CjkIdeograph", 0x4E2D, "'\xE4\xB8\xAD'"},
        {"ReplacementCharacter", 0xFFFD, "'\xEF\xBF\xBD'"},
        {"Emoji", 0x1F600, "'\xF0\x9F\x98\x80'"},
        {"AsciiLetter", 'a', "'a'"},
        // controls
        {"FirstC1Control", 0x80, "'\\u{80}'"},
        {"LastC1Control", 0x9F, "'\\u{9f}'"},
        {"NulControl", 0x00, "'\\u{0}'"},
        {"Delete", 0x7F, "'\\u{7f}'"},
        // whitespace
        {"NoBreakSpace", 0xA0, "'\\u{a0}'"},
        {"NextLine", 0x85, "'\\u{85}'"},
        {"Tab", 0x09, "'\\u{9}'"},
        {"EnQuad", 0x2000, "'\\u{2000}'"},
        {"IdeographicSpace", 0x3000, "'\\u{3000}'"},
        {"ParagraphSeparator", 0x2029, "'\\u{2029}'"},
        // Grapheme_Extend
        {"CombiningAcute", 0x301, "'\\u{301}'"},
        {"VariationSelector16", 0xFE0F, "'\\u{fe0f}'"},
        {"CombiningEnclosingCircle", 0x20DD, "'\\u{20dd}'"},
        // Default_Ignorable_Code_Point that is a letter
        {"HangulChoseongFiller", 0x115F, "'\\u{115f}'"},
        // format characters
        {"ZeroWidthSpace", 0x200B, "'\\u{200b}'"},
        {"ZeroWidthJoiner", 0x200D, "'\\u{200d}'"},
        {"SoftHyphen", 0xAD, "'\\u{ad}'"},
        {"MongolianVowelSeparator", 0x180E, "'\\u{180e}'"},
        {"ByteOrderMark", 0xFEFF, "'\\u{feff}'"},
        {"ArabicNumberSign", 0x600, "'\\u{600}'"},
        {"LanguageTag", 0xE0001, "'\\u{e0001}'"},
        // unassigned
        {"UnassignedGreek", 0x378, "'\\u{378}'"},
        {"NoncharacterFFFF", 0xFFFF, "'\\u{ffff}'"},
        {"NoncharacterFDD0", 0xFDD0, "'\\u{fdd0}'"},
        {"UnassignedPlane4", 0x40000, "'\\u{40000}'"},
        {"LastCodePoint", 0x10FFFF, "'\\u{10ffff}'"},
        // private use
        {"PrivateUseFirst", 0xE000, "'\\u{e000}'"},
        {"PrivateUseLast", 0xF8FF, "'\\u{f8ff}'"},
        {"PlaneFifteenFirst", 0xF0000, "'\\u{f0000}'"},
        {"PlaneFifteenLast", 0xFFFFD, "'\\u{ffffd}'"},
        {"PlaneSixteenFirst", 0x100000, "'\\u{100000}'"},
        {"PlaneSixteenLast", 0x10FFFD, "'\\u{10fffd}'"},
    }),
    case_name<RenderCase>);

TEST(RenderTable, IsSortedDisjointAndWithinTheCodeSpace) {
  EXPECT_NE(std::string_view(unicode::kUnicodeVersion), "");
  char32_t next_allowed = 0;
  for (const unicode::CodePointRange& range : unicode::kEscapedWhenRendered) {
    EXPECT_LE(next_allowed, range.first);
    EXPECT_LE(range.first, range.last);
    EXPECT_LE(range.last, U'\U0010FFFF');
    next_allowed = range.last + 2;  // adjacent ranges would have been merged
  }
}

TEST(RenderTable, EveryPrivateUseCodePointIsEscaped) {
  struct Span {
    char32_t first, last;
  };
  for (const Span span : {Span{0xE000, 0xF8FF}, Span{0xF0000, 0xFFFFD}, Span{0x100000, 0x10FFFD}}) {
    for (char32_t cp = span.first; cp <= span.last; ++cp) {
      ASSERT_TRUE(is_escaped_when_rendered(cp)) << std::hex << static_cast<std::uint32_t>(cp);
    }
  }
}

TEST(RenderTable, SurrogatesAndValuesBeyondTheCodeSpaceAreEscaped) {
  EXPECT_EQ(render_char(0xD800), "'\\u{d800}'");
  EXPECT_EQ(render_char(0xDFFF), "'\\u{dfff}'");
  EXPECT_EQ(render_char(0x110000), "'\\u{110000}'");
}

TEST(RenderTable, EveryRenderingThatIsNotEscapedIsTheCharactersUtf8) {
  for (char32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
    if (is_escaped_when_rendered(cp)) continue;
    ASSERT_EQ(render_char(cp), "'" + utf8(cp) + "'") << std::hex << static_cast<std::uint32_t>(cp);
  }
}

}  // namespace
}  // namespace tarnex
