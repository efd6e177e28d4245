// One reference row against the candidate's values at the same step or time: the inner loop
// both alignments share.
#pragma once

#include <span>

#include "vormant/compare_rows.hpp"

namespace tarnex::vormant {

// Adds `found`, seen at reference row `row`, to `tally`; equal values leave it as it is.
void record(ColumnTally& tally, const Deviation& found, std::int64_t row) noexcept;

// Candidate minus reference as written for plotting: 0 where the values count as equal.
float difference(double reference, double candidate, const Deviation& found) noexcept;

// `candidate` yields the candidate's value of a column of its piece (binary64).
template <class Candidate>
inline void compare_row_with(FloatRows reference, std::size_t row, Candidate&& candidate,
                             std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                             float* written) noexcept {
  for (std::size_t k = 0; k < rules.size(); ++k) {
    const double r = reference.at(row, rules[k].reference);
    const double c = candidate(rules[k].candidate);
    const Deviation found = deviation(r, c, rules[k]);
    record(tallies[k], found, static_cast<std::int64_t>(row));
    if (written != nullptr) written[k + 1] = difference(r, c, found);
  }
}

// Against a candidate row of float32 values.
inline void compare_row(FloatRows reference, std::size_t row, const float* candidate_row,
                        std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                        float* written) noexcept {
  compare_row_with(
      reference, row, [&](std::size_t column) { return double{candidate_row[column]}; }, rules,
      tallies, written);
}

}  // namespace tarnex::vormant
