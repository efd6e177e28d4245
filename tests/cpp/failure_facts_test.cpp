// The facts every reader failure hands to the front end's policy: kind, line, field, parameter
// and text, and that a policy which throws leaves no trace on descriptors 1 and 2.
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "reader/read_plot_file.hpp"
#include "test_support.hpp"

namespace tarnex {
namespace {

using testing::CapturedFd;
using testing::TempDir;

// The facts of a failure, copied out of the reader's buffers.
struct Facts {
  FailureKind kind;
  std::uint64_t line;
  std::uint64_t field = 0;
  std::uint64_t parameter = 0;
  std::string text;
  std::uint64_t extra = 0;  // step_line, parameters, fields_on_line or the errno, by kind
};

bool operator==(const Facts& a, const Facts& b) {
  return a.kind == b.kind && a.line == b.line && a.field == b.field &&
         a.parameter == b.parameter && a.text == b.text && a.extra == b.extra;
}

void PrintTo(const Facts& f, std::ostream* out) {
  *out << kind_name(f.kind) << " line " << f.line << " field " << f.field << " parameter "
       << f.parameter << " text '" << f.text << "' extra " << f.extra;
}

std::uint64_t extra_of(const ReadFailure& failure) {
  switch (failure.kind) {
    case FailureKind::EndsInsideTimeStep: return failure.step_line;
    case FailureKind::MissingNameLine: return failure.parameters;
    case FailureKind::WidthUnknown: return failure.fields_on_line;
    case FailureKind::CannotOpen:
    case FailureKind::ReadError: return static_cast<std::uint64_t>(failure.io_error->code());
    default: return 0;
  }
}

class RecordingPolicy final : public FailurePolicy {
 public:
  [[noreturn]] void fail(const ReadFailure& failure, std::source_location) override {
    throw Facts{failure.kind,        failure.line,         failure.field,
                failure.parameter,   std::string(failure.text), extra_of(failure)};
  }
};

// The facts of reading `path`, or nothing when it reads.
std::optional<Facts> facts_of(const std::string& path, std::optional<std::uint64_t> n_digits) {
  RecordingPolicy policy;
  PlotFile file;
  try {
    read_plot_file({.path = path, .n_digits = n_digits, .keep_names = true}, policy, file);
  } catch (const Facts& facts) {
    return facts;
  }
  return std::nullopt;
}

struct FactsCase {
  const char* name;
  std::string file;
  std::optional<std::uint64_t> n_digits;
  Facts expected;
};

void PrintTo(const FactsCase& c, std::ostream* out) { *out << c.name; }

class FailureFacts : public ::testing::TestWithParam<FactsCase> {};

TEST_P(FailureFacts, NameTheLineFieldAndText) {
  TempDir dir;
  const std::string path = dir.write("plot.txt", GetParam().file);
  CapturedFd out(STDOUT_FILENO);
  CapturedFd err(STDERR_FILENO);
  EXPECT_EQ(facts_of(path, GetParam().n_digits), GetParam().expected);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(err.text(), "");
}

const std::string kHeader3 = "title 3\na\nb\nc\n";                           // lines 1-4
const std::string kBlock3 = "lead\n         1.0         2.0         3.0\n";  // 36 bytes
const std::string kHeader11 = "11\n" + std::string(11, '\n');                // lines 1-12
using K = FailureKind;

INSTANTIATE_TEST_SUITE_P(
    Header, FailureFacts,
    ::testing::Values(
        FactsCase{"empty_file", "", 12, {K::NoFirstLine, 1}},
        FactsCase{"invalid_first_line", "\xFF 2\n", 12, {K::InvalidUtf8, 1}},
        FactsCase{"bad_count", "plot -3\r\n", 12, {K::BadCount, 1, 0, 0, "-3"}},
        FactsCase{"zero_count", "plot +0\n", 12, {K::ZeroCount, 1, 0, 0, "+0"}},
        FactsCase{"blank_first_line", " \t\n", 12, {K::ZeroCount, 1}},
        FactsCase{"invalid_name_line", "2\na\n\xC3(\n", 12, {K::InvalidUtf8, 3}},
        FactsCase{"missing_name_line", "title 3\na\nb\n", 12,
                  {K::MissingNameLine, 4, 0, 2, "", 3}},
        FactsCase{"no_steps_no_width", kHeader3, std::nullopt, {K::WidthUnknown, 5}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Blocks, FailureFacts,
    ::testing::Values(
        FactsCase{"ends_after_lead_line", kHeader3 + kBlock3 + "lead\n", 12,
                  {K::EndsInsideTimeStep, 8, 0, 0, "", 7}},
        FactsCase{"trailing_empty_line", kHeader3 + kBlock3 + "\n", 12,
                  {K::EndsInsideTimeStep, 8, 0, 0, "", 7}},
        FactsCase{"ends_before_second_value_line",
                  kHeader11 + "lead\n" + std::string(120, '1') + "\n", 12,
                  {K::EndsInsideTimeStep, 15, 0, 0, "", 13}},
        FactsCase{"invalid_value_line", kHeader3 + kBlock3 + "lead\n\xFF\n", 12,
                  {K::InvalidUtf8, 8}},
        FactsCase{"line_too_short", kHeader3 + "lead\n" + std::string(35, '1') + "\n", 12,
                  {K::FieldCut, 6, 3, 2, std::string(11, '1')}},
        FactsCase{"field_wholly_beyond_line", kHeader3 + "lead\n" + std::string(20, '1') + "\n",
                  12, {K::FieldCut, 6, 2, 1, std::string(8, '1')}},
        FactsCase{"border_inside_character",
                  kHeader3 + "lead\n         1.0           \xC3\xA9         3.0\n", 12,
                  {K::FieldCut, 6, 2, 1, "           \xC3"}},
        FactsCase{"blank_field", kHeader3 + "lead\n         1.0                     3.0\n", 12,
                  {K::FieldEmpty, 6, 2, 1, std::string(12, ' ')}},
        FactsCase{"invalid_field", kHeader3 + kBlock3 + "lead\n         1.0   1.2.3E+00         3.0\n",
                  12, {K::FieldInvalid, 8, 2, 1, "   1.2.3E+00"}},
        FactsCase{"invalid_time_field", kHeader3 + "lead\n           x         2.0         3.0\n",
                  12, {K::FieldInvalid, 6, 1, 0, "           x"}},
        FactsCase{"invalid_field_on_short_line",
                  kHeader3 + "lead\n         1.0          2x         3\n", 12,
                  {K::FieldInvalid, 6, 2, 1, "          2x"}},
        FactsCase{"invalid_field_on_second_value_line",
                  kHeader11 + "lead\n" + std::string(120, '1') + "\n" + std::string(11, '1') +
                      "x\n",
                  12, {K::FieldInvalid, 15, 1, 10, std::string(11, '1') + "x"}},
        FactsCase{"width_not_told", kHeader3 + "lead\n" + std::string(37, '1') + "\n",
                  std::nullopt, {K::WidthUnknown, 6, 0, 0, "", 3}},
        FactsCase{"width_of_long_line_not_told", kHeader3 + "lead\n" + std::string(72, '1') + "\n",
                  std::nullopt, {K::WidthUnknown, 6, 0, 0, "", 3}},
        FactsCase{"told_width_then_bad_field",
                  kHeader3 + kBlock3 + "lead\n         1.0         2.0           z\n",
                  std::nullopt, {K::FieldInvalid, 8, 3, 2, "           z"}}),
    [](const auto& info) { return info.param.name; });

TEST(FailureFacts, OpenAndReadErrorsCarryTheirErrno) {
  TempDir dir;
  EXPECT_EQ(facts_of((dir.path() / "missing.txt").string(), 12),
            (Facts{K::CannotOpen, 0, 0, 0, "", ENOENT}));
  EXPECT_EQ(facts_of(dir.path().string(), 12), (Facts{K::ReadError, 1, 0, 0, "", EISDIR}));
}

struct WidthCase {
  int parameters;
  std::uint64_t width;
  const char* eol;
};

class ToldWidth : public ::testing::TestWithParam<WidthCase> {};

// Files whose first value line tells the width read exactly as with the width given.
TEST_P(ToldWidth, ReadsAsTheGivenWidth) {
  const auto [parameters, width, eol] = GetParam();
  std::string text = "plot " + std::to_string(parameters) + eol;
  for (int p = 0; p < parameters; ++p) text += "  NAME " + std::to_string(p) + " \t" + eol;
  for (int step = 0; step < 3; ++step) {
    text += std::string("lead") + eol;
    for (int p = 0; p < parameters; ++p) {
      const std::string value = std::to_string(step * 1000 + p) + ".5";
      text += std::string(width - value.size(), ' ') + value;
      if (p % 10 == 9 || p == parameters - 1) text += eol;
    }
  }
  TempDir dir;
  const std::string path = dir.write("plot.txt", text);
  RecordingPolicy policy;
  PlotFile told;
  read_plot_file({.path = path, .keep_names = true}, policy, told);
  EXPECT_EQ(told.n_digits, width);
  ASSERT_EQ(told.names.size(), static_cast<std::size_t>(parameters));
  EXPECT_EQ(told.names.back(), "NAME " + std::to_string(parameters - 1));
  const PlotData given = read_plot_file(path, width, policy);
  ASSERT_EQ(told.data.values.size(), given.values.size());
  ASSERT_EQ(told.data.steps(), 3u);
  for (std::size_t i = 0; i < given.values.size(); ++i) {
    EXPECT_EQ(told.data.values.data()[i], given.values.data()[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Reader, ToldWidth,
                         ::testing::Values(WidthCase{1, 12, "\n"}, WidthCase{3, 15, "\r\n"},
                                           WidthCase{10, 12, "\n"}, WidthCase{25, 15, "\n"},
                                           WidthCase{25, 12, "\r\n"}));

}  // namespace
}  // namespace tarnex
