// The whole-line fast field conversion, every kernel level this processor runs, held against
// the exact path (parse_binary32_field, itself checked against MPFR in numbers_test.cpp): the
// same value bits for every field a kernel takes, the same count of taken fields at every level,
// and no field taken that the exact path would refuse.
#include "text/simd/fast_fields.hpp"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "field_generators.hpp"
#include "floating_point_environment.hpp"
#include "text/numbers.hpp"
#include "text/simd/decimal_powers.hpp"

namespace tarnex {
namespace {

using testing::FloatingPointEnvironment;
using testing::fortran_field;
using testing::NearestNineDigitDecimals;
using testing::write_digits;

std::uint32_t bits_of(float value) {
  return std::bit_cast<std::uint32_t>(value);
}

std::vector<SimdLevel> levels() {
  const std::span<const SimdLevel> supported = supported_simd_levels();
  return {supported.begin(), supported.end()};
}

std::string level_name(const ::testing::TestParamInfo<SimdLevel>& info) {
  return std::string(simd_level_name(info.param));
}

// A line in a buffer of exactly its own length, so that a sanitizer build sees any read past it.
class ExactBuffer {
 public:
  explicit ExactBuffer(std::string_view text)
      : size_(text.size()), bytes_(std::make_unique<char[]>(text.size())) {
    std::copy(text.begin(), text.end(), bytes_.get());
  }
  const char* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> bytes_;
};

// Checks one line at one level against the exact path; returns the number of fields taken.
// Stops the test at the first disagreement.
class LineChecker {
 public:
  explicit LineChecker(SimdLevel level) : level_(level) {}

  FieldMask check(std::string_view line, std::size_t count, std::size_t width) {
    const ExactBuffer buffer(line);
    std::vector<float> out(count);
    const FieldMask taken =
        convert_fast_fields_at(level_, buffer.data(), buffer.size(), count, width, out.data());
    EXPECT_EQ(taken >> count, 0u) << "a field past the count taken";
    for (std::size_t i = 0; i < count; ++i) {
      if ((taken >> i & 1u) == 0) {
        ++refused_;
        continue;
      }
      const std::string_view field = line.substr(i * width, width);
      const Binary32Parse exact = parse_binary32_field(field);
      ++compared_;
      if (!exact.ok || bits_of(exact.value) != bits_of(out[i])) {
        if (++mismatches_ <= 10) {
          ADD_FAILURE() << simd_level_name(level_) << ": field '" << field << "' taken as 0x"
                        << std::hex << bits_of(out[i]) << ", exact path "
                        << (exact.ok ? "0x" : "refuses it, 0x") << bits_of(exact.value);
        }
      }
    }
    if (count >= kBlockMinimumFields) check_block(line, count, width, taken, out);
    return taken;
  }

  std::int64_t compared() const { return compared_; }
  std::int64_t mismatches() const { return mismatches_; }
  std::int64_t refused() const { return refused_; }

 private:
  // The same fields as one block: the block kernel must take the fields the line kernel takes,
  // with the same bits.
  void check_block(std::string_view line, std::size_t count, std::size_t width, FieldMask taken,
                   const std::vector<float>& by_line) {
    block_text_.assign(line);
    block_text_.append(16, '\0');  // the block kernel reads 16 bytes from each field's start
    offsets_.resize(count);
    for (std::size_t i = 0; i < count; ++i) offsets_[i] = static_cast<std::uint32_t>(i * width);
    std::vector<float> out(count);
    std::vector<RefusedGroup> refused(refused_group_capacity(count));
    const std::size_t groups = convert_block_at(level_, block_text_.data(), offsets_.data(), count,
                                                width, out.data(), refused.data());
    FieldMask listed = 0;
    for (std::size_t g = 0; g < groups; ++g) {
      listed |= FieldMask{refused[g].lanes} << refused[g].first;
    }
    const FieldMask all = count == 32 ? ~FieldMask{0} : (FieldMask{1} << count) - 1;
    bool same_bits = true;
    for (std::size_t i = 0; i < count; ++i) {
      same_bits = same_bits && ((taken >> i & 1u) == 0 || bits_of(out[i]) == bits_of(by_line[i]));
    }
    if (listed != (all & ~taken) || !same_bits) {
      if (++mismatches_ <= 10) {
        ADD_FAILURE() << simd_level_name(level_) << ": the block kernel differs on '" << line
                      << "'";
      }
    }
  }

