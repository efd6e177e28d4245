// The block kernel and the reading of whole runs of value lines, held against the line-by-line
// path: the same values to the bit, and the same first failure with the same message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "boundary/fatal_error.hpp"
#include "boundary/fatal_failure_policy.hpp"
#include "field_generators.hpp"
#include "plot_lines.hpp"
#include "reader/read_plot_file.hpp"
#include "test_support.hpp"
#include "text/numbers.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {
namespace {

using testing::CapturedFd;
using testing::fortran_field;
using testing::make_plot;
using testing::PlotLines;
using testing::TempDir;

std::uint32_t bits_of(float value) {
  return std::bit_cast<std::uint32_t>(value);
}

// ---------------------------------------------------------------------------------------------
// The kernel alone

class BlockKernel : public ::testing::TestWithParam<std::tuple<SimdLevel, int>> {};

// A block of `count` fields, ten to a line ended by `eol`, with field `bad` (if any) no number;
// every other field must come back exact or be listed, and the bad one must be listed, each
// field at most once.
void check_block(SimdLevel level, int width, std::size_t count, std::size_t bad,
                 std::string_view eol, std::mt19937& random) {
  std::string text;
  std::vector<std::uint32_t> offsets;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0 && i % 10 == 0) text += eol;
    offsets.push_back(static_cast<std::uint32_t>(text.size()));
    const int significant = width == 12 ? 6 : 9;
    const std::uint64_t mantissa = random() % (width == 12 ? 1000000 : 1000000000);
    const int exponent = static_cast<int>(random() % 199) - 99;
    text += i == bad ? std::string(static_cast<std::size_t>(width) - 3, ' ') + "1.x"
                     : fortran_field(mantissa, significant, exponent, random() % 2 == 0, width);
  }
  text += eol;
  text.append(16, '\0');  // the kernel reads 16 bytes from each field's start
  std::vector<float> out(count);
  std::vector<RefusedGroup> refused(refused_group_capacity(count));
  const std::size_t groups =
      convert_block_at(level, text.data(), offsets.data(), count, static_cast<std::size_t>(width),
                       out.data(), refused.data());
  ASSERT_LE(groups, refused.size());
  std::vector<int> listed(count);
  for (std::size_t g = 0; g < groups; ++g) {
    ASSERT_NE(refused[g].lanes, 0u);
    for (unsigned k = 0; k < 32; ++k) {  // a group is as wide as the level's vectors
      if ((refused[g].lanes >> k & 1u) == 0) continue;
      ASSERT_LT(refused[g].first + k, count);
      ++listed[refused[g].first + k];
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    ASSERT_LE(listed[i], 1) << "field " << i << " listed twice";
    const std::string_view field(text.data() + offsets[i], static_cast<std::size_t>(width));
    if (i == bad) {
      EXPECT_EQ(listed[i], 1) << "the bad field was taken";
      continue;
    }
    if (listed[i] != 0) continue;
    const Binary32Parse exact = parse_binary32_field(field);
    ASSERT_TRUE(exact.ok);
    ASSERT_EQ(bits_of(out[i]), bits_of(exact.value)) << "field " << i << " '" << field << "'";
  }
}

TEST_P(BlockKernel, OneBadFieldInEveryPosition) {
  const auto [level, width] = GetParam();
  std::mt19937 random(static_cast<unsigned>(width));
  // Lengths that leave the last group overlapping the one before by every amount.
  for (const std::size_t count : {8, 9, 12, 15, 16, 17, 23, 31, 40, 47}) {
    for (std::size_t bad = 0; bad <= count; ++bad) {  // bad == count: none
      check_block(level, width, count, bad, bad % 2 == 0 ? "\n" : "\r\n", random);
    }
  }
}

