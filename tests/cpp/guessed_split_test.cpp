// Whole reads, and reads of some columns, shared by threads that guess where their steps start,
// held against the read in one pass: the same values bit for bit, or the same failure at the same
// line, whether the guesses hold, were off by some rows, or fail.
#include "reader/guessed_split.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "reader/step_guess.hpp"
#include "test_support.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex {
namespace {

using testing::TempDir;

struct GuessCase {
  const char* name;
  std::string bytes;
  std::size_t parameters;
  std::optional<std::size_t> offset;  // none: no guess
};

std::string value_line(std::size_t fields) {
  std::string line;
  for (std::size_t i = 0; i < fields; ++i) line += " 1.00000E+00";
  return line;
}

// Steps of `parameters` values at width 12 with lead line `lead`, each line ended by `eol`.
std::string steps_text(std::size_t parameters, std::size_t steps, const std::string& lead,
                       const char* eol = "\n") {
  std::string text;
  for (std::size_t step = 0; step < steps; ++step) {
    text += lead + eol;
    for (std::size_t first = 0; first < parameters; first += 10) {
      text += value_line(std::min<std::size_t>(10, parameters - first)) + eol;
    }
  }
  return text;
}

class StepGuesses : public ::testing::TestWithParam<GuessCase> {};

TEST_P(StepGuesses, FindTheOneLeadLineTheLengthsAllow) {
  const GuessCase& c = GetParam();
  const std::optional<StepGuess> guess =
      guess_step_start(c.bytes, StepShape::of(c.parameters, 12), 3);
  ASSERT_EQ(guess.has_value(), c.offset.has_value());
  if (guess) EXPECT_EQ(guess->offset, *c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    GuessedSplit, StepGuesses,
    ::testing::Values(
        // Two value lines of the step before, then whole steps.
        GuessCase{"mid_step",
                  value_line(10) + "\n" + value_line(5) + "\n" + steps_text(25, 4, " T"), 25,
                  121 + 61},
        GuessCase{"crlf", value_line(5) + "\r\n" + steps_text(25, 4, " T", "\r\n"), 25, 62},
        GuessCase{"one_line_steps", steps_text(1, 5, " TIME STEP"), 1, 0},
        // A lead line as long as a value line: every line could lead.
        GuessCase{"lead_as_long_as_values", steps_text(10, 5, value_line(10)), 10, std::nullopt},
        GuessCase{"too_few_steps", steps_text(25, 2, " T"), 25, std::nullopt},
        GuessCase{"a_line_of_no_length_fits",
                  steps_text(25, 4, " T") + "x\n" + steps_text(25, 1, " T"), 25, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Lead lines whose lengths make the guessed rows exact, too many, too few, or no guess at all.
enum class Leads { Fixed, Growing, Dip, AsLongAsValues };

struct SplitCase {
  Leads leads;
  std::size_t parameters;
  bool fault;  // a field that is no number near the end
};

std::string lead_line(Leads leads, std::size_t step, std::size_t parameters) {
  switch (leads) {
    case Leads::Fixed:
      return " TIME STEP " + std::string(8 - std::to_string(step).size(), ' ') +
             std::to_string(step);
    case Leads::Growing:
      return " TIME STEP " + std::string(step / 50, '.');
    case Leads::Dip:  // shorter for a stretch, so that rows guessed after it are too few
      return " TIME STEP " + std::string(step >= 20 && step < 100 ? 0 : 40, '.');
    case Leads::AsLongAsValues:
      return value_line(std::min<std::size_t>(10, parameters));
  }
  return {};
}

using Failure = std::pair<FailureKind, std::uint64_t>;
using Outcome = std::variant<std::vector<std::uint32_t>, Failure>;

Outcome outcome_of(vormant::LoadOutcome loaded) {
  if (const auto* failure = std::get_if<vormant::PlotFileFailure>(&loaded)) {
    return Failure{failure->kind(), failure->line()};
  }
  const PlotData& data = std::get<vormant::LoadedPlot>(loaded).data;
  std::vector<std::uint32_t> bits(data.values.size());
  for (std::size_t i = 0; i < bits.size(); ++i)
    bits[i] = std::bit_cast<std::uint32_t>(data.values.data()[i]);
  return bits;
}

class SplitReads : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitReads, GiveWhatTheReadInOnePassGives) {
  const SplitCase& c = GetParam();
  const std::size_t steps = 600;
  std::string text = " VORMANT PLOT FILE   RUN 0001   " + std::to_string(c.parameters) + "\n";
  for (std::size_t p = 0; p < c.parameters; ++p) text += "PARAM" + std::to_string(p) + "\n";
  char field[16];
  for (std::size_t step = 0; step < steps; ++step) {
    text += lead_line(c.leads, step, c.parameters) + "\n";
    for (std::size_t p = 0; p < c.parameters; ++p) {
      std::snprintf(field, sizeof field, "%12.5E", static_cast<double>(step * 1000 + p));
      text += c.fault && step == steps - 20 && p == c.parameters - 1 ? "   1.2.3E+00" : field;
      if (p % 10 == 9 || p + 1 == c.parameters) text += "\n";
    }
  }
  TempDir dir;
  const std::string path = dir.write("plot.txt", text);
  const Outcome one_pass = outcome_of(vormant::load_plot(path, 12));
  ASSERT_EQ(std::holds_alternative<Failure>(one_pass), c.fault);
  const std::vector<std::uint64_t> columns{1, c.parameters - 1};
  const Outcome columns_in_one_pass = outcome_of(vormant::load_plot_columns(path, 12, columns, 1));
  for (const std::size_t threads : {2, 3, 4}) {
    EXPECT_EQ(outcome_of(vormant::load_plot_split(path, 12, threads)), one_pass)
        << threads << " threads";
    EXPECT_EQ(outcome_of(vormant::load_plot_columns(path, 12, columns, threads)),
              columns_in_one_pass)
        << threads << " threads, two columns";
  }
}

INSTANTIATE_TEST_SUITE_P(GuessedSplit, SplitReads,
                         ::testing::Values(SplitCase{Leads::Fixed, 25, false},
                                           SplitCase{Leads::Fixed, 25, true},
                                           SplitCase{Leads::Growing, 11, false},
                                           SplitCase{Leads::Growing, 11, true},
                                           SplitCase{Leads::Dip, 11, false},
                                           SplitCase{Leads::AsLongAsValues, 10, false}));

}  // namespace
}  // namespace tarnex