  SimdLevel level_;
  std::string block_text_;
  std::vector<std::uint32_t> offsets_;
  std::int64_t compared_ = 0;
  std::int64_t mismatches_ = 0;
  std::int64_t refused_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Levels and the table of powers

#if defined(__x86_64__)
bool processor_has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
}
#else
bool processor_has_avx512() {
  return false;
}
#endif

TEST(FastFieldLevels, PortableFirstThenWhatTheProcessorRuns) {
  const std::vector<SimdLevel> supported = levels();
  ASSERT_FALSE(supported.empty());
  EXPECT_EQ(supported.front(), SimdLevel::Portable);
  for (std::size_t i = 1; i < supported.size(); ++i) EXPECT_LT(supported[i - 1], supported[i]);
#if defined(__x86_64__)
  __builtin_cpu_init();
  const bool sse41 = __builtin_cpu_supports("sse4.1");
  const bool avx2 = __builtin_cpu_supports("avx2");
  const bool avx512 = avx2 && processor_has_avx512();
  EXPECT_EQ(supported.size(), 1u + sse41 + avx2 + avx512);
  EXPECT_EQ(supported.back(), avx512  ? SimdLevel::Avx512
                              : avx2  ? SimdLevel::Avx2
                              : sse41 ? SimdLevel::Sse41
                                      : SimdLevel::Portable);
#endif
  // The shipped build takes the widest; a forced test build one of those the processor runs.
  EXPECT_NE(std::find(supported.begin(), supported.end(), active_simd_level()), supported.end());
}

// Every check over supported_simd_levels() holds the AVX-512 kernel too, where it runs.
TEST(FastFieldLevels, Avx512CheckedWhereTheProcessorHasIt) {
  if (!processor_has_avx512()) {
    GTEST_SKIP() << "this processor lacks AVX-512: the avx512 level is not checked here";
  }
  EXPECT_EQ(levels().back(), SimdLevel::Avx512);
}

TEST(FastFieldLevels, DecimalPowersAreTheNearestBinary64) {
  for (int q = simd::kLowestDecimalPower; q <= simd::kHighestDecimalPower; ++q) {
    const std::string text = "1e" + std::to_string(q);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(simd::kDecimalPowers[q - simd::kLowestDecimalPower]),
              std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)))
        << text;
  }
}

// ---------------------------------------------------------------------------------------------
// Sweeps at every level

class FastFieldSweep : public ::testing::TestWithParam<std::tuple<SimdLevel, int>> {};

constexpr int kSweepBand = 40;  // exponents per test

// Every 6-digit field d.ddddd at every exponent from E-99 to E+99 (in bands of exponents), ten
// to a line, signs alternating: 199 million fields. Fields whose every nonzero value is a normal
// binary32 are nearly all taken.
TEST_P(FastFieldSweep, EverySixDigitFieldOfEveryExponent) {
  const auto [level, lowest] = GetParam();
  const int highest = std::min(lowest + kSweepBand - 1, 99);
  LineChecker checker(level);
  constexpr std::size_t kWidth = 12;
  constexpr std::size_t kPerLine = 10;
  std::string line;
  for (std::size_t i = 0; i < kPerLine; ++i) line += fortran_field(0, 6, 0, false, kWidth);
  std::int64_t normal_fields = 0;
  std::int64_t normal_refused = 0;
  for (int exponent = lowest; exponent <= highest && checker.mismatches() == 0; ++exponent) {
    for (std::size_t i = 0; i < kPerLine; ++i) {
      const std::string exponent_field = fortran_field(0, 6, exponent, false, kWidth);
      line.replace(i * kWidth + 8, 4, exponent_field.substr(8));
    }
    const std::int64_t refused_before = checker.refused();
    for (std::uint64_t first = 0; first < 1000000; first += kPerLine) {
      for (std::size_t i = 0; i < kPerLine; ++i) {
        const std::uint64_t mantissa = first + i;
        char* const field = line.data() + i * kWidth;
        field[0] = mantissa % 2 == 0 ? ' ' : '-';
        field[1] = static_cast<char>('0' + mantissa / 100000);
        write_digits(field + 3, mantissa % 100000, 5);
      }
      checker.check(line, kPerLine, kWidth);
    }
    if (exponent >= -32 && exponent <= 37) {  // 0.00001E-32 to 9.99999E+37: normal binary32
      normal_fields += 1000000;
      normal_refused += checker.refused() - refused_before;
    }
  }
  EXPECT_EQ(checker.mismatches(), 0);
  EXPECT_LE(normal_refused * 10000, normal_fields) << normal_refused << " refused";
}

