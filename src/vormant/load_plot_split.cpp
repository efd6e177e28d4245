#include <limits>
#include <new>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/timestep_blocks.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex::vormant {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

LoadedPlot read_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                      std::size_t threads) {
  LoadedPlot plot{.names = {}, .n_digits = 0, .data = {}};
  ThrowingFailurePolicy policy(plot.names);
  auto opened = open_read_only(path);
  if (const IoError* error = std::get_if<IoError>(&opened)) {
    report_failure(policy, {.kind = FailureKind::CannotOpen, .io_error = *error});
  }
  const int fd = std::get<FileDescriptor>(opened).get();
  LineSource header = LineSource::over_range(fd, 0, kToTheEnd, 1, best_scan_level(), kReadSize);
  const std::uint64_t parameters = read_header(header, policy, &plot.names);
  const StepsStart start{.offset = header.offset(), .line = parameters + 2};
  plot.n_digits = n_digits ? *n_digits : width_of_first_step(fd, start, parameters, policy);
  plot.data.parameters = parameters;
  read_steps_split(fd, start, parameters, plot.n_digits, threads, plot.data, policy);
  return plot;
}

}  // namespace

LoadOutcome load_plot_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                            std::size_t threads) noexcept {
  return guarded([&] { return read_split(path, n_digits, threads); });
}

}  // namespace tarnex::vormant
