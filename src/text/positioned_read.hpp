// Reads at an offset of a file, the one way every reader of parts of a file reads them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tarnex {

// Reads bytes [offset, offset + size) of `fd` into `buffer`, reading again after a signal
// interrupts a read and after a short read, until at least `least` bytes are in (at most
// `size`) or the file ends. Returns the bytes read, fewer than `least` only at the end of the
// file, or -1 with errno set when a read fails.
ssize_t read_at(int fd, char* buffer, std::size_t size, std::uint64_t offset,
                std::size_t least = 1) noexcept;

}  // namespace tarnex
