// Where the parts of a plot file split among workers lie, from line feeds alone. A time step is a
// lead line and ceil(P / 10) value lines, whatever they hold, so the line feeds each byte range
// holds, added up in order, tell every range which steps' lead lines it holds; nothing here
// reads a byte of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnex::vormant {

// Bytes [begin, end) of a file.
struct ByteRange {
  std::uint64_t begin;
  std::uint64_t end;

  bool operator==(const ByteRange&) const = default;
};

struct LineFeeds {
  std::uint64_t count;
  bool ends_with_feed;  // whether the range's last byte is a line feed (false when it is empty)
};

// A range of the steps and the line feeds a worker counted in it.
struct CountedRange {
  ByteRange bytes;
  LineFeeds feeds;
};

// The time steps of one part: steps first_step .. first_step + steps - 1 of the file, the first
// found after the `feeds_before` line feeds between the start of the steps and `begin`.
struct Partition {
  std::uint64_t begin;
  std::uint64_t feeds_before;
  std::uint64_t first_step;
  std::uint64_t steps;
  bool checks_end;  // the last part: what follows its steps fails as a whole read fails

  bool operator==(const Partition&) const = default;
};

// A file's parts, in order, and a part of its last step alone (for its time); none when the
// file holds no complete step, whose one part of no steps reads what the file ends with.
struct PartPlan {
  std::vector<Partition> parts;
  std::optional<Partition> last;
};

// Ranges of `size` bytes (at least 1) from `start`, where the steps begin, to `end`: at least
// one, empty when the file holds nothing after its header.
std::vector<ByteRange> byte_ranges(std::uint64_t start, std::uint64_t end, std::uint64_t size);

// The parts of a file of `parameters` parameters whose steps the `ranges` cover, one after
// another. Throws ArgumentFault for ranges or counts no file can have.
PartPlan plan_parts(std::span<const CountedRange> ranges, std::uint64_t parameters);

}  // namespace tarnex::vormant
