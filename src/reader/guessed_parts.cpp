#include "reader/guessed_parts.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <string_view>

#include "reader/thread_split.hpp"
#include "text/positioned_read.hpp"

namespace tarnex {
namespace {

// A guess looks at this many whole steps, in at least this many bytes and at most the last.
constexpr std::size_t kGuessSteps = 3;
constexpr std::size_t kLeastWindow = std::size_t{16} << 10;
constexpr std::size_t kMostWindow = std::size_t{16} << 20;

// A part's bytes end inside a time step: its guess, or the next part's, was wrong.
struct GuessMissed {};

// Passes every failure on but the end of the part's bytes inside a step, which is no failure of
// the file until a read from the file's start finds it so.
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

// How a part's read went.
struct Outcome {
  PartRead read{0, false};
  std::exception_ptr failure;
};

// The first step the line lengths put at or after `from`, which is a line's start when
// `line_start`; none when they put none there or more than one.
std::optional<GuessedShare> guess_at(int fd, std::uint64_t from, bool line_start,
                                     const StepShape& shape) {
  const std::size_t step_estimate = shape.value_lines * (shape.full_length + 2) + 256;
  const std::size_t window =
      std::max(kLeastWindow, (kGuessSteps + 1) * std::min(step_estimate, kMostWindow / 8));
  const std::uint64_t at = line_start ? from : from - 1;
  std::vector<char> bytes(window);
  const ssize_t count = read_at(fd, bytes.data(), window, at, window);
  if (count <= 0) return std::nullopt;
  const std::string_view text(bytes.data(), static_cast<std::size_t>(count));
  std::size_t skip = 0;
  if (!line_start) {
    skip = text.find('\n');
    if (skip == std::string_view::npos) return std::nullopt;
    ++skip;
  }
  const std::optional<StepGuess> guess = guess_step_start(text.substr(skip), shape, kGuessSteps);
  if (!guess) return std::nullopt;
  return GuessedShare{at + skip + guess->offset, 0, guess->step_bytes};
}

}  // namespace

// A step's row is guessed from the bytes before it and the shorter of the first step and its
// own: exact where the steps have one length, too high rather than too low where they grow.
std::optional<std::vector<GuessedShare>> guess_shares(int fd, StepsStart start, std::uint64_t end,
                                                      const StepShape& shape, std::size_t parts) {
  const std::optional<GuessedShare> first = guess_at(fd, start.offset, true, shape);
  if (!first || first->begin != start.offset) return std::nullopt;
  std::vector<GuessedShare> shares{*first};
  for (std::size_t part = 1; part < parts; ++part) {
    const std::uint64_t bound = start.offset + (end - start.offset) * part / parts;
    std::optional<GuessedShare> share = guess_at(fd, bound, false, shape);
    if (!share || share->begin <= shares.back().begin || share->begin >= end) return std::nullopt;
    share->first_row = static_cast<std::size_t>((share->begin - start.offset) /
                                                std::min(first->step_bytes, share->step_bytes));
    if (share->first_row <= shares.back().first_row) return std::nullopt;
    shares.push_back(*share);
  }
  return shares;
}

std::optional<std::vector<std::size_t>> run_guessed_parts(
    const std::vector<GuessedShare>& shares, std::uint64_t end, StepsStart start,
    std::uint64_t lines_per_step, FailurePolicy& policy,
    const std::function<PartRead(const GuessedPart&)>& read_part) {
  const std::size_t parts = shares.size();
  std::vector<Outcome> outcomes(parts);
  const std::unique_ptr<std::atomic<bool>[]> stops(new std::atomic<bool>[parts]());
  const auto stop_from = [&](std::size_t part) {
    for (; part < parts; ++part) stops[part].store(true, std::memory_order_relaxed);
  };
  run_split(parts, parts, [&](std::size_t part, std::size_t, const std::atomic<bool>&) {
    const GuessedShare& share = shares[part];
    MissAtPartEnd part_policy(policy);
    Outcome& outcome = outcomes[part];
    try {
      outcome.read = read_part({.index = part,
                                .share = share,
                                .stop_at = part + 1 < parts ? shares[part + 1].begin : end,
                                .first_line = start.line + share.first_row * lines_per_step,
                                .policy = part_policy,
                                .stop = stops[part]});
      if (!outcome.read.ended) stop_from(0);
    } catch (const GuessMissed&) {
      stop_from(0);
    } catch (...) {
      outcome.failure = std::current_exception();
      stop_from(part + 1);
    }
  });
  // Each part's guess holds once the parts before it ended where it began; a failure counts
  // where its part's lines were numbered right.
  std::vector<std::size_t> steps;
  std::size_t row = 0;
  for (std::size_t part = 0; part < parts; ++part) {
    const Outcome& outcome = outcomes[part];
    if (outcome.failure && row == shares[part].first_row) std::rethrow_exception(outcome.failure);
    if (outcome.failure || !outcome.read.ended) return std::nullopt;
    steps.push_back(outcome.read.steps);
    row += outcome.read.steps;
  }
  return steps;
}

}  // namespace tarnex
