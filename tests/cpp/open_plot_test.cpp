// Reads of chosen steps and columns of an open plot file, and the reads of every step that take
// no index (in one pass, or shared by threads), held against the whole-file read of the same
// file: the same values bit for bit, the same failure where they meet a fault.
#include "vormant/open_plot.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <ostream>
#include <variant>

#include "plot_lines.hpp"
#include "test_support.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/partition_plan.hpp"
#include "vormant/partition_read.hpp"

namespace tarnex {
namespace {

using testing::PlotLines;
using testing::TempDir;
using vormant::OpenPlot;
using vormant::PlotFileFailure;
using Columns = std::optional<std::vector<std::uint64_t>>;  // none: every parameter

struct Failure {
  FailureKind kind;
  std::uint64_t line;
  bool operator==(const Failure&) const = default;
};

void PrintTo(const Failure& failure, std::ostream* out) {
  *out << kind_name(failure.kind) << " at line " << failure.line;
}

// What a read gives: the bit patterns of its values, row by row, or its failure.
using Outcome = std::variant<std::vector<std::uint32_t>, Failure>;

Failure failure_of(const PlotFileFailure& failure) {
  return {failure.kind(), failure.line()};
}

std::variant<vormant::LoadedPlot, Failure> full_read(const std::string& path,
                                                     std::optional<std::uint64_t> n_digits) {
  auto outcome = vormant::load_plot(path, n_digits);
  if (auto* failure = std::get_if<PlotFileFailure>(&outcome)) return failure_of(*failure);
  return std::get<vormant::LoadedPlot>(std::move(outcome));
}

struct Selection {
  StepSelection steps;
  Columns columns;
  std::size_t threads = 1;
};

std::ostream& operator<<(std::ostream& out, const Selection& s) {
  out << "steps " << s.steps.first << "/" << s.steps.stride << "/" << s.steps.count << ", ";
  if (!s.columns) out << "all";
  for (const std::uint64_t column : s.columns.value_or(std::vector<std::uint64_t>{})) {
    out << column << " ";
  }
  return out << ", " << s.threads << " threads";
}

Outcome read(const OpenPlot& plot, std::uint64_t parameters, const Selection& s) {
  const ColumnPlan plan =
      s.columns ? ColumnPlan::chosen(parameters, *s.columns) : ColumnPlan::all(parameters);
  try {
    const PlotData data = plot.read(s.steps, plan, s.threads);
    EXPECT_EQ(data.values.size(), s.steps.count * plan.row_width());
    std::vector<std::uint32_t> bits(data.values.size());
    std::transform(data.values.data(), data.values.data() + bits.size(), bits.begin(),
                   [](float value) { return std::bit_cast<std::uint32_t>(value); });
    return bits;
  } catch (const PlotFileFailure& failure) {
    return failure_of(failure);
  }
}

std::vector<std::uint32_t> bits_of(const PlotData& data) {
  std::vector<std::uint32_t> bits(data.values.size());
  std::transform(data.values.data(), data.values.data() + bits.size(), bits.begin(),
                 [](float value) { return std::bit_cast<std::uint32_t>(value); });
  return bits;
}

// What a read of every step without an index gives (the one pass, of every column or some,
// shared by threads or not): the bit patterns of its values, row by row, or its failure.
Outcome loaded(vormant::LoadOutcome outcome) {
  if (auto* failure = std::get_if<PlotFileFailure>(&outcome)) return failure_of(*failure);
  return bits_of(std::get<vormant::LoadedPlot>(outcome).data);
}

// The rows and columns of a full read's values that `s` selects.
Outcome values_of(const PlotData& full, const Selection& s) {
  std::vector<std::uint64_t> columns(full.parameters);
  std::iota(columns.begin(), columns.end(), 0);
  if (s.columns) {
    columns.assign(1, 0);
    columns.insert(columns.end(), s.columns->begin(), s.columns->end());
  }
  std::vector<std::uint32_t> bits;
  for (std::size_t row = 0; row < s.steps.count; ++row) {
    for (const std::uint64_t column : columns) {
      bits.push_back(std::bit_cast<std::uint32_t>(full.value(s.steps.step(row), column)));
    }
  }
  return bits;
}

bool takes_step(const StepSelection& steps, std::size_t step) {
  for (std::size_t row = 0; row < steps.count; ++row) {
    if (steps.step(row) == step) return true;
  }
  return false;
}

// All columns; the time alone; every parameter in order and backwards; a few scattered.
std::vector<Columns> column_choices(std::uint64_t parameters) {
  std::vector<Columns> choices = {std::nullopt, std::vector<std::uint64_t>{}};
  if (parameters == 1) return choices;
  std::vector<std::uint64_t> in_order(parameters - 1);
  std::iota(in_order.begin(), in_order.end(), 1);
  std::vector<std::uint64_t> scattered;
  for (std::uint64_t i = 0; i < std::min<std::uint64_t>(parameters - 1, 5); ++i) {
    scattered.push_back(1 + (i * 7 + 3) % (parameters - 1));
  }
  choices.insert(choices.end(),
                 {in_order, std::vector(in_order.rbegin(), in_order.rend()), scattered});
  return choices;
}

// Consecutive steps, strides both ways, the first and the last step alone; far apart too in
// long files. The file has 8 steps at least.
std::vector<StepSelection> step_choices(std::size_t steps) {
  EXPECT_GE(steps, 8u);
  std::vector<StepSelection> choices = {{0, 1, steps},
                                        {2, 1, 4},
                                        {0, 2, (steps + 1) / 2},
                                        {steps - 1, -1, steps},
                                        {steps - 1, -3, (steps + 2) / 3},
                                        {0, 1, 1},
                                        {steps - 1, 1, 1},
                                        {1, 3, 3}};
  if (steps > 400) {
    choices.insert(choices.end(), {{3, 97, (steps - 4) / 97 + 1},
                                   {steps - 1, -29, (steps - 1) / 29 + 1},
                                   {7, 401, (steps - 8) / 401 + 1}});
  }
  return choices;
}

enum class Shape { Plain, SpareBytes, NoFinalLineFeed, EndsInsideStep };

struct ShapeCase {
  std::uint64_t parameters;
  int width;
  const char* eol;
  Shape shape;
  std::size_t steps = 9;
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

// LF files are opened without a width, CR LF files with one.
TEST_P(Shapes, EverySelectionGivesTheValuesOfTheFullRead) {
  const auto [parameters, width, eol, shape, steps] = GetParam();
  PlotLines plot = testing::make_plot(parameters, steps, width, parameters * width);
  for (std::size_t step = 1; shape == Shape::SpareBytes && step < steps; step += 3) {
    plot.line(plot.value_line(step, step % plot.value_lines())) += std::string(step % 9, '#');
  }
  const std::string complete = plot.text(eol, shape != Shape::NoFinalLineFeed);
  std::string text = complete;
  if (shape == Shape::EndsInsideStep) {
    text += " TIME STEP" + std::string(eol);
    if (plot.value_lines() > 1) text += plot.line(plot.value_line(0, 0)) + eol;
  }
  TempDir dir;
  const std::string path = dir.write("plot.txt", text);
  const auto n_digits = eol[0] == '\r' ? std::optional<std::uint64_t>(width) : std::nullopt;
  auto reference = full_read(dir.write("complete.txt", complete), n_digits);
  const auto& full = std::get<vormant::LoadedPlot>(reference);

  const OpenPlot open(path, n_digits, false);
  ASSERT_EQ(open.steps(), steps);
  EXPECT_EQ(open.n_digits(), static_cast<std::uint64_t>(width));
  EXPECT_EQ(open.names(), full.names);
  std::optional<Failure> incomplete;
  try {
    open.check_complete();
  } catch (const PlotFileFailure& failure) {
    incomplete = failure_of(failure);
  }
  if (shape == Shape::EndsInsideStep) {
    EXPECT_EQ(incomplete, std::get<Failure>(full_read(path, n_digits)));
  } else {
    EXPECT_EQ(incomplete, std::nullopt);
  }
  for (const StepSelection& chosen : step_choices(steps)) {
    for (const Columns& columns : column_choices(parameters)) {
      for (const std::size_t threads : {1, 3}) {
        const Selection s{chosen, columns, threads};
        EXPECT_EQ(read(open, parameters, s), values_of(full.data, s)) << s;
      }
    }
  }
  // Reads of every step that take no index, shared by threads or in one pass, fail as the full
  // read of the file does, or give its values.
  for (const std::size_t threads : {1, 2, 5}) {
    for (const Columns& columns : column_choices(parameters)) {
      if (!columns && threads == 1) continue;  // the full read itself
      const Selection s{{0, 1, steps}, columns, threads};
      const Outcome got =
          columns ? loaded(vormant::load_plot_columns(path, n_digits, *columns, threads))
                  : loaded(vormant::load_plot_split(path, n_digits, threads));
      EXPECT_EQ(got, incomplete ? Outcome(*incomplete) : values_of(full.data, s)) << s;
    }
  }
}

std::vector<ShapeCase> every_shape() {
  std::vector<ShapeCase> cases;
  for (const std::uint64_t parameters : {1, 10, 11, 25}) {
    for (const int width : {12, 15}) {
      for (const char* eol : {"\n", "\r\n"}) {
        for (const Shape shape :
             {Shape::Plain, Shape::SpareBytes, Shape::NoFinalLineFeed, Shape::EndsInsideStep}) {
          cases.push_back({parameters, width, eol, shape});
        }
      }
    }
  }
  return cases;
}

std::string shape_name(const ::testing::TestParamInfo<ShapeCase>& info) {
  const char* shapes[] = {"plain", "spare_bytes", "no_final_lf", "ends_inside_step"};
  const ShapeCase& c = info.param;
  return "P" + std::to_string(c.parameters) + "_w" + std::to_string(c.width) +
         (c.eol[0] == '\r' ? "_crlf_" : "_lf_") + shapes[static_cast<int>(c.shape)] + "_" +
         std::to_string(c.steps);
}

INSTANTIATE_TEST_SUITE_P(OpenPlot, Shapes, ::testing::ValuesIn(every_shape()), shape_name);
// Long files, and files as wide as the benchmark's.
INSTANTIATE_TEST_SUITE_P(OpenPlotLong, Shapes,
                         ::testing::Values(ShapeCase{25, 15, "\n", Shape::SpareBytes, 1500},
                                           ShapeCase{11, 12, "\r\n", Shape::Plain, 1500},
                                           ShapeCase{1, 12, "\n", Shape::NoFinalLineFeed, 3000},
                                           ShapeCase{2000, 12, "\n", Shape::SpareBytes, 8},
                                           ShapeCase{200, 15, "\r\n", Shape::EndsInsideStep, 8}),
                         shape_name);

// InvalidUtf8Unpicked lies in the last field of a line whose other fields a read may take;
// CarriageReturn ends the step's last value line, cutting its last field short.
enum class Fault {
  BadField,
  BlankField,
  ShortLine,
  InvalidUtf8,
  InvalidUtf8LeadLine,
  InvalidUtf8Unpicked,
  CarriageReturn
};

struct FaultCase {
  Fault fault;
  const char* eol;
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

// The same fault in steps 4 and 7 of a file of 25 parameters: at parameter 13 (value line 1,
// field 3), or in the lead line. Whatever the threads and the direction, a read fails at the
// earliest fault in the file among those it meets, as the full read does, or gives the values.
TEST_P(Faults, ReadsMeetTheEarliestFaultTheyTakeAsTheFullReadDoes) {
  const auto [fault, eol] = GetParam();
  const PlotLines clean = testing::make_plot(25, 10, 12, 5);
  PlotLines faulty = clean;
  FailureKind kind = FailureKind::InvalidUtf8;
  std::vector<std::uint64_t> meeting;  // the parameters whose fields meet the fault
  std::vector<Failure> faults;
  for (const std::size_t step : {4, 7}) {
    std::string& line = faulty.line(clean.value_line(step, 1));
    switch (fault) {
      case Fault::BadField:
        line.replace(36, 12, "   1.2.3    ");
        kind = FailureKind::FieldInvalid;
        meeting = {13};
        break;
      case Fault::BlankField:
        line.replace(36, 12, std::string(12, ' '));
        kind = FailureKind::FieldEmpty;
        meeting = {13};
        break;
      case Fault::ShortLine:
        line.resize(36 + 5);
        kind = FailureKind::FieldCut;
        meeting = {13, 14, 15, 16, 17, 18, 19};
        break;
      case Fault::InvalidUtf8:
        line[36 + 4] = '\xFF';
        meeting = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
        break;
      case Fault::InvalidUtf8LeadLine:
        faulty.line(clean.lead_line(step)) += "\xC3(";
        break;
      case Fault::InvalidUtf8Unpicked:
        line[9 * 12 + 4] = '\xFF';
        meeting = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
        break;
      case Fault::CarriageReturn:
        faulty.line(clean.value_line(step, 2)).back() = '\r';
        kind = FailureKind::FieldCut;
        meeting = {24};
        break;
    }
    faults.push_back({kind, fault == Fault::InvalidUtf8LeadLine ? clean.lead_line(step)
                            : fault == Fault::CarriageReturn    ? clean.value_line(step, 2)
                                                                : clean.value_line(step, 1)});
  }
  TempDir dir;
  const std::string path = dir.write("faulty.txt", faulty.text(eol));
  ASSERT_EQ(std::get<Failure>(full_read(path, 12)), faults[0]);
  auto reference = full_read(dir.write("clean.txt", clean.text(eol)), 12);
  const PlotData& values = std::get<vormant::LoadedPlot>(reference).data;

  const OpenPlot open(path, 12, false);
  const std::vector<Columns> column_list = {std::nullopt,
                                            std::vector<std::uint64_t>{},
                                            std::vector<std::uint64_t>{13},
                                            std::vector<std::uint64_t>{14},
                                            std::vector<std::uint64_t>{20, 13, 2},
                                            std::vector<std::uint64_t>{2, 24},
                                            std::vector<std::uint64_t>{24, 10, 11, 12},
                                            std::vector<std::uint64_t>{2, 3, 4, 5, 6, 7, 8, 11},
                                            column_choices(25)[2]};
  for (const StepSelection& steps : {StepSelection{0, 1, 10},
                                     {4, 1, 3},
                                     {5, 1, 5},
                                     {0, 1, 4},
                                     {0, 2, 5},
                                     {1, 2, 5},
                                     {9, -1, 10},
                                     {7, -3, 3},
                                     {9, -2, 5},
                                     {4, 1, 1}}) {
    for (const Columns& columns : column_list) {
      // A read of every column of consecutive steps, either way, checks every line; any other
      // read the value lines and fields it takes.
      bool meets = !columns && (fault != Fault::InvalidUtf8LeadLine || std::abs(steps.stride) == 1);
      for (const std::uint64_t column : columns.value_or(std::vector<std::uint64_t>{})) {
        meets = meets || std::count(meeting.begin(), meeting.end(), column) > 0;
      }
      for (const std::size_t threads : {1, 3, 8}) {
        const Selection s{steps, columns, threads};
        Outcome expected = values_of(values, s);
        if (meets && takes_step(steps, 7)) expected = faults[1];
        if (meets && takes_step(steps, 4)) expected = faults[0];
        EXPECT_EQ(read(open, 25, s), expected) << s;
        if (steps.count == 10 && steps.stride == 1) {  // every step: readable without the index
          EXPECT_EQ(columns ? loaded(vormant::load_plot_columns(path, 12, *columns, threads))
                            : loaded(vormant::load_plot_split(path, 12, threads)),
                    expected)
              << s;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    OpenPlot, Faults,
    ::testing::Values(FaultCase{Fault::BadField, "\n"}, FaultCase{Fault::BlankField, "\r\n"},
                      FaultCase{Fault::ShortLine, "\n"}, FaultCase{Fault::ShortLine, "\r\n"},
                      FaultCase{Fault::InvalidUtf8, "\n"}, FaultCase{Fault::InvalidUtf8, "\r\n"},
                      FaultCase{Fault::InvalidUtf8LeadLine, "\n"},
                      FaultCase{Fault::InvalidUtf8Unpicked, "\r\n"},
                      FaultCase{Fault::CarriageReturn, "\n"}));

// Lead lines whose lengths make the rows a thread guesses for its first step exact, too many or
// too few: reads of every step shared by threads, of every column and of two, give what they
// give on one thread, a fault near the end included.
enum class Leads { Fixed, Growing, Dip };

struct GuessCase {
  Leads leads;
  std::uint64_t parameters;
  bool fault;
};

class GuessedStarts : public ::testing::TestWithParam<GuessCase> {};

TEST_P(GuessedStarts, SharedReadsGiveWhatOneThreadGives) {
  const auto [leads, parameters, fault] = GetParam();
  PlotLines plot = testing::make_plot(parameters, 600, 12, 11);
  for (std::size_t step = 0; step < 600; ++step) {
    const bool long_lead = leads == Leads::Dip && (step < 20 || step >= 100);
    const std::size_t dots = leads == Leads::Growing ? step / 50 : long_lead ? 40 : 0;
    plot.line(plot.lead_line(step)) = " TIME STEP" + std::string(dots, '.');
  }
  if (fault) plot.line(plot.value_line(580, 0)).replace(12, 12, "   1.2.3E+00");
  TempDir dir;
  const std::string path = dir.write("plot.txt", plot.text("\n"));
  const std::vector<std::uint64_t> columns{1, parameters - 1};
  const Outcome whole = loaded(vormant::load_plot(path, 12));
  const Outcome two = loaded(vormant::load_plot_columns(path, 12, columns, 1));
  EXPECT_EQ(std::holds_alternative<Failure>(whole), fault);
  for (const std::size_t threads : {2, 3, 4}) {
    EXPECT_EQ(loaded(vormant::load_plot_split(path, 12, threads)), whole) << threads;
    EXPECT_EQ(loaded(vormant::load_plot_columns(path, 12, columns, threads)), two) << threads;
  }
}

INSTANTIATE_TEST_SUITE_P(OpenPlot, GuessedStarts,
                         ::testing::Values(GuessCase{Leads::Fixed, 25, false},
                                           GuessCase{Leads::Fixed, 25, true},
                                           GuessCase{Leads::Growing, 11, false},
                                           GuessCase{Leads::Growing, 11, true},
                                           GuessCase{Leads::Dip, 11, false}));

// The parts of a file cut into byte ranges of `size` as workers cut it, from the line feeds
// counted in each range.
vormant::PartPlan parts_of(const std::string& path, std::uint64_t size) {
  std::vector<vormant::CountedRange> counted;
  for (const vormant::ByteRange& range : vormant::part_ranges(path, size)) {
    counted.push_back({range, vormant::count_feeds(path, range.begin, range.end)});
  }
  return vormant::plan_parts(counted, vormant::read_layout(path).names.size());
}

// The parts read one by one and put together, or the first failure.
Outcome read_parts(const std::string& path, const vormant::PartPlan& plan, const Columns& columns) {
  std::vector<std::uint32_t> bits;
  try {
    for (const vormant::Partition& part : plan.parts) {
      const auto chosen = columns ? std::optional(std::span<const std::uint64_t>(*columns))
                                  : std::nullopt;
      const std::vector<std::uint32_t> more =
          bits_of(vormant::read_partition(path, std::nullopt, chosen, part).data);
      bits.insert(bits.end(), more.begin(), more.end());
    }
  } catch (const PlotFileFailure& failure) {
    return failure_of(failure);
  }
  return bits;
}

struct PartsCase {
  std::uint64_t parameters;
  int width;
  bool final_feed;
};

class Parts : public ::testing::TestWithParam<PartsCase> {};

// Whatever the size of the ranges, the parts put together are the whole read, of every column
// or some; each part finds the time of its first step; the last part of a file that ends inside
// a step fails as the whole read of that file does.
TEST_P(Parts, PutTogetherAreTheWholeRead) {
  const auto [parameters, width, final_feed] = GetParam();
  const PlotLines plot = testing::make_plot(parameters, 40, width, parameters * 3);
  TempDir dir;
  const std::string path = dir.write("plot.txt", plot.text("\n", final_feed));
  const std::string cut = dir.write("cut.txt", plot.text("\n") + " TIME STEP\n");
  auto reference = full_read(path, std::nullopt);
  const PlotData& full = std::get<vormant::LoadedPlot>(reference).data;
  const Failure cut_failure = std::get<Failure>(full_read(cut, std::nullopt));
  for (const std::uint64_t size : {1, 97, 1000, 1000000}) {
    const vormant::PartPlan plan = parts_of(path, size);
    const vormant::PartPlan cut_plan = parts_of(cut, size);
    ASSERT_TRUE(plan.last.has_value());
    EXPECT_EQ(plan.last->first_step, 39u);
    for (const vormant::Partition& part : {plan.parts.front(), plan.parts.back(), *plan.last}) {
      const float time =
          vormant::time_of_step(path, std::nullopt, part.begin, part.feeds_before, part.first_step);
      EXPECT_EQ(std::bit_cast<std::uint32_t>(time),
                std::bit_cast<std::uint32_t>(full.value(part.first_step, 0)))
          << size << " step " << part.first_step;
    }
    for (const Columns& columns : column_choices(parameters)) {
      const Selection s{{0, 1, 40}, columns};
      EXPECT_EQ(read_parts(path, plan, columns), values_of(full, s)) << size << ": " << s;
      EXPECT_EQ(read_parts(cut, cut_plan, columns), Outcome(cut_failure)) << size << ": " << s;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PartitionRead, Parts,
                         ::testing::Values(PartsCase{13, 12, true}, PartsCase{1, 15, true},
                                           PartsCase{21, 12, false}));

// A growing file opened without a width takes it from its first complete block. A first block
// that tells none fails the refresh that indexes it, and every read of its steps after.
TEST(OpenPlot, GrowingFileTakesItsWidthFromItsFirstCompleteBlock) {
  PlotLines plot = testing::make_plot(11, 4, 15, 2);
  TempDir dir;
  for (const bool tells_width : {true, false}) {
    if (!tells_width) plot.line(plot.value_line(0, 0)).pop_back();
    const std::string text = plot.text("\n");
    const std::uint64_t written = plot.line_offsets("\n")[plot.value_line(0, 1) - 1] + 7;
    const std::string path = dir.write(tells_width ? "a.txt" : "b.txt", text.substr(0, written));
    OpenPlot open(path, std::nullopt, true);
    EXPECT_EQ(open.steps(), 0u);
    EXPECT_EQ(open.n_digits(), std::nullopt);
    std::ofstream(path, std::ios::binary | std::ios::app) << text.substr(written);
    const auto whole = full_read(path, std::nullopt);
    const Selection everything{{0, 1, 4}, std::nullopt, 2};
    if (tells_width) {
      EXPECT_EQ(open.refresh(), 4u);
      EXPECT_EQ(open.n_digits(), 15u);
      EXPECT_EQ(read(open, 11, everything),
                values_of(std::get<vormant::LoadedPlot>(whole).data, everything));
      continue;
    }
    const Failure expected = std::get<Failure>(whole);
    EXPECT_EQ(expected, (Failure{FailureKind::WidthUnknown, plot.value_line(0, 0)}));
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_THROW(open.refresh(), PlotFileFailure);
      if (open.steps() == 0) continue;
      EXPECT_EQ(read(open, 11, {{0, 1, open.steps()}, std::nullopt, 2}), Outcome(expected));
      EXPECT_EQ(read(open, 11, {{0, 1, 1}, std::vector<std::uint64_t>{}}), Outcome(expected));
    }
  }
}

// A file cut short after it was opened, inside a value line, after a lead line, after the
// header, to nothing: a read fails, or gives the full read's values where the bytes it needs
// are still there; one of every column of a step that lost bytes fails.
TEST(OpenPlot, FileCutShortAfterOpeningFailsAsAPlotFileFailure) {
  const PlotLines plot = testing::make_plot(11, 500, 15, 3);
  const std::vector<std::uint64_t> offsets = plot.line_offsets("\n");
  TempDir dir;
  const std::pair<std::uint64_t, std::size_t> cuts[] = {
      // the size, the first step cut
      {offsets[plot.value_line(300, 0) - 1] + 2 * 15 + 7, 300},
      {offsets[plot.value_line(5, 0) - 1], 5},
      {offsets[plot.lead_line(0) - 1], 0},
      {0, 0}};
  for (const auto& [size, first_cut] : cuts) {
    const std::string path = dir.write("plot" + std::to_string(size), plot.text("\n"));
    auto reference = full_read(path, 15);
    const PlotData& values = std::get<vormant::LoadedPlot>(reference).data;
    const OpenPlot open(path, 15, false);
    std::filesystem::resize_file(path, size);
    for (const StepSelection& steps : step_choices(500)) {
      for (const Columns& columns : column_choices(11)) {
        for (const std::size_t threads : {1, 4}) {
          const Selection s{steps, columns, threads};
          const Outcome got = read(open, 11, s);
          bool cut = false;
          for (std::size_t row = 0; row < steps.count; ++row) cut |= steps.step(row) >= first_cut;
          if (!cut || std::holds_alternative<std::vector<std::uint32_t>>(got)) {
            EXPECT_EQ(got, values_of(values, s)) << s;
          }
          if (cut && !columns) EXPECT_TRUE(std::holds_alternative<Failure>(got)) << s;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarnex
