#include <cmath>

#include "vormant/compare_row.hpp"
#include "vormant/compare_rows.hpp"

namespace tarnex::vormant {
namespace {

// Whether the time of `row` breaks the order a walk in time needs: it is NaN, or below the time
// of the row before. A NaN is blamed on its own row, never on the row after it.
bool out_of_order(FloatRows rows, std::size_t row) noexcept {
  const float time = rows.at(row, 0);
  return std::isnan(time) || (row > 0 && time < rows.at(row - 1, 0));
}

// The first row of the candidate whose time is out of order, or -1.
std::int64_t candidate_goes_back(FloatRows candidate) noexcept {
  for (std::size_t row = 0; row < candidate.rows; ++row) {
    if (out_of_order(candidate, row)) return static_cast<std::int64_t>(row);
  }
  return -1;
}

// The candidate's value of `column` at `time`, which lies from the time of row `below` to
// (excluded) that of the next: linear between the two.
double interpolated(FloatRows candidate, std::size_t below, double time,
                    std::size_t column) noexcept {
  const double t0 = candidate.at(below, 0);
  const double v0 = candidate.at(below, column);
  if (time == t0) return v0;
  const double t1 = candidate.at(below + 1, 0);
  const double v1 = candidate.at(below + 1, column);
  if (v0 == v1) return v0;  // also keeps an infinity held over the interval
  return v0 + (v1 - v0) * ((time - t0) / (t1 - t0));
}

enum class Place { Before, Within, Beyond, Later };

// Where `time` lies against the candidate piece; Later: the next piece may hold it, or a later
// step at the same time, which is the one to take.
Place place_of(double time, FloatRows candidate, bool final) noexcept {
  if (candidate.rows == 0) return final ? Place::Beyond : Place::Later;
  const double last = candidate.at(candidate.rows - 1, 0);
  if (time < candidate.at(0, 0)) return Place::Before;
  if (time < last) return Place::Within;
  if (!final) return Place::Later;
  return time == last ? Place::Within : Place::Beyond;
}

}  // namespace

PieceProgress compare_times(FloatRows reference, FloatRows candidate, std::size_t first, bool final,
                            std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                            DifferenceRows out) noexcept {
  PieceProgress progress;
  progress.candidate_back = candidate_goes_back(candidate);
  if (progress.candidate_back >= 0) return progress;
  std::size_t below = 0;
  std::size_t written_rows = 0;
  std::size_t row = first;
  for (; row < reference.rows; ++row) {
    const double time = reference.at(row, 0);
    if (out_of_order(reference, row)) {
      progress.reference_back = static_cast<std::int64_t>(row);
      break;
    }
    const Place place = place_of(time, candidate, final);
    if (place == Place::Later) break;
    if (place != Place::Within) {
      ++progress.uncovered;
      continue;
    }
    while (below + 1 < candidate.rows && candidate.at(below + 1, 0) <= time) ++below;
    float* written = out.data == nullptr ? nullptr : out.data + written_rows++ * (rules.size() + 1);
    if (written != nullptr) written[0] = static_cast<float>(time);
    compare_row_with(
        reference, row,
        [&](std::size_t column) { return interpolated(candidate, below, time, column); }, rules,
        tallies, written);
  }
  progress.consumed = row - first;
  return progress;
}

}  // namespace tarnex::vormant
