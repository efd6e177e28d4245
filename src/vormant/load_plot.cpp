#include "vormant/load_plot.hpp"

#include <cstddef>
#include <new>

#include "reader/read_plot_file.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {
namespace {

LoadedPlot read_rows(std::string_view path, std::optional<std::uint64_t> n_digits) {
  PlotFile file;
  ThrowingFailurePolicy policy(file.names);
  read_plot_file({.path = path,
                  .n_digits = n_digits,
                  .keep_names = true,
                  .read_size = LineSource::kBulkReadSize},
                 policy, file);
  return {std::move(file.names), file.n_digits, std::move(file.data)};
}

}  // namespace

LoadOutcome load_plot(std::string_view path, std::optional<std::uint64_t> n_digits) noexcept {
  return guarded([&] { return read_rows(path, n_digits); });
}

}  // namespace tarnex::vormant
