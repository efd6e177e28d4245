// The values of a plot file as one block of binary32, a row of P values per time step, the time
// first: what vormant hands to Python without a Python float per value.
#pragma once

#include <cstddef>
#include <memory>

#include "reader/plot_data.hpp"

namespace tarnex::vormant {

class FloatRows {
 public:
  FloatRows(std::size_t rows, std::size_t columns);  // uninitialised values

  float* data() noexcept { return values_.get(); }
  std::size_t rows() const noexcept { return rows_; }
  std::size_t columns() const noexcept { return columns_; }

 private:
  std::unique_ptr<float[]> values_;
  std::size_t rows_;
  std::size_t columns_;
};

// The reader's values, row by row: the one place that knows how PlotData holds them.
FloatRows rows_of(const PlotData& data);

}  // namespace tarnex::vormant