TEST_P(BlockKernel, RandomBlocksOfEveryLength) {
  const auto [level, width] = GetParam();
  std::mt19937 random(static_cast<unsigned>(width) + 7);
  for (int round = 0; round < 200; ++round) {
    const std::size_t count = 8 + random() % 200;
    check_block(level, width, count, count, "\n", random);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, BlockKernel,
                         ::testing::Combine(::testing::ValuesIn(supported_simd_levels()),
                                            ::testing::Values(12, 15)),
                         [](const auto& info) {
                           return std::string(simd_level_name(std::get<0>(info.param))) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

// ---------------------------------------------------------------------------------------------
// Whole reads

// The values of the file, or the message of its first failure. Reads too small to hold a
// whole value line make the reader take every line by itself, through the line-by-line path.
std::string outcome_of(const std::string& path, std::uint64_t n_digits, std::size_t read_size) {
  CapturedFd quiet_stdout(STDOUT_FILENO);
  CapturedFd quiet_stderr(STDERR_FILENO);
  try {
    PlotFile file;
    read_plot_file({.path = path, .n_digits = n_digits, .read_size = read_size},
                   fatal_failure_policy(), file);
    std::string bits;
    for (std::size_t i = 0; i < file.data.values.size(); ++i) {
      bits += std::to_string(bits_of(file.data.values.data()[i])) + ' ';
    }
    return bits;
  } catch (const FatalError& error) {
    return "failed: " + error.message();
  }
}

constexpr std::size_t kLineByLine = 7;

struct ReadCase {
  std::uint64_t parameters;
  int width;
  const char* eol;
};

class RunReads : public ::testing::TestWithParam<ReadCase> {};

// What may spoil a run: each change to one line of a step must read as the line-by-line path
// reads it, wherever the chunks end.
TEST_P(RunReads, AgreeWithTheLineByLinePath) {
  const ReadCase c = GetParam();
  const PlotLines plot = make_plot(c.parameters, 12, c.width, 5);
  struct Change {
    std::string bytes;
    bool at_field_end;  // in place of the last byte of the line's first field, else mid-line
  };
  const std::vector<Change> changes = {
      {"", false},          // none
      {"x", false},         // a field that is no number
      {"\r", true},         // a carriage return where a field ends
      {"\r", false},        // and inside a field
      {"\n", true},         // a line feed where a field ends: the line is two
      {"\n", false},        // and inside a field
      {" ", false},         // one byte too many (appended)
      {"\xC3\xA9", false},  // a character of two bytes
      {"\t", false},        // whitespace no field shape has
  };
  TempDir dir;
  for (std::size_t change = 0; change < changes.size(); ++change) {
    for (const std::uint64_t line :
         {plot.value_line(3, 0), plot.value_line(6, plot.value_lines() - 1)}) {
      PlotLines changed = plot;
      std::string& text = changed.line(line);
      const Change& how = changes[change];
      if (how.bytes == " ") {
        text += ' ';
      } else if (!how.bytes.empty()) {
        const std::size_t at =
            how.at_field_end ? static_cast<std::size_t>(c.width) - 1 : text.size() / 2;
        text.replace(at, how.bytes.size(), how.bytes);
      }
      const std::string path = dir.write("plot.txt", changed.text(c.eol));
      const std::string expected =
          outcome_of(path, static_cast<std::uint64_t>(c.width), kLineByLine);
      for (const std::size_t read_size : {64, 301, 8192, 1 << 20}) {
        EXPECT_EQ(outcome_of(path, static_cast<std::uint64_t>(c.width), read_size), expected)
            << "change " << change << " on line " << line << ", reads of " << read_size;
      }
      if (change == 0) break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RunReads,
                         ::testing::Values(ReadCase{8, 12, "\n"}, ReadCase{12, 12, "\n"},
                                           ReadCase{12, 15, "\r\n"}, ReadCase{64, 15, "\n"},
                                           ReadCase{65, 12, "\r\n"}, ReadCase{200, 15, "\n"}));

}  // namespace
}  // namespace tarnex
