#include "vormant/load_plot.hpp"

#include <cstddef>
#include <new>

#include "reader/read_plot_file.hpp"

namespace tarnex::vormant {
namespace {

// vormant is free of tarnex's 8192-byte reads. 64 KiB pieces take an eighth of the read calls
// and cut a whole read by some 3 to 7 percent; larger pieces measured no faster, and cost
// resident memory: the buffer and its marks are touched in full for any file at least that
// large, which for a file of a few hundred kilobytes would outweigh its values.
constexpr std::size_t kReadSize = 64 * 1024;

LoadedPlot read_rows(std::string_view path, std::optional<std::uint64_t> n_digits) {
  PlotFile file;
  ThrowingFailurePolicy policy(file.names);
  read_plot_file({.path = path, .n_digits = n_digits, .keep_names = true, .read_size = kReadSize},
                 policy, file);
  return {std::move(file.names), file.n_digits, std::move(file.data)};
}

}  // namespace

LoadOutcome load_plot(std::string_view path, std::optional<std::uint64_t> n_digits) noexcept {
  return guarded([&] { return read_rows(path, n_digits); });
}

}  // namespace tarnex::vormant
