#include "vormant/plot_envelope.hpp"

#include <algorithm>

namespace tarnex::vormant {

Envelope envelope_of(const OpenPlot& plot, const StepSelection& steps, const ColumnPlan& plan,
                     std::size_t buckets, std::size_t threads) {
  const std::size_t rows = steps.count;
  const std::size_t groups = std::min(buckets, rows);
  const std::size_t width = plan.row_width();
  EnvelopeFold fold(rows, groups, width - 1);
  Envelope& envelope = fold.result();
  envelope.start.resize(groups);
  for (std::size_t group = 0; group < groups; ++group) {
    envelope.start[group] = static_cast<std::int64_t>(steps.step(group_begin(group, rows, groups)));
  }
  const std::size_t piece = std::max<std::size_t>(1, kEnvelopePieceValues / width);
  for (std::size_t row = 0; row < rows; row += piece) {
    const std::size_t count = std::min(piece, rows - row);
    const PlotData data = plot.read({steps.step(row), steps.stride, count}, plan, threads);
    fold.fold(row, data.values.data(), count);
  }
  return std::move(envelope);
}

}  // namespace tarnex::vormant
