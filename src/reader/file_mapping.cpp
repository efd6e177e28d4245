#include "reader/file_mapping.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "text/positioned_read.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#include <sys/uio.h>
#define TARNEX_HAS_MAPPED_GATHER 1
#else
#define TARNEX_HAS_MAPPED_GATHER 0
#endif

namespace tarnex {
namespace {

// The most stretches one call copies (the system's IOV_MAX on Linux).
[[maybe_unused]] constexpr std::size_t kStretchesPerCall = 1024;

}  // namespace

FileMapping::FileMapping(int fd, std::uint64_t size) noexcept : fd_(fd), size_(size) {
#if TARNEX_HAS_MAPPED_GATHER
  if (size == 0 || size > static_cast<std::uint64_t>(SIZE_MAX)) return;
  void* base = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  if (base != MAP_FAILED) base_ = base;
#endif
}

FileMapping::~FileMapping() {
#if TARNEX_HAS_MAPPED_GATHER
  if (base_ != nullptr) ::munmap(base_, static_cast<std::size_t>(size_));
#endif
}

bool FileMapping::gather(std::span<const Stretch> stretches, char* out) const noexcept {
  if (base_ != nullptr && copy_allowed_.load(std::memory_order_relaxed)) {
    return gather_mapped(stretches, out);
  }
  return gather_read(stretches, out);
}

bool FileMapping::gather_mapped(std::span<const Stretch> stretches, char* out) const noexcept {
#if TARNEX_HAS_MAPPED_GATHER
  iovec local[kStretchesPerCall];
  iovec remote[kStretchesPerCall];
  while (!stretches.empty()) {
    const std::size_t count = std::min(stretches.size(), kStretchesPerCall);
    std::size_t expected = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const Stretch& stretch = stretches[i];
      if (stretch.offset + stretch.length > size_) return false;
      local[i] = {out + expected, stretch.length};
      remote[i] = {static_cast<char*>(base_) + stretch.offset, stretch.length};
      expected += stretch.length;
    }
    const ssize_t copied = ::process_vm_readv(::getpid(), local, count, remote, count, 0);
    if (copied < 0 && (errno == ENOSYS || errno == EPERM)) {
      copy_allowed_.store(false, std::memory_order_relaxed);
      return gather_read(stretches, out);
    }
    // Fewer bytes than asked: a page of the mapping is gone, the file is shorter now.
    if (copied != static_cast<ssize_t>(expected)) return false;
    stretches = stretches.subspan(count);
    out += expected;
  }
  return true;
#else
  return gather_read(stretches, out);
#endif
}

bool FileMapping::gather_read(std::span<const Stretch> stretches, char* out) const noexcept {
  for (const Stretch& stretch : stretches) {
    const ssize_t count = read_at(fd_, out, stretch.length, stretch.offset, stretch.length);
    if (count != static_cast<ssize_t>(stretch.length)) return false;
    out += stretch.length;
  }
  return true;
}

}  // namespace tarnex
