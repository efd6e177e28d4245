// Field texts and plot files shaped like those of real simulation runs, for the micro-benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::bench {

// Which values the fields hold.
enum class Magnitudes {
  Typical,  // mostly 1e-6 to 1e6, with zeros, negative zeros and a few tiny or huge values
  Wide,     // exponents spread evenly over the whole binary32 range, subnormals included
};

// `count` fields of `width` characters (12: E12.5, 15: E15.8), right-aligned and back to back.
std::string field_block(int width, std::size_t count, Magnitudes magnitudes, std::uint64_t seed);

// The text of a plot file: a header line ending in `parameters`, the name lines, then `steps`
// timestep blocks of a lead line and the value lines.
std::string plot_file_text(int parameters, int steps, int width, std::uint64_t seed);

// Writes `text` to `path`; throws on failure.
void write_file(const std::string& path, std::string_view text);

}  // namespace tarnex::bench
