// A read of a whole plot file shared by threads without counting its line feeds first: each
// thread guesses where the first time step after the start of its share begins, from the
// lengths of the lines there, and reads from it up to where the next thread began. A guess
// holds when the thread before ends exactly there; the rows a thread guessed for its steps hold
// when the threads before read as many steps as it guessed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "reader/read_failure.hpp"
#include "reader/split_read.hpp"
#include "reader/step_guess.hpp"

namespace tarnex {

// Where a part begins: the lead line it guessed, the row guessed for that step (the number of
// steps before it), and the step's length.
struct GuessedShare {
  std::uint64_t begin;
  std::size_t first_row;
  std::size_t step_bytes;
};

// The parts' guessed beginnings for a read of bytes [start.offset, end) by `parts` threads;
// none where a part's beginning cannot be guessed.
std::optional<std::vector<GuessedShare>> guess_shares(int fd, StepsStart start, std::uint64_t end,
                                                      const StepShape& shape, std::size_t parts);

// What a part is to read: its share, bytes up to `stop_at` (where the next part began, or the
// end), its lines numbered from `first_line`. Failures go to `policy`; a part whose bytes end
// inside a step there meets a wrong guess, which `policy` turns into an exception of its own.
struct GuessedPart {
  std::size_t index;
  const GuessedShare& share;
  std::uint64_t stop_at;
  std::uint64_t first_line;
  FailurePolicy& policy;
  const std::atomic<bool>& stop;
};

// What a part read: its steps, and whether it ended exactly at stop_at.
struct PartRead {
  std::size_t steps;
  bool ended;
};

// Runs read_part for every share, each on a thread of its own, and gives the steps each read
// when every guess held. The first failure of the file is rethrown where the part that met it
// numbered its lines right; none is returned when a guess failed or a failure cannot be told
// for sure, and the caller reads the file another way.
std::optional<std::vector<std::size_t>> run_guessed_parts(
    const std::vector<GuessedShare>& shares, std::uint64_t end, StepsStart start,
    std::uint64_t lines_per_step, FailurePolicy& policy,
    const std::function<PartRead(const GuessedPart&)>& read_part);

}  // namespace tarnex
