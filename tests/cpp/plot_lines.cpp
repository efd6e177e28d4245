#include "plot_lines.hpp"

#include <cmath>
#include <cstdio>
#include <random>

namespace tarnex::testing {

std::string PlotLines::text(std::string_view eol, bool final_eol) const {
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    joined += lines[i];
    if (final_eol || i + 1 < lines.size()) joined += eol;
  }
  return joined;
}

std::vector<std::uint64_t> PlotLines::line_offsets(std::string_view eol) const {
  std::vector<std::uint64_t> offsets{0};
  for (const std::string& line : lines) {
    offsets.push_back(offsets.back() + line.size() + eol.size());
  }
  return offsets;
}

PlotLines make_plot(std::uint64_t parameters, std::size_t steps, int width, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  char field[64];
  // Value p of a step; the time, first, always in the E shape that tells the width.
  auto format = [&](std::uint64_t p, std::size_t step) {
    const int digits = width == 12 ? 5 : 8;
    switch (p == 0 ? 7 : random() % 8) {
      case 0:  // zeros of either sign
        return std::snprintf(field, sizeof field, "%*.*E", width, digits,
                             random() % 2 == 0 ? 0.0 : -0.0);
      case 1:  // subnormals and the smallest normals
        return std::snprintf(field, sizeof field, "%*.*E", width, digits,
                             std::ldexp(unit(random), -120 - static_cast<int>(random() % 20)));
      case 2:
        return std::snprintf(field, sizeof field, "%*.*E", width, digits,
                             unit(random) * std::pow(10.0, static_cast<int>(random() % 61) - 30));
      case 3:  // fixed point
        return std::snprintf(field, sizeof field, "%*.3f", width, unit(random) * 1000.0);
      case 4:  // left-aligned
        return std::snprintf(field, sizeof field, "%-*.4g", width, unit(random) * 50.0);
      default:
        return std::snprintf(field, sizeof field, "%*.*E", width, digits,
                             p == 0 ? 0.001 * static_cast<double>(step)
                                    : std::sin(static_cast<double>(step * 31 + p)) * 1e3);
    }
  };
  PlotLines plot{parameters, {" VORMANT PLOT FILE   RUN 0001   " + std::to_string(parameters)}};
  for (std::uint64_t p = 0; p < parameters; ++p) plot.lines.push_back("PARAM" + std::to_string(p));
  for (std::size_t step = 0; step < steps; ++step) {
    plot.lines.push_back(" TIME STEP" + std::string(step * 7 % 11, ' ') + std::to_string(step));
    for (std::uint64_t first = 0; first < parameters; first += 10) {
      std::string line;
      for (std::uint64_t p = first; p < parameters && p < first + 10; ++p) {
        format(p, step);
        line += field;
      }
      plot.lines.push_back(std::move(line));
    }
  }
  return plot;
}

}  // namespace tarnex::testing
