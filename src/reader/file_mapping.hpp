// Many short stretches of a file fetched with one system call: the kernel copies them out of a
// read-only mapping of the file (process_vm_readv on this process), so a page that a shrunk
// file no longer has is an error of the call, never a SIGBUS in the reader. Where the system
// has no such call or refuses it, each stretch is read with pread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnex {

struct Stretch {
  std::uint64_t offset;
  std::size_t length;
};

class FileMapping {
 public:
  // Maps bytes [0, size) of the open file `fd`, which must outlive the mapping.
  FileMapping(int fd, std::uint64_t size) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping();

  // Copies the stretches, each within the size mapped, one after the other into `out`. False
  // when the file no longer holds them all.
  bool gather(std::span<const Stretch> stretches, char* out) const noexcept;

 private:
  bool gather_mapped(std::span<const Stretch> stretches, char* out) const noexcept;
  bool gather_read(std::span<const Stretch> stretches, char* out) const noexcept;

  int fd_;
  [[maybe_unused]] std::uint64_t size_;  // read by the mapped path, which Linux alone has
  void* base_ = nullptr;
  // Cleared when the system refuses to copy from the mapping; pread from then on.
  mutable std::atomic<bool> copy_allowed_{true};
};

}  // namespace tarnex
