// Reading a VORMANT plot file: the header, then every timestep block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/plot_data.hpp"
#include "reader/read_failure.hpp"
#include "text/line_source.hpp"

namespace tarnex {

struct ReadRequest {
  std::string_view path;  // the bytes of the path, as given; may hold NUL
  // The field width in bytes; none to take it from the first value line.
  std::optional<std::uint64_t> n_digits;
  bool keep_names = false;  // whether to keep the parameter name lines
  // The bytes asked for by each read of the file.
  std::size_t read_size = LineSource::kDefaultReadSize;
};

struct PlotFile {
  // The P name lines, surrounding whitespace removed, when asked for; those read so far when
  // the read fails.
  std::vector<std::string> names;
  std::uint64_t n_digits = 0;  // the width used
  PlotData data;
};

// The header from the start of `source`: the parameter count at the end of the first line, then
// the P name lines, kept trimmed in `names` unless it is null. Returns P, at least 1.
std::uint64_t read_header(LineSource& source, FailurePolicy& policy,
                          std::vector<std::string>* names);

// Reads the plot file of `request` into `file`. Every failure goes to `policy`, which leaves by
// throwing; the file is closed on every way out. std::bad_alloc passes through when memory
// runs out.
void read_plot_file(const ReadRequest& request, FailurePolicy& policy, PlotFile& file);

// Reads the plot file at `path` (UTF-8 bytes, as given; may hold NUL) with fields `n_digits`
// bytes wide, failures going to `policy`.
PlotData read_plot_file(std::string_view path, std::uint64_t n_digits, FailurePolicy& policy);

// read_plot_file with tarnex's policy: every failure is a FatalError with its exact message,
// reported on descriptor 2 (defined with that policy, in boundary/fatal_failure_policy.cpp).
PlotData read_plot_file(std::string_view path, std::uint64_t n_digits);

}  // namespace tarnex
