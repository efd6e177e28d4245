#include "vormant/step_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "reader/thread_split.hpp"
#include "text/step_text.hpp"

namespace tarnex::vormant {
namespace {

// The text each thread formats before the piece is written: enough to make the threads'
// start-up small beside their work, little enough to stay bounded whatever the plot's size.
constexpr std::size_t kPartBytes = std::size_t{2} << 20;

// One thread's buffer and the end of the text it holds.
struct PartText {
  std::unique_ptr<char[]> buffer;
  char* end;
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
  const std::size_t bound = step_text_bound(block.parameters, width);
  const std::size_t part_steps = std::max<std::size_t>(1, kPartBytes / bound);
  const std::size_t parts =
      std::max<std::size_t>(1, std::min(threads, (block.steps + part_steps - 1) / part_steps));
  std::vector<PartText> texts(parts);
  for (PartText& text : texts) text.buffer.reset(new char[part_steps * bound]);
  for (std::size_t first = 0; first < block.steps; first += parts * part_steps) {
    const std::size_t count = std::min(parts * part_steps, block.steps - first);
    const std::size_t used = (count + part_steps - 1) / part_steps;
    run_split(used, used, [&](std::size_t begin, std::size_t end, const std::atomic<bool>&) {
      for (std::size_t part = begin; part < end; ++part) {
        const std::size_t step = first + part * part_steps;
        const std::size_t steps = std::min(part_steps, first + count - step);
        texts[part].end =
            write_step_text(texts[part].buffer.get(), block.values + step * block.parameters,
                            block.parameters, steps, first_number + step, width);
      }
    });
    for (std::size_t part = 0; part < used; ++part) {
      const char* text = texts[part].buffer.get();
      const auto size = static_cast<std::size_t>(texts[part].end - text);
      if (const int failure = write_all(fd, text, size)) return failure;
    }
  }
  return 0;
}

}  // namespace tarnex::vormant
