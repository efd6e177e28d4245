// One plot file read for vormant, start to end, without touching the interpreter: what runs
// while the interpreter lock is released.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "reader/plot_data.hpp"
#include "vormant/outcome.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {

struct LoadedPlot {
  std::vector<std::string> names;
  std::uint64_t n_digits;
  PlotData data;  // row-major, P values per time step
};

using LoadOutcome = Outcome<LoadedPlot>;

// Reads the plot file at `path` (bytes, no NUL) with fields `n_digits` wide, or as wide as its
// first value line tells. Every way it ends is in the outcome; nothing is thrown or printed.
LoadOutcome load_plot(std::string_view path, std::optional<std::uint64_t> n_digits) noexcept;

// The trimmed name lines of the file at `path` (in `names`), its header alone read.
LoadOutcome load_names(std::string_view path) noexcept;

// A plot file opened and its header read, kept open so that columns chosen by its names are
// read from the same file whatever happens to the path meanwhile.
struct OpenedHeader {
  OpenedPlot opened;
  std::vector<std::string> names;  // trimmed name lines
};

// Opens the plot file at `path` and reads its header.
Outcome<OpenedHeader> open_header(std::string_view path) noexcept;

// load_plot_columns of a file opened by open_header; takes it over.
LoadOutcome load_plot_columns(OpenedHeader header, std::optional<std::uint64_t> n_digits,
                              std::span<const std::uint64_t> columns, std::size_t threads) noexcept;

// The time and `columns` (parameter indices 1 to P - 1, in the order wanted) of every step,
// only the value lines that hold them looked at, only their fields converted. A few columns,
// or one thread asked for, are converted as the file is indexed, in one pass over it; more are
// read through the index by `threads` threads (0 chooses).
LoadOutcome load_plot_columns(std::string_view path, std::optional<std::uint64_t> n_digits,
                              std::span<const std::uint64_t> columns, std::size_t threads) noexcept;

// load_plot with the time steps read by `threads` threads at once (at least 2): the same
// values and the same first failure.
LoadOutcome load_plot_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                            std::size_t threads) noexcept;

// The threads a whole read of the file at `path` takes when asked for `threads`: no more than
// the processors this process may use; 0 chooses one for a file too small to be worth more,
// else every processor.
std::size_t whole_read_threads(std::string_view path, std::size_t threads) noexcept;

// whole_read_threads of the file open as `fd`.
std::size_t whole_read_threads(int fd, std::size_t threads) noexcept;

}  // namespace tarnex::vormant
