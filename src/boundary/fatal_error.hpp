// The fatal error: the one way the reader and the binding's own conversions end a call.
//
// Raising one writes the fatal-error report to descriptor 2 at once, before anything unwinds,
// then throws. Only the call boundary catches it; every scope on the way out releases what it
// holds through its destructors.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace tarnex {

class FatalError : public std::exception {
 public:
  FatalError(std::string message, std::source_location where) noexcept
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

// Writes the report for `message`, then throws FatalError.
[[noreturn]] void fatal(std::string message,
                        std::source_location where = std::source_location::current());

// Throws FatalError without a report: for a failure whose story has already been told on
// descriptor 2 (a PanicException resumed from Python code).
[[noreturn]] void resume_fatal(std::string message,
                               std::source_location where = std::source_location::current());

}  // namespace tarnex
