// libFuzzer target: reads of chosen steps and columns of an open plot file (vormant::OpenPlot)
// held against the whole-file read of the same file (vormant::load_plot).
//
// Input: eight bytes that choose the read, then the file.
//   byte 0  the width: % 4 gives 0 none (taken from the file), 1 12, 2 15, 3 byte0 >> 2 (0-63)
//   byte 1  % 3 + 1 threads; / 3 % 4 the selection: 0 everything (then check_complete), 1 every
//           column of some steps, 2 some columns of some steps, 3 some columns of every step
//   byte 2  the first step (modulo the steps), byte 3 the stride (signed, 0 taken as 1),
//   byte 4  the count (modulo the most the first step and the stride allow, plus one)
//   byte 5  % 9: how many columns are chosen; bytes 6 and 7: which, and in what order
//
// A whole read, and one of two columns, shared by 2 or 3 threads gives what it gives on one.
// Where the full read gives values, the read gives the same ones, bit for bit, on its rows and
// columns. Where the full read fails at line L of step s (the first fault in the file):
// opening fails the same way or not at all; a read of everything fails exactly as it does, and
// so does a read of every column that takes step s (for a fault in a lead line, only one that
// goes through consecutive steps, as only such a read checks lead lines); any other read fails
// at a line from L on, inside the steps it takes, or gives the values of the steps before s
// that a full read of the file up to step s gives.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vormant/load_plot.hpp"
#include "vormant/open_plot.hpp"

