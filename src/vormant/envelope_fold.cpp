#include "vormant/envelope_fold.hpp"

#include <cmath>
#include <limits>

namespace tarnex::vormant {
namespace {

// A block of `rows` rows of `columns` values, pages present, as PlotData gives one.
float* allocate(PlotData& data, std::size_t rows, std::size_t columns) {
  data.parameters = columns;
  return data.values.append(rows * columns);
}

}  // namespace

std::size_t group_begin(std::size_t group, std::size_t rows, std::size_t groups) noexcept {
  // The product needs twice the bits of a step count.
  return static_cast<std::size_t>(static_cast<unsigned __int128>(group) * rows / groups);
}

EnvelopeFold::EnvelopeFold(std::size_t rows, std::size_t groups, std::size_t columns)
    : rows_(rows), groups_(groups), columns_(columns) {
  time_first_ = allocate(envelope_.time_first, groups, 1);
  time_last_ = allocate(envelope_.time_last, groups, 1);
  first_ = allocate(envelope_.first, groups, columns);
  last_ = allocate(envelope_.last, groups, columns);
  min_ = allocate(envelope_.min, groups, columns);
  max_ = allocate(envelope_.max, groups, columns);
}

void EnvelopeFold::open_group(const float* values) noexcept {
  if (next_begin_ != 0) ++group_;
  next_begin_ = group_ + 1 < groups_ ? group_begin(group_ + 1, rows_, groups_) : rows_;
  time_first_[group_] = values[0];
  const std::size_t at = group_ * columns_;
  constexpr float kNothing = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t column = 0; column < columns_; ++column) {
    first_[at + column] = values[1 + column];
    min_[at + column] = kNothing;
    max_[at + column] = kNothing;
  }
}

void EnvelopeFold::fold(std::size_t row, const float* values, std::size_t count) noexcept {
  const std::size_t width = columns_ + 1;
  for (const std::size_t end = row + count; row < end; ++row, values += width) {
    if (row == next_begin_) open_group(values);
    time_last_[group_] = values[0];
    const std::size_t at = group_ * columns_;
    for (std::size_t column = 0; column < columns_; ++column) {
      const float value = values[1 + column];
      last_[at + column] = value;
      // fmin and fmax leave NaN out, and give NaN only when both are.
      min_[at + column] = std::fmin(min_[at + column], value);
      max_[at + column] = std::fmax(max_[at + column], value);
    }
  }
}

}  // namespace tarnex::vormant
