#include "vormant/partition_plan.hpp"

#include <algorithm>
#include <string>

#include "reader/block_index.hpp"
#include "vormant/argument_fault.hpp"

namespace tarnex::vormant {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw ArgumentFault{.kind = ArgumentFault::Kind::Value, .message = std::move(message)};
}

// What no counts of a file's steps can be: no ranges, ranges with gaps or overlaps, empty ranges
// among others, more line feeds than bytes. The last keeps every sum of line feeds below the
// file's size.
void check_ranges(std::span<const CountedRange> ranges) {
  if (ranges.empty()) refuse("a file's steps take at least one byte range");
  for (std::size_t j = 0; j < ranges.size(); ++j) {
    const ByteRange bytes = ranges[j].bytes;
    if (bytes.begin > bytes.end) refuse("range " + std::to_string(j) + " begins after its end");
    if (j > 0 && bytes.begin != ranges[j - 1].bytes.end) {
      refuse("range " + std::to_string(j) + " does not begin where range " + std::to_string(j - 1) +
             " ends");
    }
    if (bytes.begin == bytes.end && ranges.size() > 1) {
      refuse("range " + std::to_string(j) + " is empty, and not the only one");
    }
    if (ranges[j].feeds.count > bytes.end - bytes.begin) {
      refuse("range " + std::to_string(j) + " holds more line feeds than bytes");
    }
  }
}

// The line feeds before each range, from the start of the steps, and after the last.
std::vector<std::uint64_t> feeds_before(std::span<const CountedRange> ranges) {
  std::vector<std::uint64_t> before(ranges.size() + 1, 0);
  for (std::size_t j = 0; j < ranges.size(); ++j) before[j + 1] = before[j] + ranges[j].feeds.count;
  return before;
}

// The lines of the steps: one before the first line feed and one after each, but none after a
// line feed that ends the file.
std::uint64_t lines_of(std::span<const CountedRange> ranges, std::uint64_t feeds) {
  if (ranges.back().bytes.end == ranges.front().bytes.begin) return 0;
  return 1 + feeds - (ranges.back().feeds.ends_with_feed ? 1 : 0);
}

}  // namespace

std::vector<ByteRange> byte_ranges(std::uint64_t start, std::uint64_t end, std::uint64_t size) {
  if (size == 0) refuse("a byte range takes at least 1 byte");
  end = std::max(end, start);
  std::vector<ByteRange> ranges;
  std::uint64_t begin = start;
  do {
    const std::uint64_t next = begin + std::min(size, end - begin);
    ranges.push_back({begin, next});
    begin = next;
  } while (begin < end);
  return ranges;
}

// Line m of the steps begins after line feed m - 1: range j holds the lines its line feeds begin
// (range 0 the first line too), and reads the steps whose lead lines it holds.
PartPlan plan_parts(std::span<const CountedRange> ranges, std::uint64_t parameters) {
  if (parameters == 0) refuse("a plot file has at least one parameter, the time");
  check_ranges(ranges);
  const std::uint64_t lines_per_step = value_lines_per_step(parameters) + 1;
  const std::vector<std::uint64_t> before = feeds_before(ranges);
  const std::uint64_t steps = lines_of(ranges, before.back()) / lines_per_step;
  PartPlan plan;
  std::uint64_t first = 0;
  for (std::size_t j = 0; j < ranges.size(); ++j) {
    const std::uint64_t next =
        j + 1 == ranges.size() ? steps
                               : std::min(steps, (before[j + 1] + lines_per_step) / lines_per_step);
    if (next > first) {
      plan.parts.push_back({ranges[j].bytes.begin, before[j], first, next - first, false});
    }
    first = next;
  }
  if (plan.parts.empty()) {
    plan.parts.push_back({ranges.front().bytes.begin, 0, 0, 0, true});
    return plan;
  }
  plan.parts.back().checks_end = true;
  plan.last = plan.parts.back();
  plan.last->first_step = steps - 1;
  plan.last->steps = 1;
  return plan;
}

}  // namespace tarnex::vormant