namespace {

using tarnex::ColumnPlan;
using tarnex::PlotData;
using tarnex::StepSelection;
using tarnex::vormant::LoadedPlot;
using tarnex::vormant::OpenPlot;
using tarnex::vormant::PlotFileFailure;

constexpr std::size_t kPrefix = 8;

int diagnostics = -1;
std::string plot_path;
std::string prefix_path;
std::uint64_t runs = 0;
std::size_t descriptors_at_start = 0;

struct Failure {
  tarnex::FailureKind kind;
  std::uint64_t line;
  bool operator==(const Failure&) const = default;
};

std::string describe(const Failure& failure) {
  return std::string(tarnex::kind_name(failure.kind)) + " at line " +
         std::to_string(failure.line);
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

void say(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(diagnostics, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

[[noreturn]] void mismatch(const std::string& what) {
  say("fuzz_range_reader: " + what + "\n");
  std::abort();
}

void write_file(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) mismatch("cannot write " + path);
  while (!content.empty()) {
    const ssize_t written = write(fd, content.data(), content.size());
    if (written <= 0) mismatch("cannot write " + path);
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  close(fd);
}

// The whole-file read: values, a failure, or nothing to compare with (memory ran out).
using FullRead = std::variant<LoadedPlot, Failure, std::monostate>;

FullRead outcome_of(tarnex::vormant::LoadOutcome outcome) {
  if (auto* loaded = std::get_if<LoadedPlot>(&outcome)) return std::move(*loaded);
  if (auto* failure = std::get_if<PlotFileFailure>(&outcome)) {
    return Failure{failure->kind(), failure->line()};
  }
  if (auto* unexpected = std::get_if<tarnex::vormant::UnexpectedFailure>(&outcome)) {
    mismatch("a read threw " + unexpected->what);
  }
  return std::monostate{};
}

FullRead full_read(const std::string& path, std::optional<std::uint64_t> n_digits) {
  return outcome_of(tarnex::vormant::load_plot(path, n_digits));
}

// Whether two reads gave the same values bit for bit, or failed the same way; a read that ran
// out of memory has nothing to compare.
bool same_outcome(const FullRead& one, const FullRead& other) {
  const auto nothing = [](const FullRead& read) {
    return std::holds_alternative<std::monostate>(read);
  };
  if (nothing(one) || nothing(other)) return true;
  const auto* a = std::get_if<LoadedPlot>(&one);
  const auto* b = std::get_if<LoadedPlot>(&other);
  if (a == nullptr || b == nullptr) {
    return a == b && std::get<Failure>(one) == std::get<Failure>(other);
  }
  const auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
  return std::ranges::equal(std::span(a->data.values.data(), a->data.values.size()),
                            std::span(b->data.values.data(), b->data.values.size()), {}, bits,
                            bits);
}

// Reads shared by `threads`, of everything and of the first and last parameters, give what the
// same reads give on one thread.
void check_split_reads(const FullRead& full, std::optional<std::uint64_t> n_digits,
                       std::size_t threads) {
  using namespace tarnex::vormant;
  if (!same_outcome(full, outcome_of(load_plot_split(plot_path, n_digits, threads)))) {
    mismatch("a whole read on " + std::to_string(threads) + " threads differs from the full read");
  }
  const auto header = load_names(plot_path);
  const auto* names = std::get_if<LoadedPlot>(&header);
  if (names == nullptr || names->names.size() < 2) return;
  const std::vector<std::uint64_t> columns{1, names->names.size() - 1};
  if (!same_outcome(outcome_of(load_plot_columns(plot_path, n_digits, columns, 1)),
                    outcome_of(load_plot_columns(plot_path, n_digits, columns, threads)))) {
    mismatch("a read of two columns on " + std::to_string(threads) + " threads differs");
  }
}

// What the input asks to read.
struct Request {
  std::size_t threads;
  int mode;  // 0 everything, 1 every column, 2 some columns, 3 some columns of every step
  StepSelection steps;
  std::optional<std::vector<std::uint64_t>> columns;  // none: every column
};

Request request_of(const std::uint8_t* prefix, std::uint64_t parameters, std::size_t steps) {
  Request request;
  request.threads = prefix[1] % 3 + 1;
  request.mode = prefix[1] / 3 % 4;
  if (request.mode == 0 || request.mode == 3 || steps == 0) {
    request.steps = {0, 1, steps};
  } else {
    const std::size_t first = prefix[2] % steps;
    const auto stride = static_cast<std::ptrdiff_t>(static_cast<std::int8_t>(prefix[3]));
    const std::ptrdiff_t step = stride == 0 ? 1 : stride;
    const std::size_t reachable =
        step > 0 ? (steps - 1 - first) / static_cast<std::size_t>(step) + 1
                 : first / static_cast<std::size_t>(-step) + 1;
    request.steps = {first, step, prefix[4] % (reachable + 1)};
  }
  if (request.mode >= 2) {
    std::vector<std::uint64_t> columns;
    const std::uint64_t wanted = std::min<std::uint64_t>(prefix[5] % 9, parameters - 1);
    std::uint64_t seed = prefix[6] | std::uint64_t{prefix[7]} << 8;
    while (columns.size() < wanted) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      const std::uint64_t column = 1 + (seed >> 33) % (parameters - 1);
      if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
        columns.push_back(column);
      }
    }
    request.columns = std::move(columns);
  }
  return request;
}

bool takes_step_from(const StepSelection& steps, std::size_t from) {
  for (std::size_t row = 0; row < steps.count; ++row) {
    if (steps.step(row) >= from) return true;
  }
  return false;
}

bool takes_step(const StepSelection& steps, std::size_t wanted) {
  for (std::size_t row = 0; row < steps.count; ++row) {
    if (steps.step(row) == wanted) return true;
  }
  return false;
}

// The read's values, or its failure; a read of everything is followed by check_complete().
std::variant<PlotData, Failure> read(const OpenPlot& plot, const Request& request,
                                     const ColumnPlan& plan) {
  try {
    PlotData data = plot.read(request.steps, plan, request.threads);
    if (request.mode == 0) plot.check_complete();
    return data;
  } catch (const PlotFileFailure& failure) {
    return Failure{failure.kind(), failure.line()};
  }
}

// Row `row` of `data` against the full read's values of step `step`, column by column.
void compare_row(const PlotData& data, std::size_t row, const PlotData& full, std::size_t step,
                 const Request& request) {
  const std::size_t width = static_cast<std::size_t>(data.parameters);
  for (std::size_t column = 0; column < width; ++column) {
    const std::size_t parameter =
        request.columns && column > 0 ? (*request.columns)[column - 1] : column;
    const float got = data.values.data()[row * width + column];
    if (std::bit_cast<std::uint32_t>(got) !=
        std::bit_cast<std::uint32_t>(full.value(step, parameter))) {
      mismatch("row " + std::to_string(row) + " (step " + std::to_string(step) +
               "), parameter " + std::to_string(parameter) + " differs from the full read");
    }
  }
}

// The offset of line `number` (1-based) in `file`, or the file's size when it has fewer lines.
std::size_t offset_of_line(std::string_view file, std::uint64_t number) {
  std::size_t offset = 0;
  for (std::uint64_t line = 1; line < number; ++line) {
    const std::size_t feed = file.find('\n', offset);
    if (feed == std::string_view::npos) return file.size();
    offset = feed + 1;
  }
  return offset;
}

void check(std::string_view file, const std::uint8_t* prefix) {
  std::optional<std::uint64_t> n_digits;
  switch (prefix[0] % 4) {
    case 1: n_digits = 12; break;
    case 2: n_digits = 15; break;
    case 3: n_digits = prefix[0] >> 2; break;
    default: break;
  }
  const FullRead full = full_read(plot_path, n_digits);
  if (std::holds_alternative<std::monostate>(full)) return;
  const Failure* full_failure = std::get_if<Failure>(&full);
  if (prefix[1] % 3 != 0) check_split_reads(full, n_digits, prefix[1] % 3 + 1);

  std::optional<OpenPlot> opened;
  try {
    opened.emplace(plot_path, n_digits, false);
  } catch (const PlotFileFailure& failure) {
    const Failure failed{failure.kind(), failure.line()};
    if (full_failure == nullptr) {
      mismatch("opening failed with " + describe(failed) + ", the full read did not");
    }
    if (failed != *full_failure) {
      mismatch("opening failed with " + describe(failed) + ", the full read with " +
               describe(*full_failure));
    }
    return;
  } catch (const std::bad_alloc&) {
    return;
  }
  const OpenPlot& plot = *opened;
  const std::uint64_t parameters = plot.names().size();
  const Request request = request_of(prefix, parameters, plot.steps());
  const ColumnPlan plan = request.columns ? ColumnPlan::chosen(parameters, *request.columns)
                                          : ColumnPlan::all(parameters);
  const auto outcome = read(plot, request, plan);
  const PlotData* data = std::get_if<PlotData>(&outcome);
  if (data != nullptr && data->values.size() != request.steps.count * plan.row_width()) {
    mismatch("the read gave " + std::to_string(data->values.size()) + " values");
  }

  if (const auto* loaded = std::get_if<LoadedPlot>(&full)) {
    if (plot.steps() != loaded->data.steps()) {
      mismatch("open: " + std::to_string(plot.steps()) + " steps, the full read " +
               std::to_string(loaded->data.steps()));
    }
    if (plot.n_digits() != loaded->n_digits || plot.names() != loaded->names) {
      mismatch("open: another width or other names than the full read");
    }
    if (data == nullptr) {
      mismatch("the read failed with " + describe(std::get<Failure>(outcome)) +
               ", the full read did not");
    }
    for (std::size_t row = 0; row < request.steps.count; ++row) {
      compare_row(*data, row, loaded->data, request.steps.step(row), request);
    }
    return;
  }

  // The full read failed: at a line of the header, or of step `faulty` (the partial block
  // where the file ends inside one).
  const std::uint64_t first_lead = parameters + 2;
  const std::uint64_t lines_per_step = (parameters + 9) / 10 + 1;
  if (full_failure->line < first_lead) {
    mismatch("opened a file whose header fails: " + describe(*full_failure));
  }
  const std::size_t faulty = (full_failure->line - first_lead) / lines_per_step;
  const bool lead_line = (full_failure->line - first_lead) % lines_per_step == 0;
  const std::ptrdiff_t stride = request.steps.stride;
  const bool exact =
      request.mode == 0 || (!request.columns && takes_step(request.steps, faulty) &&
                            (!lead_line || stride == 1 || stride == -1));
  if (const Failure* failed = std::get_if<Failure>(&outcome)) {
    if (exact) {
      if (*failed == *full_failure) return;
      mismatch("the read failed with " + describe(*failed) + ", the full read with " +
               describe(*full_failure));
    }
    if (failed->line < full_failure->line || !takes_step_from(request.steps, faulty)) {
      mismatch("the read failed with " + describe(*failed) + " outside its steps or before " +
               "the full read's " + describe(*full_failure));
    }
    return;
  }
  if (exact) mismatch("the read passed the full read's " + describe(*full_failure));
  if (faulty == 0) return;
  // The steps before the faulty one, read whole.
  write_file(prefix_path,
             file.substr(0, offset_of_line(file, first_lead + faulty * lines_per_step)));
  const FullRead before = full_read(prefix_path, plot.n_digits());
  if (std::holds_alternative<std::monostate>(before)) return;
  const auto* clean = std::get_if<LoadedPlot>(&before);
  if (clean == nullptr || clean->data.steps() != faulty) {
    mismatch("the file up to the first faulty step does not read as " + std::to_string(faulty) +
             " steps");
  }
  for (std::size_t row = 0; row < request.steps.count; ++row) {
    const std::size_t step = request.steps.step(row);
    if (step < faulty) compare_row(*data, row, clean->data, step, request);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  diagnostics = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const char* shm = "/dev/shm";
  const std::string folder = std::filesystem::is_directory(shm)
                                 ? shm
                                 : std::filesystem::temp_directory_path().string();
  const std::string stem = folder + "/tarnex-fuzz-range-reader-" + std::to_string(getpid());
  plot_path = stem + ".plt";
  prefix_path = stem + "-prefix.plt";
  std::atexit([] {
    unlink(plot_path.c_str());
    unlink(prefix_path.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t prefix[kPrefix] = {};
  std::copy_n(data, std::min(size, kPrefix), prefix);
  const std::string_view file(reinterpret_cast<const char*>(data) + std::min(size, kPrefix),
                              size - std::min(size, kPrefix));
  write_file(plot_path, file);
  check(file, prefix);

  // Now and then, every descriptor: none may have been left behind.
  if (runs++ % 4096 == 0) {
    const std::size_t now = open_descriptors();
    if (descriptors_at_start == 0) descriptors_at_start = now;
    if (now > descriptors_at_start) mismatch("descriptors leaked");
  }
  return 0;
}
