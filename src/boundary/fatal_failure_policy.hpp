// tarnex's way of reporting a reader failure: a FatalError with the exact message, its report
// written to descriptor 2 at the moment of failure, and for a bad parameter count the one line
// on descriptor 1 before it.
#pragma once

#include "reader/read_failure.hpp"

namespace tarnex {

class FatalFailurePolicy final : public FailurePolicy {
 public:
  [[noreturn]] void fail(const ReadFailure& failure, std::source_location where) override;
};

// The one policy tarnex's reads share; it holds no state.
FatalFailurePolicy& fatal_failure_policy() noexcept;

}  // namespace tarnex
