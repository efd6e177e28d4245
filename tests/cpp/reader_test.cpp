#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "boundary/fatal_error.hpp"
#include "mpfr_reference.hpp"
#include "reader/read_plot_file.hpp"
#include "test_support.hpp"

namespace tarnex {
namespace {

using testing::CapturedFd;
using testing::TempDir;

// Formats `value` right-aligned in a field of `width` the way plot files are written.
std::string field(double value, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "%*.*E", width, width == 12 ? 5 : 8, value);
  return text;
}

// A plot file with P parameters; value of parameter p in block b is (b + 1) * 100 + p.
std::string plot_file(int parameters, int blocks, int width, const std::string& eol = "\n") {
  std::string text = " VORMANT PLOT FILE  " + std::to_string(parameters) + eol;
  for (int p = 0; p < parameters; ++p) text += "PARAM " + std::to_string(p) + eol;
  for (int b = 0; b < blocks; ++b) {
    text += " BLOCK " + std::to_string(b) + eol;
    for (int p = 0; p < parameters; ++p) {
      text += field((b + 1) * 100 + p, width);
      if (p % 10 == 9 || p == parameters - 1) text += eol;
    }
  }
  return text;
}

struct ShapeCase {
  int parameters;
  int width;
  const char* eol;
};

class FileShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(FileShapes, EveryValueLandsInItsColumn) {
  const auto [parameters, width, eol] = GetParam();
  TempDir dir;
  const int blocks = 7;
  const PlotData data =
      read_plot_file(dir.write("plot.txt", plot_file(parameters, blocks, width, eol)), width);
  ASSERT_EQ(data.parameters, static_cast<std::uint64_t>(parameters));
  ASSERT_EQ(data.values.size(), static_cast<std::size_t>(blocks * parameters));
  for (int b = 0; b < blocks; ++b) {
    for (int p = 0; p < parameters; ++p) EXPECT_EQ(data.value(b, p), (b + 1) * 100.0f + p);
  }
}

INSTANTIATE_TEST_SUITE_P(Reader, FileShapes,
                         ::testing::Values(ShapeCase{1, 12, "\n"}, ShapeCase{2, 15, "\n"},
                                           ShapeCase{10, 12, "\n"}, ShapeCase{11, 12, "\r\n"},
                                           ShapeCase{11, 15, "\n"}, ShapeCase{25, 12, "\n"},
                                           ShapeCase{25, 15, "\r\n"}, ShapeCase{100, 12, "\n"}));

struct OutcomeCase {
  const char* name;
  std::string file;
  std::uint64_t n_digits;
  std::string expected;  // the fatal message, or "ok <blocks> <columns>"
};

void PrintTo(const OutcomeCase& c, std::ostream* out) { *out << c.name; }

std::string outcome(const std::string& path, std::uint64_t n_digits) {
  CapturedFd quiet_stdout(STDOUT_FILENO);
  CapturedFd quiet_stderr(STDERR_FILENO);
  try {
    const PlotData data = read_plot_file(path, n_digits);
    EXPECT_EQ(data.values.size(), data.steps() * data.parameters);
    return "ok " + std::to_string(data.steps()) + " " + std::to_string(data.parameters - 1);
  } catch (const FatalError& error) {
    return error.message();
  }
}

class Outcomes : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcomes, MatchTheFileExactly) {
  TempDir dir;
  const int before = testing::open_descriptor_count();
  EXPECT_EQ(outcome(dir.write("plot.txt", GetParam().file), GetParam().n_digits),
            GetParam().expected);
  EXPECT_EQ(testing::open_descriptor_count(), before);
}

const std::string kHeader3 = "title 3\na\nb\nc\n";
const std::string kBlock3 = "lead\n         1.0         2.0         3.0\n";
const std::string kUnparsable = "Could not parse line: ParseFloatError { kind: Invalid }";
const std::string kEmptyField = "Could not parse line: ParseFloatError { kind: Empty }";

