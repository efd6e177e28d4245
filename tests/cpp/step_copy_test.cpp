// Steps copied as their text stands, held against a read of the same steps: the copy reads back
// to the read's values bit for bit, or fails where and as the read fails.
#include "vormant/step_copy.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "plot_lines.hpp"
#include "test_support.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/open_plot.hpp"

namespace tarnex {
namespace {

using testing::TempDir;
using vormant::OpenPlot;
using vormant::PlotFileFailure;

// What a read gives: the bytes of its values, or its failure's kind and line.
std::string outcome_of(const PlotData& data) {
  return {reinterpret_cast<const char*>(data.values.data()), data.values.size() * sizeof(float)};
}
std::string outcome_of(const PlotFileFailure& failure) {
  return std::string(kind_name(failure.kind())) + " at line " + std::to_string(failure.line());
}

// Steps [first, steps) of the file at `path` copied after `header`, and read back.
std::string copied(const std::string& path, const std::string& header, std::size_t first,
                   const TempDir& dir) {
  const OpenPlot plot(path, std::nullopt, false);
  const std::string target = dir.write("copy.txt", header);
  const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  try {
    EXPECT_EQ(plot.copy_steps(first, plot.steps() - first, fd, 1), 0);
    ::close(fd);
  } catch (const PlotFileFailure& failure) {
    ::close(fd);
    return outcome_of(failure);
  }
  auto back = vormant::load_plot(target, std::nullopt);
  if (auto* failure = std::get_if<PlotFileFailure>(&back)) return "copy: " + outcome_of(*failure);
  return outcome_of(std::get<vormant::LoadedPlot>(back).data);
}

// Steps [first, steps) of the file at `path` read through its index.
std::string read(const std::string& path, std::size_t first) {
  const OpenPlot plot(path, std::nullopt, false);
  try {
    const StepSelection steps{first, 1, plot.steps() - first};
    return outcome_of(plot.read(steps, ColumnPlan::all(plot.names().size()), 1));
  } catch (const PlotFileFailure& failure) {
    return outcome_of(failure);
  }
}

// How a line of the source is changed: into a fault a read refuses, or a spelling it takes.
using Change = void (*)(std::string& line);
constexpr Change kNone = [](std::string&) {};
constexpr Change kNoNumber = [](std::string& line) { line[0] = 'x'; };
constexpr Change kShortLine = [](std::string& line) { line.pop_back(); };
constexpr Change kCarriageReturnInField = [](std::string& line) { line.back() = '\r'; };
constexpr Change kInvalidUtf8 = [](std::string& line) { line += "\xff"; };
constexpr Change kOtherShape = [](std::string& line) { line.replace(0, 2, "  "); };  // .2E+02
constexpr Change kSpareBytes = [](std::string& line) { line += "  \xc3\xa9"; };

struct CopyCase {
  std::uint64_t parameters;
  int width;
  std::size_t steps;
  const char* eol;
  Change change;
  std::string_view end = "";  // what the file ends with after its last line (its line end: none)
  std::size_t first = 0;      // the steps copied: from `first` to the end
};

class Copies : public ::testing::TestWithParam<CopyCase> {};

TEST_P(Copies, ReadBackAsTheReadOfTheSameSteps) {
  const CopyCase& c = GetParam();
  testing::PlotLines plot = testing::make_plot(c.parameters, c.steps, c.width, 7);
  // A late step, past the first pieces of a long file. Invalid UTF-8 goes into its lead line,
  // whose length no index holds to any other.
  const std::size_t step = c.steps * 3 / 4;
  c.change(plot.line(c.change == kInvalidUtf8 ? plot.lead_line(step)
                                              : plot.value_line(step, plot.value_lines() - 1)));
  const std::string text = plot.text(c.eol, c.end.empty()) + std::string(c.end);
  const std::string header = text.substr(0, plot.line_offsets(c.eol)[plot.lead_line(0) - 1]);
  TempDir dir;
  const std::string path = dir.write("plot.txt", text);
  EXPECT_EQ(copied(path, header, c.first, dir), read(path, c.first));
}

INSTANTIATE_TEST_SUITE_P(
    StepCopy, Copies,
    ::testing::Values(
        CopyCase{23, 12, 9, "\n", kNone}, CopyCase{23, 15, 9, "\r\n", kNone},
        CopyCase{3, 12, 9, "\n", kNone, "\r"},  // a line the end of the file ends
        CopyCase{23, 15, 9, "\n", kOtherShape}, CopyCase{23, 12, 9, "\n", kSpareBytes, "\r"},
        CopyCase{23, 12, 9, "\n", kNoNumber}, CopyCase{23, 15, 9, "\r\n", kNoNumber},
        CopyCase{23, 15, 9, "\n", kNoNumber, "", 7},  // the fault lies before the copy
        CopyCase{23, 12, 9, "\n", kShortLine}, CopyCase{23, 12, 9, "\n", kCarriageReturnInField},
        CopyCase{23, 12, 9, "\n", kInvalidUtf8},
        CopyCase{45, 15, 3000, "\n", kNone},  // many pieces
        CopyCase{45, 15, 3000, "\n", kNoNumber}));

TEST(StepCopy, FileCutShortAfterOpeningFails) {
  TempDir dir;
  const std::string path = dir.write("plot.txt", testing::make_plot(5, 9, 12, 3).text("\n"));
  const OpenPlot open(path, std::nullopt, false);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 30);
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  EXPECT_THROW(open.copy_steps(0, open.steps(), fd, 1), PlotFileFailure);
  ::close(fd);
}

}  // namespace
}  // namespace tarnex
