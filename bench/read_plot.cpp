// Reads plot files into PlotData, or converts a block of fields, and prints how many values it
// read: a steady workload for instruction counts per value under callgrind.
//
//   tarnex_read_plot FILE N_DIGITS [REPEAT]
//   tarnex_read_plot --fields WIDTH COUNT [wide]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench_data.hpp"
#include "reader/read_plot_file.hpp"
#include "text/numbers.hpp"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tarnex_read_plot FILE N_DIGITS [REPEAT]\n"
               "       tarnex_read_plot --fields WIDTH COUNT [wide]\n");
  return 2;
}

// Kept out of line so that callgrind can count the conversions alone (--toggle-collect).
[[gnu::noinline]] float convert_fields(std::string_view block, std::size_t width) {
  float sum = 0.0f;
  for (std::size_t start = 0; start + width <= block.size(); start += width) {
    sum += tarnex::parse_binary32_field(block.substr(start, width)).value;
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string_view(argv[1]) == "--fields") {
    const int width = std::atoi(argv[2]);
    const auto count = static_cast<std::size_t>(std::atoll(argv[3]));
    const bool wide = argc > 4 && std::string_view(argv[4]) == "wide";
    const std::string block = tarnex::bench::field_block(
        width, count, wide ? tarnex::bench::Magnitudes::Wide : tarnex::bench::Magnitudes::Typical,
        5);
    const float sum = convert_fields(block, static_cast<std::size_t>(width));
    std::printf("values %zu (sum %g)\n", count, static_cast<double>(sum));
    return 0;
  }
  if (argc < 3) return usage();
  const int repeat = argc > 3 ? std::atoi(argv[3]) : 1;
  std::size_t values = 0;
  for (int i = 0; i < repeat; ++i) {
    const tarnex::PlotData data =
        tarnex::read_plot_file(argv[1], std::strtoull(argv[2], nullptr, 10));
    values += data.values.size();
  }
  std::printf("values %zu\n", values);
  return 0;
}
