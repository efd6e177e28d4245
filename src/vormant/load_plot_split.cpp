#include <sys/stat.h>

#include <new>
#include <string>
#include <variant>

#include "reader/read_plot_file.hpp"
#include "reader/split_read.hpp"
#include "reader/thread_split.hpp"
#include "reader/timestep_blocks.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/plot_preamble.hpp"

namespace tarnex::vormant {
namespace {

// A whole read shared by threads starts a thread and reads a few windows to guess where the
// shares' steps begin: measured to pay off from files of half a megabyte on (0.82 of one
// thread's time at 512 KiB, 1.3 at 128 KiB).
constexpr std::uint64_t kSplitFrom = std::uint64_t{1} << 20;

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

std::size_t whole_read_threads(std::string_view path, std::size_t threads) noexcept {
  if (threads != 0) return at_most_usable(threads);
  struct stat status;
  try {
    if (::stat(std::string(path).c_str(), &status) != 0) return 1;
  } catch (const std::bad_alloc&) {
    return 1;  // the read itself meets what is wrong
  }
  if (static_cast<std::uint64_t>(status.st_size) < kSplitFrom) return 1;
  return usable_processors();
}

std::size_t whole_read_threads(int fd, std::size_t threads) noexcept {
  if (threads != 0) return at_most_usable(threads);
  struct stat status;
  if (::fstat(fd, &status) != 0) return 1;  // the read itself meets what is wrong
  if (static_cast<std::uint64_t>(status.st_size) < kSplitFrom) return 1;
  return usable_processors();
}

LoadOutcome load_plot_split(std::string_view path, std::optional<std::uint64_t> n_digits,
                            std::size_t threads) noexcept {
  return guarded([&] { return read_split(path, n_digits, threads); });
}

}  // namespace tarnex::vormant
