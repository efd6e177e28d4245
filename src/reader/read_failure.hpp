// Why a plot file could not be read, as facts, and the front end's way of reporting it.
//
// The reader finds the failure; what becomes of it (tarnex's report on descriptor 2, vormant's
// exception with path and line) is the choice of the front end, which hands the reader a
// FailurePolicy. The policy is called only when a read fails, never on the way of a good file.
#pragma once

#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "text/cut.hpp"
#include "text/io_error.hpp"

namespace tarnex {

enum class FailureKind : std::uint8_t {
  CannotOpen,          // the file did not open (io_error)
  ReadError,           // a read call failed (io_error holds the errno)
  InvalidUtf8,         // a line is not valid UTF-8
  NoFirstLine,         // the file is empty
  BadCount,            // the first line's last token is not an unsigned integer (text)
  ZeroCount,           // the first line is blank or counts 0 parameters
  MissingNameLine,     // the file ends among the parameter name lines
  EndsInsideTimeStep,  // the file ends after a lead line or between value lines
  FieldCut,            // a field's bytes cannot be cut from its line: too short, or a border
                       // falls inside a character
  FieldEmpty,          // a field holds only whitespace
  FieldInvalid,        // a field holds something other than a number
  WidthUnknown,        // no width was given and the first value line does not tell it
};

std::string_view kind_name(FailureKind kind) noexcept;

// The facts of one failure. The views point into the reader's buffers and are valid only
// while the policy's fail() runs; a policy that keeps anything copies it.
struct ReadFailure {
  FailureKind kind;
  // The 1-based number of the line at fault; for a file that ends too early, the line after
  // its last. 0 when no line is at fault (the file did not open).
  std::uint64_t line = 0;
  // For a field failure: the field's 1-based number within its line (0 otherwise), and its
  // parameter's index (0 is the time). MissingNameLine: the index of the missing name.
  std::uint64_t field = 0;
  std::uint64_t parameter = 0;
  // The field's bytes, or the count token of a bad first line. For FieldCut, what the line
  // holds of the field.
  std::string_view text{};
  // The whole line at fault: the first line of a count failure, the value line of a field
  // failure or of an unknown width.
  std::string_view line_text{};
  // FieldCut: the field's byte range [start, end) within its line.
  BytePosition start = 0;
  BytePosition end = 0;
  // EndsInsideTimeStep: the number of the time step's lead line.
  std::uint64_t step_line = 0;
  // CannotOpen, ReadError, InvalidUtf8: the lower-level error.
  std::optional<IoError> io_error{};
  // MissingNameLine: the parameter count of the first line.
  std::uint64_t parameters = 0;
  // WidthUnknown: how many fields the value line must hold (0 when there is no value line).
  std::uint64_t fields_on_line = 0;

  // tarnex's message for this failure, letter for letter.
  std::string tarnex_message() const;
};

class FailurePolicy {
 public:
  // Reports `failure`, found by the check at `where`, and leaves by throwing: it never returns
  // to the reader.
  [[noreturn]] virtual void fail(const ReadFailure& failure, std::source_location where) = 0;

 protected:
  FailurePolicy() = default;
  FailurePolicy(const FailurePolicy&) = default;
  FailurePolicy& operator=(const FailurePolicy&) = default;
  ~FailurePolicy() = default;
};

// Hands `failure` to `policy` with the location of the check that found it.
[[noreturn, gnu::cold]] void report_failure(
    FailurePolicy& policy, const ReadFailure& failure,
    std::source_location where = std::source_location::current());

}  // namespace tarnex
