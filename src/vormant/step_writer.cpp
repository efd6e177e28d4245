#include "vormant/step_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>

#include "reader/thread_split.hpp"
#include "text/step_text.hpp"

namespace tarnex::vormant {
namespace {

// The text each thread formats before the piece is written: enough to make the threads'
// start-up small beside their work, little enough to stay bounded whatever the plot's size.
constexpr std::size_t kPartBytes = std::size_t{2} << 20;

// The pieces in the order of the file: each thread takes the next piece, formats it and writes
// it once the piece before it is written. A thread writes while the other formats, and none
// waits for a round of the others to end.
class OrderedPieces {
 public:
  explicit OrderedPieces(std::size_t count) noexcept : count_(count) {}

  // The next piece to format, or false when none is left or a write has failed.
  bool take(std::size_t& piece) noexcept {
    piece = next_.fetch_add(1, std::memory_order_relaxed);
    return piece < count_ && failure_.load(std::memory_order_relaxed) == 0;
  }

  // Writes piece `piece`'s text after every piece before it; a failed write ends the writing.
  void write(int fd, std::size_t piece, const char* text, std::size_t size) noexcept {
    for (std::size_t done = written_.load(); done != piece; done = written_.load()) {
      written_.wait(done);
    }
    if (failure_.load(std::memory_order_relaxed) == 0) {
      failure_.store(write_all(fd, text, size), std::memory_order_relaxed);
    }
    written_.store(piece + 1);
    written_.notify_all();
  }

  int failure() const noexcept { return failure_.load(); }

 private:
  std::size_t count_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> written_{0};
  std::atomic<int> failure_{0};
};

}  // namespace

int write_all(int fd, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int write_steps(int fd, const StepBlock& block, std::uint64_t first_number, std::size_t width,
                std::size_t threads) {
  if (block.steps == 0) return 0;
  const std::size_t bound = step_text_bound(block.parameters, width);
  const std::size_t piece_steps = std::clamp<std::size_t>(kPartBytes / bound, 1, block.steps);
  OrderedPieces pieces((block.steps + piece_steps - 1) / piece_steps);
  run_split(threads, threads, [&](std::size_t, std::size_t, const std::atomic<bool>&) {
    const std::unique_ptr<char[]> buffer(new char[piece_steps * bound]);
    for (std::size_t piece = 0; pieces.take(piece);) {
      const std::size_t step = piece * piece_steps;
      const char* end =
          write_step_text(buffer.get(), block.values + step * block.parameters, block.parameters,
                          std::min(piece_steps, block.steps - step), first_number + step, width);
      pieces.write(fd, piece, buffer.get(), static_cast<std::size_t>(end - buffer.get()));
    }
  });
  return pieces.failure();
}

}  // namespace tarnex::vormant