// The 9-digit decimals on both sides of every fourth midpoint of a binade, ten to a line.
class FastFieldNearMidpoints : public ::testing::TestWithParam<std::tuple<SimdLevel, int>> {};

TEST_P(FastFieldNearMidpoints, NineDigitFieldsOfABinade) {
  const auto [level, binade] = GetParam();
  LineChecker checker(level);
  constexpr std::size_t kWidth = 15;
  std::vector<std::string> fields;
  const auto flush = [&] {
    std::string line;
    for (const std::string& field : fields) line += field;
    checker.check(line, fields.size(), kWidth);
    fields.clear();
  };
  for (std::uint32_t j = 0; j < (1u << 23) && checker.mismatches() == 0; j += 4) {
    const auto [below, power] = NearestNineDigitDecimals::floor_of_midpoint(binade, j);
    const int exponent = power + 8;
    fields.push_back(fortran_field(below, 9, exponent, (below & 1) != 0, kWidth));
    fields.push_back(below + 1 < 1000000000
                         ? fortran_field(below + 1, 9, exponent, (below & 2) != 0, kWidth)
                         : fortran_field(100000000, 9, exponent + 1, false, kWidth));
    if (fields.size() == 10) flush();
  }
  flush();
  EXPECT_EQ(checker.mismatches(), 0);
  EXPECT_EQ(checker.compared() + checker.refused(), 2 * (std::int64_t{1} << 21));
}

// The 9-digit decimals next to the subnormal rounding boundaries (k + 1/2) 2^-149, k from 0 to
// 2^23 - 1 in steps of 97, ten to a line: they sit within a few units of their last digit of a
// boundary, where the proof of the subnormal path is tightest.
class FastFieldSubnormalBoundaries : public ::testing::TestWithParam<SimdLevel> {};

TEST_P(FastFieldSubnormalBoundaries, NineDigitFieldsAroundEveryBoundary) {
  LineChecker checker(GetParam());
  constexpr std::size_t kWidth = 15;
  std::string line;
  std::size_t fields = 0;
  for (std::uint32_t k = 0; k < (1u << 23) && checker.mismatches() == 0; k += 97) {
    const double boundary = std::ldexp(2.0 * k + 1.0, -150);  // exact
    const int power = static_cast<int>(std::floor(std::log10(boundary))) - 8;
    const auto digits = static_cast<std::uint64_t>(boundary / std::pow(10.0, power));
    for (std::uint64_t near = digits - 1; near <= digits + 1; ++near) {
      if (near < 100000000 || near >= 1000000000) continue;
      line += fortran_field(near, 9, power + 8, (near & 1) != 0, kWidth);
      if (++fields == 10) {
        checker.check(line, fields, kWidth);
        line.clear();
        fields = 0;
      }
    }
  }
  checker.check(line, fields, kWidth);
  EXPECT_EQ(checker.mismatches(), 0);
  EXPECT_GT(checker.compared(), checker.refused());  // most are clear of the boundary
}

INSTANTIATE_TEST_SUITE_P(Levels, FastFieldSubnormalBoundaries, ::testing::ValuesIn(levels()),
                         level_name);

INSTANTIATE_TEST_SUITE_P(Bands, FastFieldSweep,
                         ::testing::Combine(::testing::ValuesIn(levels()),
                                            ::testing::Values(-99, -59, -19, 21, 61)),
                         [](const ::testing::TestParamInfo<std::tuple<SimdLevel, int>>& info) {
                           const int lowest = std::get<1>(info.param);
                           return std::string(simd_level_name(std::get<0>(info.param))) + "_from" +
                                  (lowest < 0 ? "Minus" : "") + std::to_string(std::abs(lowest));
                         });

INSTANTIATE_TEST_SUITE_P(Binades, FastFieldNearMidpoints,
                         ::testing::Combine(::testing::ValuesIn(levels()),
                                            ::testing::Values(-76, -60, -1, 0, 23, 24, 29, 126,
                                                              127)),
                         [](const ::testing::TestParamInfo<std::tuple<SimdLevel, int>>& info) {
                           const int binade = std::get<1>(info.param);
                           return std::string(simd_level_name(std::get<0>(info.param))) +
                                  "_binade" + (binade < 0 ? "Minus" : "") +
                                  std::to_string(std::abs(binade));
                         });

