#include "reader/split_selection.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/guessed_parts.hpp"
#include "reader/streaming_read.hpp"

namespace tarnex {
namespace {

// One part's read: its index and the rows its selection converted.
struct Piece {
  Piece(std::uint64_t parameters, const GuessedPart& part, int fd, std::uint64_t n_digits,
        const FastFieldConverter& convert_fast, const ColumnPlan& plan, FailurePolicy& policy)
      : index(parameters, part.share.begin, part.first_line),
        file{fd, index, parameters, n_digits, convert_fast},
        selection(file, plan, data, policy) {}

  BlockIndex index;
  IndexedFile file;
  PlotData data;
  StreamingSelection selection;
};

}  // namespace

bool read_selection_guessed(int fd, StepsStart start, std::uint64_t parameters,
                            std::uint64_t n_digits, const ColumnPlan& plan, std::size_t parts,
                            PlotData& data, FailurePolicy& policy) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) <= start.offset) {
    return false;  // what is wrong, the read on one thread meets
  }
  const auto end = static_cast<std::uint64_t>(status.st_size);
  const StepShape shape = StepShape::of(parameters, n_digits);
  const std::optional<std::vector<GuessedShare>> shares =
      guess_shares(fd, start, end, shape, parts);
  if (!shares) return false;
  const FastFieldConverter convert_fast(static_cast<std::size_t>(n_digits));
  std::vector<std::unique_ptr<Piece>> pieces(parts);
  const auto read_part = [&](const GuessedPart& part) {
    // Failures go to the file's own policy: a part's index ends where the next part began as a
    // growing file's does, so its bytes never end inside a step; the last reads to the end.
    pieces[part.index] =
        std::make_unique<Piece>(parameters, part, fd, n_digits, convert_fast, plan, policy);
    Piece& piece = *pieces[part.index];
    const bool last = part.index + 1 == parts;
    try {
      piece.index.extend(fd, !last, policy, best_scan_level(), &piece.selection, SIZE_MAX, {},
                         last ? UINT64_MAX : part.stop_at);
    } catch (...) {
      // A read that failed: the read on one thread tells how, after the faults before it.
      return PartRead{0, false};
    }
    const bool ended =
        !piece.index.has_partial_block() && (last || piece.index.complete_end() == part.stop_at);
    return PartRead{piece.index.steps(), ended};
  };
  const std::optional<std::vector<std::size_t>> steps =
      run_guessed_parts(*shares, end, start, shape.value_lines + 1, policy, read_part);
  if (!steps) return false;
  // A failure a part holds names its lines right only where the part's rows were guessed right.
  std::size_t rows = 0;
  for (std::size_t part = 0; part < parts; ++part) {
    if ((*shares)[part].first_row != rows) return false;
    rows += (*steps)[part];
  }
  for (const std::unique_ptr<Piece>& piece : pieces) piece->selection.finish();
  const std::size_t width = plan.row_width();
  data.parameters = width;
  float* out = data.values.append(rows * width);
  for (const std::unique_ptr<Piece>& piece : pieces) {
    out = std::copy_n(piece->data.values.data(), piece->data.values.size(), out);
  }
  return true;
}

}  // namespace tarnex
