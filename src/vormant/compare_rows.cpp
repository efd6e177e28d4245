#include "vormant/compare_rows.hpp"

#include <cmath>
#include <limits>

#include "vormant/compare_row.hpp"

namespace tarnex::vormant {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Whether `challenger` is further out than the worst so far: by score, then by relative and
// absolute difference, which tell values apart that a zero tolerance scores alike.
bool worse(const Deviation& challenger, const Deviation& worst) noexcept {
  if (challenger.score != worst.score) return challenger.score > worst.score;
  if (challenger.rel != worst.rel) return challenger.rel > worst.rel;
  return challenger.abs > worst.abs;
}

}  // namespace

Deviation deviation(double reference, double candidate, const ColumnRule& rule) noexcept {
  const bool both_nan = std::isnan(reference) && std::isnan(candidate);
  if (both_nan || reference == candidate) return Deviation{0.0, 0.0, 0.0, false};
  // A NaN against a number, or an infinity against anything but itself.
  if (!std::isfinite(reference) || !std::isfinite(candidate)) {
    return Deviation{kInfinity, kInfinity, kInfinity, true};
  }
  const double abs = std::fabs(candidate - reference);
  const double magnitude = std::fabs(reference);
  const double allowed = rule.atol + rule.rtol * magnitude;
  const double rel = magnitude == 0.0 ? kInfinity : abs / magnitude;
  const double score = allowed == 0.0 ? kInfinity : abs / allowed;
  return Deviation{abs, rel, score, abs > allowed};
}

void record(ColumnTally& tally, const Deviation& found, std::int64_t row) noexcept {
  if (found.abs == 0.0) return;
  if (found.abs > tally.max_abs) tally.max_abs = found.abs;
  if (found.rel > tally.max_rel) tally.max_rel = found.rel;
  if (found.beyond) {
    ++tally.failures;
    if (tally.first_row < 0) tally.first_row = row;
  }
  if (tally.worst_row < 0 || worse(found, tally.worst)) {
    tally.worst = found;
    tally.worst_row = row;
  }
}

float difference(double reference, double candidate, const Deviation& found) noexcept {
  return found.abs == 0.0 ? 0.0f : static_cast<float>(candidate - reference);
}

PieceProgress compare_steps(FloatRows reference, FloatRows candidate, std::size_t first,
                            std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                            DifferenceRows out) noexcept {
  PieceProgress progress;
  const std::size_t left = reference.rows > first ? reference.rows - first : 0;
  progress.consumed = left < candidate.rows ? left : candidate.rows;
  for (std::size_t step = 0; step < progress.consumed; ++step) {
    const std::size_t row = first + step;
    float* written = out.data == nullptr ? nullptr : out.data + step * (rules.size() + 1);
    if (written != nullptr) written[0] = reference.at(row, 0);
    compare_row(reference, row, candidate.data + step * candidate.width, rules, tallies, written);
  }
  return progress;
}

}  // namespace tarnex::vormant
