#include "vormant/plot_preamble.hpp"

#include <limits>
#include <utility>
#include <variant>

#include "reader/read_plot_file.hpp"

namespace tarnex::vormant {

FileDescriptor open_plot_file(std::string_view path, FailurePolicy& policy) {
  auto opened = open_read_only(path);
  if (const IoError* error = std::get_if<IoError>(&opened)) {
    report_failure(policy, {.kind = FailureKind::CannotOpen, .io_error = *error});
  }
  return std::move(std::get<FileDescriptor>(opened));
}

OpenedPlot open_plot(std::string_view path, std::vector<std::string>& names,
                     FailurePolicy& policy) {
  OpenedPlot opened{.file = open_plot_file(path, policy)};
  LineSource header =
      LineSource::over_range(opened.file.get(), 0, std::numeric_limits<std::uint64_t>::max(), 1,
                             best_scan_level(), LineSource::kBulkReadSize);
  opened.parameters = read_header(header, policy, &names);
  opened.start = {.offset = header.offset(), .line = opened.parameters + 2};
  return opened;
}

std::uint64_t field_width(const OpenedPlot& opened, std::optional<std::uint64_t> n_digits,
                          FailurePolicy& policy) {
  if (n_digits) return *n_digits;
  return width_of_first_step(opened.file.get(), opened.start, opened.parameters, policy);
}

}  // namespace tarnex::vormant