// ---------------------------------------------------------------------------------------------
// Random and mutated lines: every level takes the same fields, and each as the exact path reads it

std::string random_line(std::mt19937_64& random, std::size_t count, std::size_t width) {
  std::string line;
  const int significant = width == 12 ? 6 : 9;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t limit = width == 12 ? 1000000 : 1000000000;
    const int exponent = static_cast<int>(random() % 199) - 99;
    const int narrow_exponent = static_cast<int>(random() % 61) - 30;
    line +=
        fortran_field(random() % limit, significant, random() % 4 == 0 ? exponent : narrow_exponent,
                      random() % 2 == 0, static_cast<int>(width));
  }
  return line;
}

// Bytes that come close to the shape or break it in one place.
constexpr std::string_view kMutationBytes = " -+.eEdD0123456789\t\n\r\0\x7f\xc2\xa0\xff/:,xX";

void mutate(std::mt19937_64& random, std::string& line) {
  const std::size_t position = random() % line.size();
  const char byte = kMutationBytes[random() % kMutationBytes.size()];
  switch (random() % 4) {
    case 0:  // an insertion shifts the fields after it
      line.insert(position, 1, byte);
      line.pop_back();
      break;
    case 1:  // a deletion too
      line.erase(position, 1);
      line.push_back(' ');
      break;
    default:
      line[position] = byte;
  }
}

class FastFieldLines : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FastFieldLines, AllLevelsAgreeWithTheExactPath) {
  const std::size_t width = GetParam();
  std::mt19937_64 random(width);
  std::vector<LineChecker> checkers;
  for (const SimdLevel level : levels()) checkers.emplace_back(level);
  std::int64_t whole_lines = 0;
  for (int round = 0; round < 60000; ++round) {
    const std::size_t count = 1 + random() % 10;
    std::string line = random_line(random, count, width);
    const int mutations = round % 3 == 0 ? 0 : 1 + static_cast<int>(random() % 3);
    for (int m = 0; m < mutations; ++m) mutate(random, line);
    // Sometimes the line goes on past its fields, as when a file has a longer line.
    if (random() % 4 == 0) line += random_line(random, 1, width);
    std::vector<FieldMask> taken;
    for (LineChecker& checker : checkers) taken.push_back(checker.check(line, count, width));
    for (FieldMask t : taken) ASSERT_EQ(t, taken.front()) << "line '" << line << "'";
    whole_lines += mutations == 0 && taken.front() == (FieldMask{1} << count) - 1;
  }
  for (const LineChecker& checker : checkers) EXPECT_EQ(checker.mismatches(), 0);
  // Unchanged lines are taken whole, but for fields out of binary32's normal range.
  EXPECT_GT(whole_lines, 20000 / 4);
}

INSTANTIATE_TEST_SUITE_P(Widths, FastFieldLines, ::testing::Values(12, 15));

// ---------------------------------------------------------------------------------------------
// Fields at the edges of the shape and of the proven range

struct ShapeCase {
  std::string field;
  bool taken;
};

void PrintTo(const ShapeCase& c, std::ostream* out) {
  *out << '\'' << c.field << '\'';
}

class FastFieldShapes : public ::testing::TestWithParam<std::tuple<SimdLevel, ShapeCase>> {};

// Alone, and between two common fields: the line is taken but for that field.
TEST_P(FastFieldShapes, TakenOnlyInTheShape) {
  const auto& [level, c] = GetParam();
  const std::size_t width = c.field.size();
  const std::string common = width == 12 ? " 1.50000E+00" : "-2.50000000E-01";
  LineChecker checker(level);
  EXPECT_EQ(checker.check(c.field, 1, width), c.taken ? 1u : 0u);
  EXPECT_EQ(checker.check(common + c.field + common, 3, width), c.taken ? 7u : 5u);
  EXPECT_EQ(checker.mismatches(), 0);
}

