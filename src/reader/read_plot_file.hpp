// Reading a VORMANT plot file: the header, then every timestep block.
#pragma once

#include <cstdint>
#include <string_view>

#include "reader/plot_data.hpp"

namespace tarnex {

// Reads the plot file at `path` (UTF-8 bytes, as given; may hold NUL) with fields `n_digits`
// bytes wide. Every failure is a FatalError with its exact message; the file is closed on
// every way out. std::bad_alloc passes through when memory runs out.
PlotData read_plot_file(std::string_view path, std::uint64_t n_digits);

}  // namespace tarnex
