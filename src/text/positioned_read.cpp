#include "text/positioned_read.hpp"

#include <unistd.h>

#include <cerrno>

namespace tarnex {

ssize_t read_at(int fd, char* buffer, std::size_t size, std::uint64_t offset,
                std::size_t least) noexcept {
  std::size_t filled = 0;
  while (filled < least && filled < size) {
    const ssize_t count =
        ::pread(fd, buffer + filled, size - filled, static_cast<off_t>(offset + filled));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return -1;
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  return static_cast<ssize_t>(filled);
}

}  // namespace tarnex
