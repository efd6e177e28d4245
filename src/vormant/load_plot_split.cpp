#include <new>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/timestep_blocks.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {
namespace {

LoadedPlot read_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                      std::size_t threads) {
  LoadedPlot plot{.names = {}, .n_digits = 0, .data = {}};
  ThrowingFailurePolicy policy(plot.names);
  const OpenedPlot opened = open_plot(path, plot.names, policy);
  plot.n_digits = field_width(opened, n_digits, policy);
  plot.data.parameters = opened.parameters;
  read_steps_split(opened.file.get(), opened.start, opened.parameters, plot.n_digits, threads,
                   plot.data, policy);
  return plot;
}

}  // namespace

LoadOutcome load_plot_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                            std::size_t threads) noexcept {
  return guarded([&] { return read_split(path, n_digits, threads); });
}

}  // namespace tarnex::vormant
