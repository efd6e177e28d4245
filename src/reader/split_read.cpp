#include "reader/split_read.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/guessed_split.hpp"
#include "reader/thread_split.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/chunk_scan.hpp"
#include "text/line_source.hpp"
#include "text/positioned_read.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {
namespace {

constexpr std::size_t kCountPiece = std::size_t{1} << 20;
constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

[[noreturn, gnu::cold]] void fail_to_read(FailurePolicy& policy, std::uint64_t line, int code) {
  report_failure(policy,
                 {.kind = FailureKind::ReadError, .line = line, .io_error = IoError::system(code)});
}

// A positioned read whose failure goes to `policy`, naming `line`.
std::size_t read_at(int fd, char* buffer, std::size_t size, std::uint64_t offset,
                    FailurePolicy& policy, std::uint64_t line) {
  const ssize_t count = tarnex::read_at(fd, buffer, size, offset);
  if (count < 0) fail_to_read(policy, line, errno);
  return static_cast<std::size_t>(count);
}

// How the counted bytes divide into the parts' time steps.
struct Shares {
  std::vector<std::uint64_t> bounds;  // part j counts bytes [bounds[j], bounds[j + 1])
  std::vector<std::uint64_t> feeds;   // the line feeds each part counted
  std::uint64_t steps = 0;            // the complete steps of the file
  // Part j reads steps first[j] .. first[j + 1] - 1.
  std::vector<std::uint64_t> first;
};

bool ends_without_line_feed(int fd, const Shares& shares, FailurePolicy& policy,
                            std::uint64_t line) {
  const std::uint64_t end = shares.bounds.back();
  if (end == shares.bounds.front()) return false;
  char last = '\n';
  return read_at(fd, &last, 1, end - 1, policy, line) == 1 && last != '\n';
}

// Steps of the file's lines: line m (0 for the first lead line) begins after line feed m - 1;
// part j holds the lines its line feeds begin (part 0 the first line too), and reads the steps
// whose lead lines it holds.
void divide_steps(Shares& shares, std::uint64_t lines_per_step, std::uint64_t lines) {
  const std::size_t parts = shares.feeds.size();
  shares.steps = lines / lines_per_step;
  shares.first.assign(parts + 1, shares.steps);
  std::uint64_t first_line = 0;
  for (std::size_t part = 0; part < parts; ++part) {
    const std::uint64_t step = (first_line + lines_per_step - 1) / lines_per_step;
    shares.first[part] = std::min(step, shares.steps);
    first_line += shares.feeds[part] + (part == 0 ? 1 : 0);
  }
}

Shares count_shares(int fd, StepsStart start, std::uint64_t end, std::uint64_t lines_per_step,
                    std::size_t parts, FailurePolicy& policy) {
  Shares shares;
  for (std::size_t part = 0; part <= parts; ++part) {
    shares.bounds.push_back(start.offset + (end - start.offset) * part / parts);
  }
  shares.feeds.assign(parts, 0);
  run_split(parts, parts, [&](std::size_t begin, std::size_t, const std::atomic<bool>&) {
    shares.feeds[begin] =
        count_line_feeds(fd, shares.bounds[begin], shares.bounds[begin + 1], policy, start.line);
  });
  std::uint64_t lines = ends_without_line_feed(fd, shares, policy, start.line) ? 1 : 0;
  for (const std::uint64_t feeds : shares.feeds) lines += feeds;
  divide_steps(shares, lines_per_step, lines);
  return shares;
}

}  // namespace

// The line feeds among bytes [begin, end) of the file.
std::uint64_t count_line_feeds(int fd, std::uint64_t begin, std::uint64_t end,
                               FailurePolicy& policy, std::uint64_t line) {
  std::unique_ptr<char[]> buffer(new char[kCountPiece]);
  ChunkMarks marks(kCountPiece);
  const ChunkScanner scan = chunk_scanner(best_scan_level());
  std::uint64_t feeds = 0;
  for (std::uint64_t offset = begin; offset < end;) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCountPiece, end - offset));
    const std::size_t size = read_at(fd, buffer.get(), wanted, offset, policy, line);
    if (size == 0) break;  // the file has become shorter: its end is found again when read
    scan(buffer.get(), size, marks);
    // Line feeds are sparse (one in some tens of bytes): clearing the lowest bit is cheaper than
    // a population count, which x86-64 without POPCNT makes a library call.
    for (std::size_t word = 0; word * ChunkMarks::kBlockSize < size; ++word) {
      for (std::uint64_t bits = marks.line_feeds()[word]; bits != 0; bits &= bits - 1) ++feeds;
    }
    offset += size;
  }
  return feeds;
}

