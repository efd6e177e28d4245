#include "boundary/fatal_error.hpp"

#include "boundary/fatal_report.hpp"

namespace tarnex {

void fatal(std::string message, std::source_location where) {
  write_fatal_report(message, where);
  throw FatalError(std::move(message), where);
}

void resume_fatal(std::string message, std::source_location where) {
  throw FatalError(std::move(message), where);
}

}  // namespace tarnex
