#include "vormant/float_rows.hpp"

namespace tarnex::vormant {

FloatRows::FloatRows(std::size_t rows, std::size_t columns)
    : values_(rows * columns == 0 ? nullptr : new float[rows * columns]),
      rows_(rows),
      columns_(columns) {}

FloatRows rows_of(const PlotData& data) {
  FloatRows rows(data.time.size(), data.columns.size() + 1);
  float* out = rows.data();
  for (std::size_t step = 0; step < rows.rows(); ++step) {
    *out++ = data.time[step];
    for (const std::vector<float>& column : data.columns) *out++ = column[step];
  }
  return rows;
}

}  // namespace tarnex::vormant
