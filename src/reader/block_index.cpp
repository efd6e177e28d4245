#include "reader/block_index.hpp"

#include <unistd.h>

#include <cerrno>
#include <memory>

#include "text/positioned_read.hpp"

namespace tarnex {
namespace {

// Each read of the scan asks for this much: large enough that the calls cost nothing beside
// the bytes, small enough to stay in the processor's caches while it is scanned.
constexpr std::size_t kScanPiece = std::size_t{1} << 20;

}  // namespace

BlockIndex::BlockIndex(std::uint64_t parameters, std::uint64_t data_start, std::uint64_t first_line)
    : value_lines_(value_lines_per_step(parameters)),
      first_line_(first_line),
      complete_end_(data_start),
      scanned_end_(data_start),
      block_start_(data_start),
      line_start_(data_start) {}

std::uint64_t BlockIndex::value_line_start(std::size_t step, std::uint64_t line) const noexcept {
  return end(step) - (last_length_ + 1) - (value_lines_ - 1 - line) * (full_length_ + 1);
}

bool BlockIndex::has_common_length(std::uint64_t value_line, std::uint64_t length) noexcept {
  if (lengths_known_) return length == value_line_length(value_line);
  // The first block sets the lengths the others are held to.
  if (value_line + 1 == value_lines_) {
    last_length_ = length;
  } else if (value_line == 0) {
    full_length_ = length;
  } else if (length != full_length_) {
    return false;
  }
  return true;
}

void BlockIndex::end_line(std::uint64_t end, bool by_line_feed) {
  if (lines_ended_ > 0 &&
      !(by_line_feed && has_common_length(lines_ended_ - 1, end - line_start_))) {
    block_regular_ = false;
  }
  line_start_ = end + 1;
  if (++lines_ended_ <= value_lines_) return;
  starts_.push_back(block_start_ | (block_regular_ ? 0 : kIrregular));
  complete_end_ = by_line_feed ? end + 1 : end;
  ended_by_file_end_ = !by_line_feed;
  block_start_ = complete_end_;
  lines_ended_ = 0;
  block_regular_ = true;
  lengths_known_ = true;
}

void BlockIndex::reopen_last_block() noexcept {
  complete_end_ = start(starts_.size() - 1);
  starts_.pop_back();
  ended_by_file_end_ = false;
  // The first block sets the line lengths: indexed again, it sets them again.
  if (starts_.empty()) lengths_known_ = false;
}

std::size_t BlockIndex::extend(int fd, bool growing, FailurePolicy& policy, ScanLevel level,
                               LineVisitor* visitor, std::size_t most) {
  const std::size_t before = starts_.size();
  if (most == 0) return 0;
  const std::size_t limit = most > SIZE_MAX - before ? SIZE_MAX : before + most;
  // A block the end of the file ended is indexed again, as one that has grown since would be
  // indexed afresh; a file that has not grown gives it back as it was.
  if (ended_by_file_end_) reopen_last_block();
  // A block left incomplete by the last scan is scanned again from its start.
  block_start_ = line_start_ = complete_end_;
  lines_ended_ = 0;
  block_regular_ = true;
  std::unique_ptr<char[]> buffer(new char[kScanPiece]);
  ChunkMarks marks(kScanPiece);
  const ChunkScanner scan = chunk_scanner(level);
  std::uint64_t offset = complete_end_;
  for (;;) {
    const ssize_t count = read_at(fd, buffer.get(), kScanPiece, offset);
    if (count < 0) {
      report_failure(policy, {.kind = FailureKind::ReadError,
                              .line = lead_line(starts_.size()) + lines_ended_,
                              .io_error = IoError::system(errno)});
    }
    if (count == 0) break;
    const auto size = static_cast<std::size_t>(count);
    scan(buffer.get(), size, marks);
    const std::uint64_t* feeds = marks.line_feeds();
    for (std::size_t word = 0; word * ChunkMarks::kBlockSize < size; ++word) {
      for (std::uint64_t bits = feeds[word]; bits != 0; bits &= bits - 1) {
        const auto bit = static_cast<std::uint64_t>(__builtin_ctzll(bits));
        const std::uint64_t end = offset + word * ChunkMarks::kBlockSize + bit;
        if (visitor != nullptr && lines_ended_ > 0) {
          const char* text =
              line_start_ >= offset ? buffer.get() + (line_start_ - offset) : nullptr;
          visitor->value_line(starts_.size(), lines_ended_ - 1, line_start_, end, text, true);
        }
        end_line(end, true);
        if (starts_.size() == limit) {
          scanned_end_ = complete_end_;
          return most;
        }
      }
    }
    offset += size;
  }
  scanned_end_ = offset;
  // The last line of a finished file may lack its line feed; a growing file's is still being
  // written.
  if (!growing && line_start_ < scanned_end_) {
    if (visitor != nullptr && lines_ended_ > 0) {
      visitor->value_line(starts_.size(), lines_ended_ - 1, line_start_, scanned_end_, nullptr,
                          false);
    }
    end_line(scanned_end_, false);
  }
  if (!growing) starts_.shrink_to_fit();
  // A block taken out and not completed again (the file now growing) was not added.
  return starts_.size() > before ? starts_.size() - before : 0;
}

}  // namespace tarnex
