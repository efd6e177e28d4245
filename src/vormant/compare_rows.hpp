// The arithmetic of comparing two runs: each candidate value against its reference value in
// binary64, a tally per parameter, over one piece of both files at a time. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnex::vormant {

// Rows of float32 values, `width` to a row, one after another.
struct FloatRows {
  const float* data;
  std::size_t rows;
  std::size_t width;

  float at(std::size_t row, std::size_t column) const noexcept {
    return data[row * width + column];
  }
};

// One compared parameter: its columns in the two pieces and its tolerance.
struct ColumnRule {
  std::size_t reference;
  std::size_t candidate;
  double rtol;
  double atol;
};

// How far a candidate value lies from its reference value.
struct Deviation {
  double abs;    // |c - r|; infinite for a NaN against a number or unlike infinities
  double rel;    // |c - r| / |r|; infinite where r is 0 and c is not
  double score;  // |c - r| / (atol + rtol * |r|): beyond tolerance above 1
  bool beyond;
};

// What one parameter's values showed so far. Rows count from the start of the reference piece;
// -1 while there is none.
struct ColumnTally {
  double max_abs = 0.0;
  double max_rel = 0.0;
  std::uint64_t failures = 0;
  std::int64_t first_row = -1;
  std::int64_t worst_row = -1;
  Deviation worst{0.0, 0.0, 0.0, false};
};

Deviation deviation(double reference, double candidate, const ColumnRule& rule) noexcept;

// Where a comparison of pieces stopped: the reference rows it went through (compared or
// uncovered), and a time that is NaN or goes back (its row, or -1), which ends it early.
struct PieceProgress {
  std::size_t consumed = 0;
  std::size_t uncovered = 0;
  std::int64_t reference_back = -1;
  std::int64_t candidate_back = -1;
};

// Candidate minus reference of the compared rows, with the reference's time first; `data` null
// when not wanted.
struct DifferenceRows {
  float* data;
  std::size_t rows;
};

// Row i of the reference from `first` on against row i - first of the candidate.
PieceProgress compare_steps(FloatRows reference, FloatRows candidate, std::size_t first,
                            std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                            DifferenceRows out) noexcept;

// Each reference row from `first` on against the candidate interpolated at its time (column 0
// of both). Stops at a reference time the candidate piece does not reach unless it is the
// candidate's last (`final`): the next piece, starting at this one's last row, goes on.
PieceProgress compare_times(FloatRows reference, FloatRows candidate, std::size_t first, bool final,
                            std::span<const ColumnRule> rules, std::span<ColumnTally> tallies,
                            DifferenceRows out) noexcept;

}  // namespace tarnex::vormant
