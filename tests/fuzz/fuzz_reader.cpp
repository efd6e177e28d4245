// libFuzzer target: whole plot files through tarnex::read_plot_file, checked against the
// independent model of reference.hpp.
//
// Input: byte 0 and 1 choose n_digits, the rest is the file. Byte 0 below 0xC0 picks entry
// byte0 % 16 of kWidths (0 gives 12, 1 gives 15); from 0xC0 on, n_digits is the 14-bit value
// (byte0 & 0x3F) << 8 | byte1.
//
// Every input must give exactly the model's outcome: the same values bit for bit, or the same
// fatal message. The reader's file descriptor must be closed whichever way the call ends.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/fatal_error.hpp"
#include "boundary/fatal_failure_policy.hpp"
#include "reader/read_plot_file.hpp"
#include "reference.hpp"

namespace {

constexpr std::array<std::uint64_t, 16> kWidths = {
    12,
    15,
    0,
    1,
    2,
    11,
    13,
    40,
    120,  // a whole value line of ten 12-byte fields
    std::uint64_t{1} << 32,
    std::uint64_t{1} << 63,
    (std::uint64_t{1} << 63) + 1,
    UINT64_MAX,
    UINT64_MAX / 9,       // 9 * width is the last field's start, just below 2^64
    UINT64_MAX / 10 + 1,  // 10 * width passes 2^64
    UINT64_MAX - 11,
};

int diagnostics = -1;  // the original standard error, for mismatch reports
std::string plot_path;
std::uint64_t runs = 0;
std::size_t descriptors_at_start = 0;

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

[[noreturn]] void mismatch(const std::string& what, std::uint64_t n_digits) {
  say("fuzz_reader: " + what + " (n_digits " + std::to_string(n_digits) + ")\n");
  std::abort();
}

std::uint64_t width_of(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t first = size > 0 ? data[0] : 0;
  const std::uint8_t second = size > 1 ? data[1] : 0;
  if (first < 0xC0) return kWidths[first % kWidths.size()];
  return (std::uint64_t{first & 0x3Fu} << 8) | second;
}

void write_plot_file(std::string_view content) {
  const int fd = open(plot_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) mismatch("cannot write " + plot_path, 0);
  while (!content.empty()) {
    const ssize_t written = write(fd, content.data(), content.size());
    if (written <= 0) mismatch("cannot write " + plot_path, 0);
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  close(fd);
}

// The descriptor the next open() would get: the lowest one free.
int lowest_free_descriptor() {
  const int probe = fcntl(diagnostics, F_DUPFD, 0);
  close(probe);
  return probe;
}

std::vector<std::uint32_t> bits_of(const std::vector<float>& values) {
  std::vector<std::uint32_t> bits;
  bits.reserve(values.size());
  for (const float value : values) bits.push_back(std::bit_cast<std::uint32_t>(value));
  return bits;
}

void check_values(const tarnex::PlotData& data, const tarnex::fuzz::Expected& expected,
                  std::uint64_t n_digits) {
  if (data.parameters != expected.columns.size() + 1) {
    mismatch("columns: " + std::to_string(data.parameters - 1) + ", expected " +
                 std::to_string(expected.columns.size()),
             n_digits);
  }
  if (data.values.size() != data.steps() * data.parameters) {
    mismatch("the values do not make whole rows", n_digits);
  }
  for (std::size_t parameter = 0; parameter < data.parameters; ++parameter) {
    std::vector<float> column;
    for (std::size_t step = 0; step < data.steps(); ++step) {
      column.push_back(data.value(step, parameter));
    }
    const std::vector<std::uint32_t>& wanted =
        parameter == 0 ? expected.time : expected.columns[parameter - 1];
    if (bits_of(column) != wanted) {
      mismatch("values of parameter " + std::to_string(parameter) + " differ", n_digits);
    }
  }
}

}  // namespace

// Fatal reports (descriptor 2) and the bad-count line (descriptor 1) are expected for most
// inputs; libFuzzer's -close_fd_mask=3 sends both descriptors to /dev/null while its own output
// and the sanitizers' reports go on to a copy of the original standard error. The flag goes
// first, so that one given on the command line still wins.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static char close_output[] = "-close_fd_mask=3";
  static std::vector<char*> arguments;
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + 1, close_output);
  arguments.push_back(nullptr);
  *argv = arguments.data();
  *argc = static_cast<int>(arguments.size() - 1);

  diagnostics = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const char* shm = "/dev/shm";
  const std::string folder =
      std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path().string();
  plot_path = folder + "/tarnex-fuzz-reader-" + std::to_string(getpid()) + ".plt";
  std::atexit([] { unlink(plot_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint64_t n_digits = width_of(data, size);
  const std::string_view file(reinterpret_cast<const char*>(data) + std::min<std::size_t>(size, 2),
                              size - std::min<std::size_t>(size, 2));
  write_plot_file(file);
  const tarnex::fuzz::Expected expected = tarnex::fuzz::expected_outcome(file, n_digits);

  const int reader_descriptor = lowest_free_descriptor();
  // Reads of a size the input chooses, besides the usual: runs of whole lines then end inside
  // the file, where the reader must go on line by line.
  const std::size_t read_size = 24 + size % 233;
  try {
    tarnex::PlotFile small_reads;
    tarnex::read_plot_file({.path = plot_path, .n_digits = n_digits, .read_size = read_size},
                           tarnex::fatal_failure_policy(), small_reads);
    if (!expected.ok) mismatch("read the file in small pieces, expected a failure", n_digits);
    check_values(small_reads.data, expected, n_digits);
  } catch (const tarnex::FatalError& error) {
    std::string why;
    if (expected.ok) mismatch("failed in small pieces with '" + error.message() + "'", n_digits);
    if (!tarnex::fuzz::message_matches(expected, error.message(), why)) {
      mismatch("message in small pieces '" + error.message() + "'; " + why, n_digits);
    }
  }
  try {
    const tarnex::PlotData plot = tarnex::read_plot_file(plot_path, n_digits);
    if (!expected.ok) mismatch("read the file, expected a failure", n_digits);
    check_values(plot, expected, n_digits);
  } catch (const tarnex::FatalError& error) {
    std::string why;
    if (expected.ok) mismatch("failed with '" + error.message() + "', expected values", n_digits);
    if (!tarnex::fuzz::message_matches(expected, error.message(), why)) {
      mismatch("message '" + error.message() + "'; " + why, n_digits);
    }
  }
  if (fcntl(reader_descriptor, F_GETFD) != -1) mismatch("the plot file was left open", n_digits);

  // Now and then, every descriptor: none may have been left behind by anything.
  if (runs++ % 4096 == 0) {
    const std::size_t now = open_descriptors();
    if (descriptors_at_start == 0) descriptors_at_start = now;
    if (now > descriptors_at_start) mismatch("descriptors leaked", n_digits);
  }
  return 0;
}
