// Where time steps start in bytes from the middle of a file, told by the lengths of its lines.
#include "reader/step_guess.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnex {
namespace {

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
    StepGuess, StepGuesses,
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

}  // namespace
}  // namespace tarnex
