// The fatal-error report on descriptor 2, and the last-resort aborts.
#pragma once

#include <source_location>
#include <string_view>

namespace tarnex {

// Writes "\nthread '<unnamed>' (<tid>) panicked at <file>:<line>:<column>:\n<message>\n" to
// descriptor 2 under the process-wide report lock; a single write call when it fits in 512
// bytes. Write errors are ignored. A report that starts while this thread is already writing
// one aborts the process.
void write_fatal_report(std::string_view message, const std::source_location& where) noexcept;

// Writes raw bytes to descriptor 2 under the report lock, ignoring errors.
void write_to_stderr(std::string_view text) noexcept;

// Reports `message` as a fatal error, then aborts the process: the end of the road for a
// failure that nothing may catch.
[[noreturn]] void abort_with_report(
    std::string_view message, std::source_location where = std::source_location::current()) noexcept;

}  // namespace tarnex
