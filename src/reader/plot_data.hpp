// What a plot file holds: the time of each timestep block, and one column per further parameter.
#pragma once

#include <vector>

namespace tarnex {

struct PlotData {
  std::vector<float> time;
  // P - 1 columns, each exactly as long as `time`.
  std::vector<std::vector<float>> columns;
};

}  // namespace tarnex
