// vormant's way of reporting a reader failure: nothing written anywhere, an exception that
// carries the facts and a message a person can act on, raised in Python as PlotFileError or as
// the OSError of the system's error.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "reader/read_failure.hpp"

namespace tarnex::vormant {

class PlotFileFailure : public std::exception {
 public:
  PlotFileFailure(const ReadFailure& failure, std::string detail)
      : kind_(failure.kind),
        line_(failure.line),
        io_error_(failure.io_error),
        detail_(std::move(detail)) {}

  const char* what() const noexcept override { return detail_.c_str(); }
  FailureKind kind() const noexcept { return kind_; }
  std::uint64_t line() const noexcept { return line_; }
  // The system's error, for a file that could not be opened or read.
  const std::optional<IoError>& io_error() const noexcept { return io_error_; }
  // The message without the file's path, which goes before it: ", line 17: field 3 ...".
  const std::string& detail() const noexcept { return detail_; }
  // Whether Python sees this as the OSError of the system's error.
  bool is_system_error() const noexcept { return io_error_ && io_error_->is_system(); }

 private:
  FailureKind kind_;
  std::uint64_t line_;
  std::optional<IoError> io_error_;
  std::string detail_;
};

class ThrowingFailurePolicy final : public FailurePolicy {
 public:
  // `names`: the name lines read so far, for messages that name a field's parameter.
  explicit ThrowingFailurePolicy(const std::vector<std::string>& names) noexcept
      : names_(names) {}

  [[noreturn]] void fail(const ReadFailure& failure, std::source_location where) override;

 private:
  const std::vector<std::string>& names_;
};

}  // namespace tarnex::vormant
