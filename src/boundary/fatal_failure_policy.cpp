#include "boundary/fatal_failure_policy.hpp"

#include "boundary/fatal_error.hpp"
#include "reader/messages.hpp"
#include "reader/read_plot_file.hpp"
#include "text/stdout_writer.hpp"

namespace tarnex {

void FatalFailurePolicy::fail(const ReadFailure& failure, std::source_location where) {
  if (failure.kind == FailureKind::BadCount) {
    print_line({messages::kBadCountLineStart, failure.text, messages::kBadCountLineEnd});
  }
  fatal(failure.tarnex_message(), where);
}

FatalFailurePolicy& fatal_failure_policy() noexcept {
  static FatalFailurePolicy policy;
  return policy;
}

PlotData read_plot_file(std::string_view path, std::uint64_t n_digits) {
  return read_plot_file(path, n_digits, fatal_failure_policy());
}

}  // namespace tarnex
