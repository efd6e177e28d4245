// A plot's values as an Arrow stream of record batches. The values are stored a row per time
// step and Arrow stores by column, so each batch is a transposed copy of a run of rows, its
// columns in one block of its own that lives until the batch's last column is released.
#pragma once

#include <cstddef>
#include <memory>

#include "vormant/arrow_abi.hpp"
#include "vormant/arrow_schema.hpp"

namespace tarnex::vormant {

// Row-major float32 values, `parameters` to a row, kept valid by `owner` until the stream that
// reads them is released; the owner's deleter may run on any thread.
struct RowBlock {
  const float* values;
  std::size_t steps;
  std::size_t parameters;
  std::shared_ptr<const void> owner;
};

// The most time steps in one batch, and the most bytes of values: a wide plot gets shorter
// batches, so that a batch's block stays a modest allocation.
inline constexpr std::size_t kMaxBatchSteps = 64 * 1024;
inline constexpr std::size_t kMaxBatchBytes = 16 * 1024 * 1024;

// Time steps per batch for `parameters` columns: at least one.
std::size_t batch_steps(std::size_t parameters) noexcept;

// Fills `out` with a stream of `rows` in batches, a column per name of `layout` (as many names
// as rows have parameters). The stream reads the rows as it goes, each batch when it is asked
// for. Throws std::bad_alloc, with `out` untouched.
void export_stream(RowBlock rows, ColumnLayout layout, ArrowArrayStream& out);

}  // namespace tarnex::vormant
