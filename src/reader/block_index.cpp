#include "reader/block_index.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "reader/thread_split.hpp"
#include "text/positioned_read.hpp"

namespace tarnex {
namespace {

// Each read of the scan asks for this much: large enough that the calls cost nothing beside
// the bytes, small enough to stay in the processor's caches while it is scanned.
constexpr std::size_t kScanPiece = std::size_t{1} << 20;
// A scan takes a thread per this many bytes, up to the processors it may use: fewer bytes are
// scanned before another thread pays for itself.
constexpr std::uint64_t kBytesPerRange = std::uint64_t{32} << 20;
// Each thread of a shared scan takes this many bytes at a time, their line feeds kept until the
// blocks are joined in order: a bound on the memory held, large enough that the threads seldom
// wait for one another.
constexpr std::size_t kWindow = std::size_t{16} << 20;

// Calls at(position) for each line feed the marks hold among the chunk's `size` bytes, in order.
template <class At>
void for_each_line_feed(ChunkMarks& marks, std::size_t size, At&& at) {
  const std::uint64_t* feeds = marks.line_feeds();
  for (std::size_t word = 0; word * ChunkMarks::kBlockSize < size; ++word) {
    for (std::uint64_t bits = feeds[word]; bits != 0; bits &= bits - 1) {
      at(word * ChunkMarks::kBlockSize + static_cast<std::size_t>(__builtin_ctzll(bits)));
    }
  }
}

// One thread's window of a shared scan: its bytes read a piece at a time, the offsets of their
// line feeds from the window's start kept for the join.
class WindowScan {
 public:
  explicit WindowScan(ScanLevel level)
      : buffer_(new char[kScanPiece]), marks_(kScanPiece), scan_(chunk_scanner(level)) {}

  // Scans bytes [start, start + size) of the file, or as many as it has.
  void scan(int fd, std::uint64_t start, std::size_t size) {
    start_ = start;
    wanted_ = size;
    scanned_ = 0;
    error_ = 0;
    feeds_.clear();
    while (scanned_ < size) {
      const ssize_t count =
          read_at(fd, buffer_.get(), std::min(kScanPiece, size - scanned_), start + scanned_);
      if (count <= 0) {
        error_ = count < 0 ? errno : 0;
        return;
      }
      const auto piece = static_cast<std::size_t>(count);
      scan_(buffer_.get(), piece, marks_);
      for_each_line_feed(marks_, piece, [&](std::size_t at) {
        feeds_.push_back(static_cast<std::uint32_t>(scanned_ + at));
      });
      scanned_ += piece;
    }
  }

  std::uint64_t start() const noexcept { return start_; }
  std::uint64_t end() const noexcept { return start_ + scanned_; }
  const std::vector<std::uint32_t>& feeds() const noexcept { return feeds_; }
  // The errno of a failed read, 0 when none failed.
  int error() const noexcept { return error_; }
  // Whether the file ended, or a read failed, before the window's end.
  bool cut_short() const noexcept { return scanned_ < wanted_; }

 private:
  std::unique_ptr<char[]> buffer_;
  ChunkMarks marks_;
  ChunkScanner scan_;
  std::uint64_t start_ = 0;
  std::size_t wanted_ = 0;
  std::size_t scanned_ = 0;
  int error_ = 0;
  std::vector<std::uint32_t> feeds_;
};

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

void BlockIndex::fail_to_read(FailurePolicy& policy, int code) const {
  report_failure(policy, {.kind = FailureKind::ReadError,
                          .line = lead_line(starts_.size()) + lines_ended_,
                          .io_error = IoError::system(code)});
}

std::uint64_t BlockIndex::extend_shared(int fd, std::uint64_t offset, FailurePolicy& policy,
                                        ScanLevel level, ScanSplit split) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) <= offset) {
    return offset;  // what is wrong, or what is left, the scan on one thread meets
  }
  const auto end = static_cast<std::uint64_t>(status.st_size);
  const std::size_t ranges = split.ranges != 0
                                 ? split.ranges
                                 : static_cast<std::size_t>(std::min<std::uint64_t>(
                                       usable_processors(), (end - offset) / kBytesPerRange + 1));
  if (ranges < 2) return offset;
  const std::uint64_t share = (end - offset + ranges - 1) / ranges;
  const auto window = static_cast<std::size_t>(
      std::min<std::uint64_t>(split.window != 0 ? split.window : kWindow, share));
  std::vector<WindowScan> scans;
  scans.reserve(ranges);
  for (std::size_t part = 0; part < ranges; ++part) scans.emplace_back(level);
  while (offset < end) {
    const std::uint64_t round = offset;
    run_split(ranges, ranges, [&](std::size_t part, std::size_t, const std::atomic<bool>&) {
      const std::uint64_t start = std::min(end, round + part * std::uint64_t{window});
      scans[part].scan(fd, start,
                       static_cast<std::size_t>(std::min<std::uint64_t>(window, end - start)));
    });
    // The windows joined in file order, line by line, as one thread would have met them.
    for (const WindowScan& scan : scans) {
      for (const std::uint32_t feed : scan.feeds()) end_line(scan.start() + feed, true);
      if (scan.error() != 0) fail_to_read(policy, scan.error());
      offset = scan.end();
      if (scan.cut_short()) return offset;
    }
  }
  return offset;
}

std::size_t BlockIndex::extend(int fd, bool growing, FailurePolicy& policy, ScanLevel level,
                               LineVisitor* visitor, std::size_t most, ScanSplit split,
                               std::uint64_t until) {
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
  if (visitor == nullptr && most == SIZE_MAX && until == UINT64_MAX) {
    offset = extend_shared(fd, offset, policy, level, split);
  }
  while (offset < until) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(kScanPiece, until - offset));
    const ssize_t count = read_at(fd, buffer.get(), wanted, offset);
    if (count < 0) fail_to_read(policy, errno);
    if (count == 0) break;
    const auto size = static_cast<std::size_t>(count);
    scan(buffer.get(), size, marks);
    bool full = false;
    for_each_line_feed(marks, size, [&](std::size_t at) {
      if (full) return;
      const std::uint64_t end = offset + at;
      if (visitor != nullptr && lines_ended_ > 0) {
        const char* text = line_start_ >= offset ? buffer.get() + (line_start_ - offset) : nullptr;
        visitor->value_line(starts_.size(), lines_ended_ - 1, line_start_, end, text, true);
      }
      end_line(end, true);
      full = starts_.size() == limit;
    });
    if (full) {
      scanned_end_ = complete_end_;
      return most;
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
