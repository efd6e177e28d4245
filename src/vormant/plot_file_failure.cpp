#include "vormant/plot_file_failure.hpp"

#include "vormant/failure_text.hpp"

namespace tarnex::vormant {

void ThrowingFailurePolicy::fail(const ReadFailure& failure, std::source_location /*where*/) {
  throw PlotFileFailure(failure, failure_text(failure, names_));
}

}  // namespace tarnex::vormant