// The offset just past the `count`-th line feed from `from` (count at least 1).
std::uint64_t after_line_feeds(int fd, std::uint64_t from, std::uint64_t count,
                               FailurePolicy& policy, std::uint64_t line) {
  std::unique_ptr<char[]> buffer(new char[LineSource::kBulkReadSize]);
  for (std::uint64_t offset = from;;) {
    const std::size_t size =
        read_at(fd, buffer.get(), LineSource::kBulkReadSize, offset, policy, line);
    if (size == 0) return offset;  // shorter than counted: the read meets the end and says so
    for (const char* at = buffer.get(); at < buffer.get() + size; ++at) {
      at = static_cast<const char*>(std::memchr(at, '\n', buffer.get() + size - at));
      if (at == nullptr) break;
      if (--count == 0) return offset + static_cast<std::uint64_t>(at - buffer.get()) + 1;
    }
    offset += size;
  }
}

// The width the first time step tells; a file without one fails as a read in one go fails.
std::uint64_t width_of_first_step(int fd, StepsStart start, std::uint64_t parameters,
                                  FailurePolicy& policy) {
  LineSource first = LineSource::over_range(fd, start.offset, kToTheEnd, start.line,
                                            best_scan_level(), LineSource::kBulkReadSize);
  std::string_view lead_line;
  std::string_view value_line;
  if (next_line_or_end(first, lead_line, policy) && next_line_or_end(first, value_line, policy)) {
    return width_told_by(first, value_line, parameters, policy);
  }
  LineSource again = LineSource::over_range(fd, start.offset, kToTheEnd, start.line,
                                            best_scan_level(), LineSource::kBulkReadSize);
  PlotData scratch;
  std::optional<std::uint64_t> width;
  read_timestep_blocks(again, parameters, width, scratch, policy);
  return *width;  // not reached: such a file fails
}

void check_steps_to_end(int fd, StepsStart start, std::uint64_t parameters,
                        std::optional<std::uint64_t> n_digits, FailurePolicy& policy) {
  LineSource rest = LineSource::over_range(fd, start.offset, kToTheEnd, start.line,
                                           best_scan_level(), LineSource::kBulkReadSize);
  PlotData scratch;
  scratch.parameters = parameters;
  read_timestep_blocks(rest, parameters, n_digits, scratch, policy);
}

void read_steps_split(int fd, StepsStart start, std::uint64_t parameters, std::uint64_t n_digits,
                      std::size_t parts, PlotData& data, FailurePolicy& policy) {
  parts = std::max<std::size_t>(parts, 1);
  struct stat status;
  if (::fstat(fd, &status) != 0) fail_to_read(policy, start.line, errno);
  const std::uint64_t end =
      std::max<std::uint64_t>(static_cast<std::uint64_t>(status.st_size), start.offset);
  if (parts > 1 && read_steps_guessed(fd, start, end, parameters, n_digits, parts, data, policy)) {
    return;
  }
  const std::uint64_t lines_per_step = value_lines_per_step(parameters) + 1;
  const Shares shares = count_shares(fd, start, end, lines_per_step, parts, policy);
  const auto width = static_cast<std::size_t>(parameters);
  if (shares.steps > std::numeric_limits<std::size_t>::max() / sizeof(float) / width) {
    throw std::bad_alloc();
  }
  float* const rows = data.values.append_unfilled(static_cast<std::size_t>(shares.steps) * width);
  const FastFieldConverter convert_fast(static_cast<std::size_t>(n_digits));
  std::vector<std::uint64_t> ends(parts, start.offset);  // where each part's last step ends
  run_split(parts, parts, [&](std::size_t part, std::size_t, const std::atomic<bool>& stop) {
    const std::uint64_t first = shares.first[part];
    const std::uint64_t count = shares.first[part + 1] - first;
    if (count == 0) return;
    const std::uint64_t first_line = first * lines_per_step;
    std::uint64_t offset = start.offset;
    if (first_line > 0) {
      // The part's first lead line begins after its (first_line - lines before it)-th feed.
      std::uint64_t lines_before = 1;
      for (std::size_t earlier = 0; earlier < part; ++earlier)
        lines_before += shares.feeds[earlier];
      offset = after_line_feeds(fd, shares.bounds[part], first_line - lines_before + 1, policy,
                                start.line + first_line);
    }
    const auto begin = static_cast<std::size_t>(first);
    const auto end = static_cast<std::size_t>(first + count);
    data.values.make_present(begin * width, end * width);
    LineSource source = LineSource::over_range(fd, offset, kToTheEnd, start.line + first_line,
                                               best_scan_level(), LineSource::kBulkReadSize);
    read_steps(source, parameters, n_digits, convert_fast, end - begin, rows + begin * width,
               policy, stop);
    ends[part] = source.offset();
  });
  // What follows the last complete step fails as it fails a read in one go: a step the file
  // ends inside, or a fault before that end.
  std::uint64_t tail = start.offset;
  for (std::size_t part = 0; part < parts; ++part) {
    if (shares.first[part + 1] > shares.first[part]) tail = ends[part];
  }
  check_steps_to_end(fd, {.offset = tail, .line = start.line + shares.steps * lines_per_step},
                     parameters, n_digits, policy);
}

}  // namespace tarnex
