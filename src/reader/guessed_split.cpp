#include "reader/guessed_split.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/step_guess.hpp"
#include "reader/step_values.hpp"
#include "reader/thread_split.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"
#include "text/positioned_read.hpp"

namespace tarnex {
namespace {

// A guess looks at this many whole steps, in at least this many bytes and at most the last.
constexpr std::size_t kGuessSteps = 3;
constexpr std::size_t kLeastWindow = std::size_t{64} << 10;
constexpr std::size_t kMostWindow = std::size_t{16} << 20;

// A part's bytes end inside a time step: its guess, or the next part's, was wrong.
struct GuessMissed {};

// Passes every failure on but the end of the part's bytes inside a step, which is no failure of
// the file until a read that counts line feeds finds it so.
class MissAtPartEnd final : public FailurePolicy {
 public:
  explicit MissAtPartEnd(FailurePolicy& file) : file_(file) {}
  [[noreturn]] void fail(const ReadFailure& failure, std::source_location where) override {
    if (failure.kind == FailureKind::EndsInsideTimeStep) throw GuessMissed{};
    report_failure(file_, failure, where);
  }

 private:
  FailurePolicy& file_;
};

// Where a part begins: the lead line it guessed, the row guessed for that step, and the step's
// length.
struct Share {
  std::uint64_t begin;
  std::size_t first_row;
  std::size_t step_bytes;
};

// How a part's read went.
struct Outcome {
  std::size_t steps = 0;
  bool ended = false;  // exactly where the next part began
  std::exception_ptr failure;
};

// The first step the line lengths put at or after `from`, which is a line's start when
// `line_start`; none when they put none there or more than one.
std::optional<Share> guess_at(int fd, std::uint64_t from, bool line_start, const StepShape& shape) {
  const std::size_t step_estimate = shape.value_lines * (shape.full_length + 2) + 256;
  const std::size_t window =
      std::max(kLeastWindow, (kGuessSteps + 1) * std::min(step_estimate, kMostWindow / 8));
  const std::uint64_t at = line_start ? from : from - 1;
  std::vector<char> bytes(window);
  const ssize_t count = read_at(fd, bytes.data(), window, at, window);
  if (count <= 0) return std::nullopt;
  std::string_view text(bytes.data(), static_cast<std::size_t>(count));
  std::size_t skip = 0;
  if (!line_start) {
    skip = text.find('\n');
    if (skip == std::string_view::npos) return std::nullopt;
    ++skip;
  }
  const std::optional<StepGuess> guess = guess_step_start(text.substr(skip), shape, kGuessSteps);
  if (!guess) return std::nullopt;
  return Share{at + skip + guess->offset, 0, guess->step_bytes};
}

// The parts' guessed beginnings, or none where a part's cannot be guessed. A step's row is
// guessed from the bytes before it and the shorter of the first step and its own: exact where
// the steps have one length, too high rather than too low where they grow.
std::optional<std::vector<Share>> guess_shares(int fd, StepsStart start, std::uint64_t end,
                                               const StepShape& shape, std::size_t parts) {
  const std::optional<Share> first = guess_at(fd, start.offset, true, shape);
  if (!first || first->begin != start.offset) return std::nullopt;
  std::vector<Share> shares{*first};
  for (std::size_t part = 1; part < parts; ++part) {
    const std::uint64_t bound = start.offset + (end - start.offset) * part / parts;
    std::optional<Share> share = guess_at(fd, bound, false, shape);
    if (!share || share->begin <= shares.back().begin || share->begin >= end) return std::nullopt;
    share->first_row = static_cast<std::size_t>((share->begin - start.offset) /
                                                std::min(first->step_bytes, share->step_bytes));
    if (share->first_row <= shares.back().first_row) return std::nullopt;
    shares.push_back(*share);
  }
  return shares;
}

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
void move_rows(float* rows, std::size_t width, const std::vector<Share>& shares,
               const std::vector<Outcome>& outcomes) {
  std::vector<std::size_t> truth(shares.size());
  for (std::size_t part = 1; part < shares.size(); ++part) {
    truth[part] = truth[part - 1] + outcomes[part - 1].steps;
  }
  const auto move = [&](std::size_t part) {
    std::memmove(rows + truth[part] * width, rows + shares[part].first_row * width,
                 outcomes[part].steps * width * sizeof(float));
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
  const std::optional<std::vector<Share>> shares = guess_shares(fd, start, end, shape, parts);
  if (!shares) return false;
  const auto width = static_cast<std::size_t>(parameters);
  const std::size_t room = shares->back().first_row + most_steps(shares->back().begin, end, shape);
  if (room > std::numeric_limits<std::size_t>::max() / sizeof(float) / width) return false;
  float* const rows = data.values.append_unfilled(room * width);
  const std::uint64_t lines_per_step = shape.value_lines + 1;
  const FastFieldConverter convert_fast(static_cast<std::size_t>(n_digits));
  std::vector<Outcome> outcomes(parts);
  const std::unique_ptr<std::atomic<bool>[]> stops(new std::atomic<bool>[parts]());
  const auto stop_from = [&](std::size_t part) {
    for (; part < parts; ++part) stops[part].store(true, std::memory_order_relaxed);
  };
  run_split(parts, parts, [&](std::size_t part, std::size_t, const std::atomic<bool>&) {
    const Share& share = (*shares)[part];
    const bool last = part + 1 == parts;
    const std::uint64_t stop_at = last ? end : (*shares)[part + 1].begin;
    const std::size_t most = (last ? room : (*shares)[part + 1].first_row) - share.first_row;
    const std::size_t expected = std::min<std::size_t>(
        most, static_cast<std::size_t>((stop_at - share.begin) / share.step_bytes + 1));
    data.values.make_present(share.first_row * width, (share.first_row + expected) * width);
    LineSource source = LineSource::over_range(fd, share.begin, stop_at,
                                               start.line + share.first_row * lines_per_step,
                                               best_scan_level(), LineSource::kBulkReadSize);
    StepValues values(parameters, n_digits, convert_fast);
    MissAtPartEnd part_policy(policy);
    Outcome& outcome = outcomes[part];
    try {
      outcome.steps = read_steps_to_end(
          source, values, most,
          [&](std::size_t step, std::size_t) { return rows + (share.first_row + step) * width; },
          part_policy, stops[part]);
      outcome.ended = source.offset() == stop_at;
      if (!outcome.ended) stop_from(0);
    } catch (const GuessMissed&) {
      stop_from(0);
    } catch (...) {
      outcome.failure = std::current_exception();
      stop_from(part + 1);
    }
  });
  // Each part's guess holds once the parts before it ended where it began; a failure counts
  // where its part's lines were numbered right.
  std::size_t row = 0;
  for (std::size_t part = 0; part < parts; ++part) {
    const Outcome& outcome = outcomes[part];
    if (outcome.failure && row == (*shares)[part].first_row) {
      std::rethrow_exception(outcome.failure);
    }
    if (outcome.failure || !outcome.ended) {
      data.values.drop_back(room * width);
      return false;
    }
    row += outcome.steps;
  }
  move_rows(rows, width, *shares, outcomes);
  data.values.drop_back((room - row) * width);
  data.values.shrink_to_fit();
  check_steps_to_end(fd, {.offset = end, .line = start.line + row * lines_per_step}, parameters,
                     n_digits, policy);
  return true;
}

}  // namespace tarnex
