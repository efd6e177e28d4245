// What a plot file holds: one row of values per timestep block, the time first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/value_store.hpp"

namespace tarnex {

struct PlotData {
  // P, the number of parameters, the time included: at least 1.
  std::uint64_t parameters = 1;
  // Row-major: the row of block t holds its P values at t * P to t * P + P - 1.
  ValueStore values;

  std::size_t steps() const noexcept {
    return values.size() / static_cast<std::size_t>(parameters);
  }
  float value(std::size_t step, std::size_t parameter) const noexcept {
    return values.data()[step * static_cast<std::size_t>(parameters) + parameter];
  }
};

}  // namespace tarnex
