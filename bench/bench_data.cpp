#include "bench_data.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tarnex::bench {
namespace {

constexpr int kFieldsPerLine = 10;

int significant_digits(int width) { return width == 15 ? 9 : 6; }

// A Fortran E field: one digit before the full stop, right-aligned; a negative value fills it.
void append_field(std::string& out, double value, int width) {
  char text[64];
  const int written =
      std::snprintf(text, sizeof text, "%*.*E", width, significant_digits(width) - 1, value);
  out.append(text, static_cast<std::size_t>(written));
}

class ValueSource {
 public:
  ValueSource(Magnitudes magnitudes, std::uint64_t seed) : magnitudes_(magnitudes), random_(seed) {}

  double next() {
    const double sign = uniform(0, 1) < 0.5 ? -1.0 : 1.0;
    if (magnitudes_ == Magnitudes::Wide) {
      const double exponent = uniform(-45.0, 38.5);
      return sign * uniform(1.0, 10.0) * std::pow(10.0, std::floor(exponent));
    }
    const double kind = uniform(0, 1);
    if (kind < 0.08) return 0.0;
    if (kind < 0.10) return -0.0;
    if (kind < 0.13) return sign * uniform(1.0, 10.0) * std::pow(10.0, std::floor(uniform(-44, -30)));
    if (kind < 0.15) return sign * uniform(1.0, 10.0) * std::pow(10.0, std::floor(uniform(10, 38)));
    return sign * uniform(1.0, 10.0) * std::pow(10.0, std::floor(uniform(-6, 7)));
  }

 private:
  double uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random_);
  }

  Magnitudes magnitudes_;
  std::mt19937_64 random_;
};

}  // namespace

std::string field_block(int width, std::size_t count, Magnitudes magnitudes, std::uint64_t seed) {
  ValueSource values(magnitudes, seed);
  std::string block;
  block.reserve(count * static_cast<std::size_t>(width));
  for (std::size_t i = 0; i < count; ++i) {
    // Values print as floats would: rounded to binary32 first, as the solver stored them.
    append_field(block, static_cast<float>(values.next()), width);
  }
  return block;
}

std::string plot_file_text(int parameters, int steps, int width, std::uint64_t seed) {
  ValueSource values(Magnitudes::Typical, seed);
  std::string text = " VORMANT PLOT FILE   RUN 0001   WIDTH " + std::to_string(width) + "   " +
                     std::to_string(parameters) + "\n";
  text += "TIME  S\n";
  for (int p = 1; p < parameters; ++p) text += "PARAM" + std::to_string(p) + "  UNIT\n";
  for (int step = 0; step < steps; ++step) {
    text += " TIME STEP " + std::to_string(step + 1) + "   ITERATIONS 12\n";
    for (int p = 0; p < parameters; ++p) {
      append_field(text, p == 0 ? step * 1e-3f : static_cast<float>(values.next()), width);
      if (p % kFieldsPerLine == kFieldsPerLine - 1 || p == parameters - 1) text += '\n';
    }
  }
  return text;
}

void write_file(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace tarnex::bench
