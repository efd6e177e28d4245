// The envelope of chosen steps and parameters of an open plot file, read a bounded piece at a
// time so that its memory is of the order of the envelope, whatever the size of the file.
#pragma once

#include <cstddef>

#include "reader/column_plan.hpp"
#include "reader/range_reader.hpp"
#include "vormant/envelope_fold.hpp"
#include "vormant/open_plot.hpp"

namespace tarnex::vormant {

// A piece read holds about this many values (4 MiB of float32), however many columns.
inline constexpr std::size_t kEnvelopePieceValues = std::size_t{1} << 20;

// The steps cut into min(buckets, steps.count) groups (buckets at least 1); each piece read by
// `threads` threads (0 chooses). The plan takes the time and at least one parameter.
Envelope envelope_of(const OpenPlot& plot, const StepSelection& steps, const ColumnPlan& plan,
                     std::size_t buckets, std::size_t threads);

}  // namespace tarnex::vormant
