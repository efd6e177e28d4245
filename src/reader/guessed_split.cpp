#include "reader/guessed_split.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "reader/guessed_parts.hpp"
#include "reader/step_values.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"

namespace tarnex {
namespace {

// The most steps bytes [begin, end) can hold: each at least its value lines and an empty lead
// line.
std::size_t most_steps(std::uint64_t begin, std::uint64_t end, const StepShape& shape) {
  const std::uint64_t least_step =
      (shape.value_lines - 1) * (shape.full_length + 1) + shape.last_length + 2;
  return static_cast<std::size_t>((end - begin) / least_step + 1);
}

// Moves each part's rows from its guessed first row to its true one, after the rows of the
// parts before it: rows that move up go last part first, rows that move down first part first,
// so that no part's rows are overwritten before they move.
void move_rows(float* rows, std::size_t width, const std::vector<GuessedShare>& shares,
               const std::vector<std::size_t>& steps) {
  std::vector<std::size_t> truth(shares.size());
  for (std::size_t part = 1; part < shares.size(); ++part) {
    truth[part] = truth[part - 1] + steps[part - 1];
  }
  const auto move = [&](std::size_t part) {
    std::memmove(rows + truth[part] * width, rows + shares[part].first_row * width,
                 steps[part] * width * sizeof(float));
  };
  for (std::size_t part = shares.size(); part-- > 0;) {
    if (truth[part] > shares[part].first_row) move(part);
  }
  for (std::size_t part = 0; part < shares.size(); ++part) {
    if (truth[part] < shares[part].first_row) move(part);
  }
}

}  // namespace

bool read_steps_guessed(int fd, StepsStart start, std::uint64_t end, std::uint64_t parameters,
                        std::uint64_t n_digits, std::size_t parts, PlotData& data,
                        FailurePolicy& policy) {
  const StepShape shape = StepShape::of(parameters, n_digits);
  const std::optional<std::vector<GuessedShare>> shares =
      guess_shares(fd, start, end, shape, parts);
  if (!shares) return false;
  const auto width = static_cast<std::size_t>(parameters);
  const std::size_t room = shares->back().first_row + most_steps(shares->back().begin, end, shape);
  if (room > std::numeric_limits<std::size_t>::max() / sizeof(float) / width) return false;
  float* const rows = data.values.append_unfilled(room * width);
  const std::uint64_t lines_per_step = shape.value_lines + 1;
  const FastFieldConverter convert_fast(static_cast<std::size_t>(n_digits));
  const auto read_part = [&](const GuessedPart& part) {
    const bool last = part.index + 1 == parts;
    // A part's rows reach up to the next part's first row: more steps mean a wrong guess.
    const std::size_t most =
        (last ? room : (*shares)[part.index + 1].first_row) - part.share.first_row;
    const std::size_t expected = std::min<std::size_t>(
        most,
        static_cast<std::size_t>((part.stop_at - part.share.begin) / part.share.step_bytes + 1));
    data.values.make_present(part.share.first_row * width,
                             (part.share.first_row + expected) * width);
    LineSource source = LineSource::over_range(fd, part.share.begin, part.stop_at, part.first_line,
                                               best_scan_level(), LineSource::kBulkReadSize);
    StepValues values(parameters, n_digits, convert_fast);
    const std::size_t steps = read_steps_to_end(
        source, values, most,
        [&](std::size_t step, std::size_t) { return rows + (part.share.first_row + step) * width; },
        part.policy, part.stop);
    return PartRead{steps, source.offset() == part.stop_at};
  };
  const std::optional<std::vector<std::size_t>> steps =
      run_guessed_parts(*shares, end, start, lines_per_step, policy, read_part);
  if (!steps) {
    data.values.drop_back(room * width);
    return false;
  }
  move_rows(rows, width, *shares, *steps);
  std::size_t total = 0;
  for (const std::size_t part_steps : *steps) total += part_steps;
  data.values.drop_back((room - total) * width);
  data.values.shrink_to_fit();
  // What the file has gained since the read began fails as it fails a read in one go.
  struct stat status;
  if (::fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) > end) {
    check_steps_to_end(fd, {.offset = end, .line = start.line + total * lines_per_step}, parameters,
                       n_digits, policy);
  }
  return true;
}

}  // namespace tarnex
