// The parts of a plot file found from the line feeds workers counted in its byte ranges.
#include "vormant/partition_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vormant/argument_fault.hpp"

namespace tarnex::vormant {
namespace {

// "begin/feeds_before:first_step+steps", "!" for a part that checks the end.
std::string text(const Partition& part) {
  return std::to_string(part.begin) + "/" + std::to_string(part.feeds_before) + ":" +
         std::to_string(part.first_step) + "+" + std::to_string(part.steps) +
         (part.checks_end ? "!" : "");
}

std::string text(const PartPlan& plan) {
  std::string out;
  for (const Partition& part : plan.parts) out += text(part) + " ";
  return out + "last " + (plan.last ? text(*plan.last) : "none");
}

struct PlanCase {
  const char* name;
  std::uint64_t parameters;  // 13 and 1: three and two lines a step
  std::vector<CountedRange> ranges;
  const char* parts;  // "refused": no file has such ranges and counts
};

class Plan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plan, FindsTheStepsEachRangeReads) {
  std::string found = "refused";
  try {
    found = text(plan_parts(GetParam().ranges, GetParam().parameters));
  } catch (const ArgumentFault&) {  // what `found` says already
  }
  EXPECT_EQ(found, GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, Plan,
    ::testing::Values(
        PlanCase{"empty_file", 13, {{{50, 50}, {0, false}}}, "50/0:0+0! last none"},
        PlanCase{"no_complete_step", 13, {{{50, 60}, {1, true}}}, "50/0:0+0! last none"},
        // Steps 1 and 2 begin at bytes 30 and 60, after the last line feed of ranges 0 and 1.
        PlanCase{"lead_lines_at_range_boundaries",
                 13,
                 {{{0, 30}, {3, true}}, {{30, 60}, {3, true}}, {{60, 90}, {3, true}}},
                 "0/0:0+2 30/3:2+1! last 30/3:2+1!"},
        PlanCase{"ranges_without_line_feeds",
                 1,
                 {{{0, 4}, {0, false}},
                  {{4, 8}, {1, true}},
                  {{8, 12}, {0, false}},
                  {{12, 16}, {3, true}}},
                 "0/0:0+1 12/1:1+1! last 12/1:1+1!"},
        PlanCase{"no_final_line_feed",
                 13,
                 {{{0, 25}, {2, false}}, {{25, 59}, {3, false}}},
                 "0/0:0+1 25/2:1+1! last 25/2:1+1!"},
        PlanCase{"final_line_feed_after_a_lead_line",
                 13,
                 {{{0, 25}, {2, false}}, {{25, 59}, {3, true}}},
                 "0/0:0+1! last 0/0:0+1!"},
        PlanCase{"no_ranges", 13, {}, "refused"},
        PlanCase{"no_parameters", 0, {{{0, 9}, {1, true}}}, "refused"},
        PlanCase{"begin_after_end", 13, {{{9, 0}, {0, false}}}, "refused"},
        PlanCase{"gap", 13, {{{0, 9}, {1, true}}, {{10, 19}, {1, true}}}, "refused"},
        PlanCase{"empty_among_others", 13, {{{0, 9}, {1, true}}, {{9, 9}, {0, false}}}, "refused"},
        PlanCase{"more_line_feeds_than_bytes", 13, {{{0, 2}, {3, true}}}, "refused"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ByteRanges, CoverTheStepsInRangesOfTheSize) {
  using Ranges = std::vector<ByteRange>;
  EXPECT_EQ(byte_ranges(10, 30, 10), (Ranges{{10, 20}, {20, 30}}));
  EXPECT_EQ(byte_ranges(10, 35, 10), (Ranges{{10, 20}, {20, 30}, {30, 35}}));
  EXPECT_EQ(byte_ranges(10, 10, 10), (Ranges{{10, 10}}));
  EXPECT_EQ(byte_ranges(10, 5, 10), (Ranges{{10, 10}}));
  EXPECT_EQ(byte_ranges(0, 3, UINT64_MAX), (Ranges{{0, 3}}));
  EXPECT_THROW(byte_ranges(0, 3, 0), ArgumentFault);
}

}  // namespace
}  // namespace tarnex::vormant
