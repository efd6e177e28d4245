// The process's writer on descriptor 1: a line-buffered 1024-byte buffer behind a lock that
// its holder may take again. It never goes through the interpreter's sys.stdout.
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>

#include "text/io_error.hpp"

namespace tarnex {

// Writes the pieces of one message, the last ending in a line feed, to descriptor 1 under the
// writer's lock. EBADF drops the bytes silently; any other failure is returned.
std::optional<IoError> print_pieces(std::initializer_list<std::string_view> pieces);

// print_pieces, turning a failure into the fatal error "failed printing to stdout: ...".
void print_line(std::initializer_list<std::string_view> pieces);

}  // namespace tarnex
