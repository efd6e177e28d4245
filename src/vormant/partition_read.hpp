// Parts of a plot file for readers that split one file among workers: each worker counts the
// line feeds of a byte range, and the counts, added up in order, tell every range which time
// steps begin in it. Nothing here guesses where a step starts from what its lines hold.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vormant/load_plot.hpp"
#include "vormant/partition_plan.hpp"

namespace tarnex::vormant {

// The name lines and the offset of the byte after them, where the first time step starts.
struct FileLayout {
  std::vector<std::string> names;
  std::uint64_t data_start;
};

// Each throws PlotFileFailure for a file that cannot be read or holds a fault in what it reads.
FileLayout read_layout(std::string_view path);
// The byte ranges of `size` bytes from the file's first step to its end, for workers to count.
std::vector<ByteRange> part_ranges(std::string_view path, std::uint64_t size);
LineFeeds count_feeds(std::string_view path, std::uint64_t begin, std::uint64_t end);
// The part's rows: every column, each line checked as a whole read checks it; or the time and
// `columns` (parameter indices 1 to P - 1), only their value lines looked at.
LoadedPlot read_partition(std::string_view path, std::optional<std::uint64_t> n_digits,
                          std::optional<std::span<const std::uint64_t>> columns,
                          const Partition& part);
// The time of step `step`, found as read_partition finds its first step.
float time_of_step(std::string_view path, std::optional<std::uint64_t> n_digits,
                   std::uint64_t begin, std::uint64_t feeds_before, std::uint64_t step);

}  // namespace tarnex::vormant