std::vector<ShapeCase> shape_cases() {
  return {
      {" 1.23457E+02", true},
      {"-1.23457E-02", true},
      {" 0.00000E+00", true},
      {"-0.00000E-99", true},
      {" 9.99999E+37", true},
      {" 1.17550E-38", true},
      {" 3.40282E+38", true},
      {" 1.23456789E-05", true},
      {"-9.99999999E+37", true},
      {" 0.00000000E+00", true},
      // Exact whole numbers on a binary32 midpoint, rounded to even.
      {" 2.82518E+08", true},
      {" 1.67772170E+07", false},
      {" 1.67772180E+07", true},
      {" 1.67772190E+07", false},
      {"-3.35544340E+07", false},
      {" 2.68435472E+08", true},
      {"-2.68435504E+08", true},
      // Subnormal, and at the ends of the subnormal range; taken but next to a rounding boundary:
      // half the smallest subnormal (between it and zero) and 1.5 times it.
      {" 1.40130E-45", true},
      {" 1.00000E-38", true},
      {" 1.40129846E-45", true},
      {" 7.00649E-46", true},
      {"-1.00000E-99", true},
      {" 1.17549428E-38", true},
      {"-1.17549435E-38", true},
      {" 7.00649232E-46", false},
      {"-2.10194770E-45", false},
      // Overflowing.
      {" 3.40283E+38", false},
      {" 1.00000E+99", false},
      // Not the shape, though numbers.
      {"+1.23457E+02", false},
      {" 1.23457e+02", false},
      {"  1.2346E+02", false},
      {" 1.23457E+2 ", false},
      {"1.23457E+021", false},
      {"\t1.23457E+02", false},
      {" 12.3457E+02", false},
      {" 1.23456789E+5 ", false},
      {"  1.2345678E-05", false},
      // Not numbers.
      {" 1.23457D+02", false},
      {" 1.23457E*02", false},
      {" 1.23457E+0x", false},
      {" x.23457E+02", false},
      {" 1,23457E+02", false},
      {" 1.23457E 02", false},
      {" 1.2345 E+02", false},
      {"            ", false},
      {"-1.23457E+0\xff", false},
      {" 1.2345/E+02", false},
      {" 1.2345:E+02", false},
      {std::string(" 1.23457E+0\0", 12), false},
  };
}

INSTANTIATE_TEST_SUITE_P(Fields, FastFieldShapes,
                         ::testing::Combine(::testing::ValuesIn(levels()),
                                            ::testing::ValuesIn(shape_cases())));

class FastFieldRefusals : public ::testing::TestWithParam<SimdLevel> {};

TEST_P(FastFieldRefusals, OtherWidthsAndNoFields) {
  float out[4];
  const std::string line(60, ' ');
  for (const std::size_t width : {0, 1, 11, 13, 14, 16}) {
    EXPECT_EQ(convert_fast_fields_at(GetParam(), line.data(), line.size(), 3, width, out), 0u);
  }
  EXPECT_EQ(convert_fast_fields_at(GetParam(), " 1.00000E+00", 12, 0, 12, out), 0u);
}

// The hardware's rounding mode and flush-to-zero flags belong to the process; in any other
// rounding mode the fast path takes nothing, under flush-to-zero it takes the same values.
TEST_P(FastFieldRefusals, AnyRoundingButToNearest) {
  const std::string line = " 1.00000E-01 1.23457E+02-7.77777E-30";
  float out[3];
  for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    const FloatingPointEnvironment modes(mode, 0);
    EXPECT_EQ(convert_fast_fields_at(GetParam(), line.data(), line.size(), 3, 12, out), 0u);
    EXPECT_EQ(convert_fast_fields(line.data(), line.size(), 3, 12, out), 0u);
  }
}

TEST_P(FastFieldRefusals, FlushToZeroChangesNoValue) {
  std::mt19937_64 random(3);
  const std::string line = random_line(random, 10, 15) + random_line(random, 10, 15);
  float expected[20];
  float flushed[20];
  const FieldMask taken =
      convert_fast_fields_at(GetParam(), line.data(), line.size(), 20, 15, expected);
  const FloatingPointEnvironment modes(FE_TONEAREST, _MM_FLUSH_ZERO_ON | 0x0040);  // and DAZ
  ASSERT_EQ(convert_fast_fields_at(GetParam(), line.data(), line.size(), 20, 15, flushed), taken);
  for (std::size_t i = 0; i < 20; ++i) {
    if ((taken >> i & 1u) != 0) EXPECT_EQ(bits_of(flushed[i]), bits_of(expected[i]));
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, FastFieldRefusals, ::testing::ValuesIn(levels()), level_name);

}  // namespace
}  // namespace tarnex
