#include "vormant/arrow_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

namespace tarnex::vormant {
namespace {

// Every column starts on a 64-byte boundary, the alignment Arrow recommends for its buffers.
constexpr std::size_t kColumnAlignment = 64;
constexpr std::size_t kFloatsPerAlignment = kColumnAlignment / sizeof(float);
// Rows and columns are transposed a tile at a time, so reads and writes both stay in cache.
constexpr std::size_t kTile = 32;

constexpr const char* kOutOfMemory = "out of memory for the next record batch";

// The columns of one batch, one after another, each `stride` floats apart.
class ColumnBlock {
 public:
  ColumnBlock(std::size_t columns, std::size_t stride)
      : stride_(stride),
        data_(static_cast<float*>(::operator new(columns * stride * sizeof(float),
                                                 std::align_val_t{kColumnAlignment}))) {}
  ColumnBlock(const ColumnBlock&) = delete;
  ColumnBlock& operator=(const ColumnBlock&) = delete;
  ~ColumnBlock() { ::operator delete(data_, std::align_val_t{kColumnAlignment}); }

  float* column(std::size_t index) const noexcept { return data_ + index * stride_; }

 private:
  std::size_t stride_;
  float* data_;
};

struct ColumnHolder {
  std::shared_ptr<const ColumnBlock> block;
  const void* buffers[2];  // no validity bitmap: no value is null
};

struct BatchHolder {
  explicit BatchHolder(std::size_t columns) : columns(columns) {}

  const void* buffers[1] = {nullptr};
  ChildNodes<ArrowArray> columns;
};

// Copies `count` rows of `parameters` values into columns of `block`.
void transpose(const float* rows, std::size_t parameters, std::size_t count,
               const ColumnBlock& block) noexcept {
  for (std::size_t row0 = 0; row0 < count; row0 += kTile) {
    const std::size_t row_end = std::min(row0 + kTile, count);
    for (std::size_t column0 = 0; column0 < parameters; column0 += kTile) {
      const std::size_t column_end = std::min(column0 + kTile, parameters);
      for (std::size_t column = column0; column < column_end; ++column) {
        float* target = block.column(column);
        for (std::size_t row = row0; row < row_end; ++row) {
          target[row] = rows[row * parameters + column];
        }
      }
    }
  }
}

void export_column(const std::shared_ptr<const ColumnBlock>& block, std::size_t index,
                   std::int64_t length, ArrowArray& out) {
  auto holder = std::make_unique<ColumnHolder>(ColumnHolder{block, {nullptr, nullptr}});
  holder->buffers[1] = block->column(index);
  out = ArrowArray{
      .length = length,
      .null_count = 0,
      .offset = 0,
      .n_buffers = 2,
      .n_children = 0,
      .buffers = holder->buffers,
      .children = nullptr,
      .dictionary = nullptr,
      .release = &release_holder<ColumnHolder, ArrowArray>,
      .private_data = holder.release(),
  };
}

// The batch of rows `first` to `first + count - 1` (count at least 1), as a struct array.
void export_batch(const RowBlock& rows, std::size_t first, std::size_t count, ArrowArray& out) {
  const std::size_t stride = (count + kFloatsPerAlignment - 1) / kFloatsPerAlignment *
                             kFloatsPerAlignment;
  std::shared_ptr<const ColumnBlock> block =
      std::make_shared<ColumnBlock>(rows.parameters, stride);
  transpose(rows.values + first * rows.parameters, rows.parameters, count, *block);
  auto holder = std::make_unique<BatchHolder>(rows.parameters);
  const auto length = static_cast<std::int64_t>(count);
  for (std::size_t column = 0; column < rows.parameters; ++column) {
    export_column(block, column, length, holder->columns[column]);
  }
  out = ArrowArray{
      .length = length,
      .null_count = 0,
      .offset = 0,
      .n_buffers = 1,
      .n_children = holder->columns.count(),
      .buffers = holder->buffers,
      .children = holder->columns.pointers(),
      .dictionary = nullptr,
      .release = &release_holder<BatchHolder, ArrowArray>,
      .private_data = holder.release(),
  };
}

struct StreamHolder {
  RowBlock rows;
  ColumnLayout layout;
  std::size_t next_step = 0;
  const char* last_error = nullptr;
};

StreamHolder& holder_of(ArrowArrayStream* stream) noexcept {
  return *static_cast<StreamHolder*>(stream->private_data);
}

// Runs `body`: 0, or ENOMEM with the stream's last error (allocations are all that throw).
template <class Body>
int attempt(StreamHolder& holder, Body&& body) noexcept {
  try {
    body();
    holder.last_error = nullptr;
    return 0;
  } catch (...) {
    holder.last_error = kOutOfMemory;
    return ENOMEM;
  }
}

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  StreamHolder& holder = holder_of(stream);
  return attempt(holder, [&] { export_schema(holder.layout, *out); });
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  StreamHolder& holder = holder_of(stream);
  const RowBlock& rows = holder.rows;
  if (holder.next_step == rows.steps) {
    *out = ArrowArray{};  // released: the end of the stream
    return 0;
  }
  const std::size_t count =
      std::min(batch_steps(rows.parameters), rows.steps - holder.next_step);
  return attempt(holder, [&] {
    export_batch(rows, holder.next_step, count, *out);
    holder.next_step += count;
  });
}

const char* get_last_error(ArrowArrayStream* stream) noexcept {
  return holder_of(stream).last_error;
}

}  // namespace

std::size_t batch_steps(std::size_t parameters) noexcept {
  return std::clamp<std::size_t>(kMaxBatchBytes / (parameters * sizeof(float)), 1,
                                 kMaxBatchSteps);
}

void export_stream(RowBlock rows, ColumnLayout layout, ArrowArrayStream& out) {
  auto holder = std::make_unique<StreamHolder>(StreamHolder{std::move(rows), std::move(layout)});
  out = ArrowArrayStream{
      .get_schema = &get_schema,
      .get_next = &get_next,
      .get_last_error = &get_last_error,
      .release = &release_holder<StreamHolder, ArrowArrayStream>,
      .private_data = holder.release(),
  };
}

}  // namespace tarnex::vormant