INSTANTIATE_TEST_SUITE_P(
    Header, Outcomes,
    ::testing::Values(
        OutcomeCase{"empty_file", "", 12, "Failed ot read line!"},
        OutcomeCase{"only_count", "1\nt\n", 12, "ok 0 0"},
        OutcomeCase{"title_then_count", kHeader3, 12, "ok 0 2"},
        OutcomeCase{"plus_sign", "+3\na\nb\nc\n", 12, "ok 0 2"},
        OutcomeCase{"crlf_first_line", "x 3\r\na\r\nb\r\nc\r\n", 12, "ok 0 2"},
        OutcomeCase{"names_may_be_anything", "2\n\n  \t \n", 12, "ok 0 1"},
        OutcomeCase{"missing_name_line", "title 3\na\nb\n", 12, "Failed to read line!"},
        OutcomeCase{"invalid_utf8_name", "2\na\n\xC3(\n", 12,
                    "Failed to read line!: Error { kind: InvalidData, message: \"stream did not "
                    "contain valid UTF-8\" }"},
        OutcomeCase{"invalid_utf8_first_line", "\xFF 2\n", 12,
                    "Failed to read line!: Error { kind: InvalidData, message: \"stream did not "
                    "contain valid UTF-8\" }"},
        OutcomeCase{"blank_first_line", " \t\na\n", 12,
                    "The number of parameters must be at least 1, since the time counts as "
                    "one:\n' \t'"},
        OutcomeCase{"zero_count", "plot +0\n", 12,
                    "The number of parameters must be at least 1, since the time counts as "
                    "one:\n'plot +0'"},
        OutcomeCase{"negative_count", "plot -3\r\n", 12,
                    "The first line should end with the number of parameters:\n'plot -3'"},
        OutcomeCase{"count_too_large", "18446744073709551616\n", 12,
                    "The first line should end with the number of parameters:\n"
                    "'18446744073709551616'"}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Blocks, Outcomes,
    ::testing::Values(
        OutcomeCase{"two_blocks", kHeader3 + kBlock3 + kBlock3, 12, "ok 2 2"},
        OutcomeCase{"no_final_line_feed", kHeader3 + "\n         1.0         2.0         3.0", 12,
                    "ok 1 2"},
        OutcomeCase{"extra_fields_ignored", kHeader3 + "x\n" + std::string(120, '7') + "\n", 12,
                    "ok 1 2"},
        OutcomeCase{"trailing_empty_line", kHeader3 + kBlock3 + "\n", 12, "Error reading line"},
        OutcomeCase{"ends_after_lead_line", kHeader3 + kBlock3 + "lead\n", 12,
                    "Error reading line"},
        OutcomeCase{"ends_before_second_value_line",
                    "11\n" + std::string(11, '\n') + "lead\n" + std::string(120, '1') + "\n", 12,
                    "Error reading line"},
        OutcomeCase{"bad_field_before_missing_line",
                    "11\n" + std::string(11, '\n') + "lead\n" + std::string(119, '1') + "x\n", 12,
                    kUnparsable},
        OutcomeCase{"line_one_byte_short", kHeader3 + "lead\n" + std::string(35, '1') + "\n", 12,
                    "end byte index 36 is out of bounds for string of length 35"},
        OutcomeCase{"width_beyond_line", kHeader3 + kBlock3, 100,
                    "end byte index 100 is out of bounds for string of length 36"},
        OutcomeCase{"huge_width", kHeader3 + kBlock3, UINT64_MAX,
                    "end byte index 18446744073709551615 is out of bounds for string of length "
                    "36"},
        OutcomeCase{"zero_width", kHeader3 + kBlock3, 0, kEmptyField},
        OutcomeCase{"zero_width_no_blocks", kHeader3, 0, "ok 0 2"},
        OutcomeCase{"blank_field", kHeader3 + "lead\n         1.0            " + "         3.0\n",
                    12, kEmptyField},
        OutcomeCase{"blank_inside_number", kHeader3 + "lead\n         1.0        2. 0         3.0\n",
                    12, kUnparsable},
        OutcomeCase{"fortran_d_exponent", kHeader3 + "lead\n     1.0D+00     2.0         3.0\n",
                    12, kUnparsable},
        OutcomeCase{"character_across_border",
                    kHeader3 + "lead\n         1.0           \xC3\xA9         3.0\n", 12,
                    "end byte index 24 is not a char boundary; it is inside '\xC3\xA9' "
                    "(bytes 23..25 of string)"},
        OutcomeCase{"read_error_in_blocks_is_not_end", kHeader3 + "lead\n\xFF\n", 12,
                    "Failed to read line!: Error { kind: InvalidData, message: \"stream did not "
                    "contain valid UTF-8\" }"}),
    [](const auto& info) { return info.param.name; });

TEST(Reader, OpenFailuresAreNotFound) {
  TempDir dir;
  EXPECT_EQ(outcome((dir.path() / "missing.txt").string(), 12),
            "Plot file not found!: Os { code: 2, kind: NotFound, message: \"No such file or "
            "directory\" }");
  EXPECT_EQ(outcome(std::string("a\0b", 3), 12),
            "Plot file not found!: Error { kind: InvalidInput, message: \"file name contained an "
            "unexpected NUL byte\" }");
  EXPECT_EQ(outcome(dir.path().string(), 12),
            "Failed to read line!: Os { code: 21, kind: IsADirectory, message: \"Is a "
            "directory\" }");
}

TEST(Reader, BadCountPrintsItsLineOnStdoutFirst) {
  TempDir dir;
  const std::string token = "3.0" + std::string(3000, '0');
  const std::string path = dir.write("plot.txt", "PLOT " + token + "\r\nrest\n");
  CapturedFd out(STDOUT_FILENO);
  EXPECT_EQ(testing::fatal_message_of([&] { read_plot_file(path, 12); }),
            "The first line should end with the number of parameters:\n'PLOT " + token + "'");
  EXPECT_EQ(out.text(), "Error: '" + token + "' is not a valid number of parameters!\n");
}

TEST(Reader, ZeroCountPrintsNothing) {
  TempDir dir;
  const std::string path = dir.write("plot.txt", "\n");
  CapturedFd out(STDOUT_FILENO);
  testing::fatal_message_of([&] { read_plot_file(path, 12); });
  EXPECT_EQ(out.text(), "");
}

TEST(Reader, FailureIsReportedOnStderrWithItsMessage) {
  TempDir dir;
  CapturedFd err(STDERR_FILENO);
  EXPECT_THROW(read_plot_file(dir.write("plot.txt", ""), 12), FatalError);
  const std::string report = err.text();
  EXPECT_EQ(report.substr(0, 21), "\nthread '<unnamed>' (");
  EXPECT_TRUE(report.ends_with(":\nFailed ot read line!\n")) << report;
}

TEST(Reader, ValuesAreCorrectlyRoundedBinary32) {
  // Random fields of both widths against MPFR's correctly rounded reading of the same text.
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> exponent(-45.0, 38.5);
  std::vector<std::string> texts;
  testing::Binary32Reference reference;
  for (int width : {12, 15}) {
    std::string file = "3\nt\na\nb\n";
    for (int block = 0; block < 2000; ++block) {
      file += "lead\n";
      for (int p = 0; p < 3; ++p) {
        const double value = std::pow(10.0, exponent(random)) * (random() % 2 ? -1 : 1);
        const std::string text = field(value, width);
        texts.push_back(text);
        file += text;
      }
      file += "\n";
    }
    TempDir dir;
    const PlotData data = read_plot_file(dir.write("plot.txt", file), width);
    const std::size_t base = texts.size() - 6000;
    for (std::size_t i = 0; i < 6000; ++i) {
      const float value = data.value(i / 3, i % 3);
      const std::string& text = texts[base + i];
      ASSERT_EQ(std::bit_cast<std::uint32_t>(value),
                reference.bits(text.substr(text.find_first_not_of(' '))))
          << text;
    }
  }
}

}  // namespace
}  // namespace tarnex
