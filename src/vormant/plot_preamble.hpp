// What every read of vormant starts with: the file opened, its header read, where its time
// steps start, and the width of its fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/read_failure.hpp"
#include "reader/split_read.hpp"
#include "text/line_source.hpp"

namespace tarnex::vormant {

// A plot file opened and its header read.
struct OpenedPlot {
  FileDescriptor file{-1};
  std::uint64_t parameters = 0;
  StepsStart start{};  // the first lead line
};

// The file opened read-only; a failure to open it goes to `policy`.
FileDescriptor open_plot_file(std::string_view path, FailurePolicy& policy);

// Opens the file at `path` and reads its header, the trimmed name lines into `names`.
OpenedPlot open_plot(std::string_view path, std::vector<std::string>& names, FailurePolicy& policy);

// `n_digits` when given, else the width the first time step's first value line tells; a file
// without one fails as a whole read fails.
std::uint64_t field_width(const OpenedPlot& opened, std::optional<std::uint64_t> n_digits,
                          FailurePolicy& policy);

}  // namespace tarnex::vormant
