// The line source: a plot file delivered line by line as UTF-8 text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "text/chunk_scan.hpp"
#include "text/io_error.hpp"

namespace tarnex {

// An open file descriptor, closed exactly once when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const noexcept { return fd_; }
  int release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() noexcept;  // closes, ignoring a failure of close

 private:
  int fd_;
};

// `path` opened read-only and close-on-exec; a NUL anywhere in it is refused without a system
// call. EINTR is retried.
std::variant<FileDescriptor, IoError> open_read_only(std::string_view path);

enum class LineStatus { Line, EndOfFile, Error };

// Lines of the chunk at hand that a reader takes whole, without the line-by-line path (see
// LineSource::regular_lines).
struct LineRun {
  const char* start = nullptr;  // the first line's first byte
  std::size_t lines = 0;
  std::size_t bytes = 0;       // the lines' bytes, their line ends included
  std::size_t terminator = 0;  // the length of each line end: 1 for LF, 2 for CR LF
};

class LineSource {
 public:
  // tarnex's callers see the file read in pieces of this size; other front ends may ask for
  // larger ones.
  static constexpr std::size_t kDefaultReadSize = 8192;
  // vormant is free of tarnex's 8192-byte reads. 64 KiB pieces take an eighth of the read
  // calls and cut a whole read by some 3 to 7 percent; larger pieces measured no faster, and
  // cost resident memory: the buffer and its marks are touched in full for any file at least
  // that large, which for a file of a few hundred kilobytes would outweigh its values.
  static constexpr std::size_t kBulkReadSize = std::size_t{64} << 10;

  // Opens `path` read-only and close-on-exec; a NUL anywhere in it is refused without a
  // system call. EINTR is retried. Chunks are scanned with `level`, which the processor must
  // support: the best it has unless a test asks for another. Each read asks for `read_size`
  // bytes (at least 1); the buffer and its marks are that large.
  static std::variant<LineSource, IoError> open(std::string_view path,
                                                ScanLevel level = best_scan_level(),
                                                std::size_t read_size = kDefaultReadSize);

  // Bytes [start, end) of the open file `fd`, which stays the caller's, read with pread so that
  // several sources can share one descriptor. `start` is the start of line `first_line` of the
  // file; the source ends at `end` as a file would.
  static LineSource over_range(int fd, std::uint64_t start, std::uint64_t end,
                               std::uint64_t first_line, ScanLevel level = best_scan_level(),
                               std::size_t read_size = kDefaultReadSize);

  // The next line without its line feed (and the carriage return directly before it). The
  // view stays valid until the next call. On Error, error() says why: a read failure (the
  // line's bytes are lost) or a line that is not valid UTF-8 (its bytes are consumed).
  LineStatus next(std::string_view& line) {
    // Nearly every line lies whole in the chunk at hand and is ASCII: found from the marks alone.
    if (position_ != filled_) {
      const std::size_t feed = marks_.next_line_feed(position_, filled_);
      if (feed != filled_ && chunk_is_ascii(position_, feed)) {
        line = std::string_view(buffer_.get() + position_, feed - position_);
        position_ = feed + 1;
        return take_line(line, true);
      }
    }
    return next_with_checks(line);
  }
  // At least this many bytes can be read past the end of a LineRun, whatever they hold.
  static constexpr std::size_t kRunPadding = 16;

  // The next lines, up to `lines` of them, for as long as each lies whole in the chunk at hand,
  // is ASCII and has a line end of the same kind as the first's right after `length` bytes (the
  // last of the `lines`: `last_length`). Nothing is taken until take_lines(). A line feed may
  // still lie inside such a line, which would make it two lines for next(): a reader that takes
  // the run whole must rule that out, as a reader of fixed-width fields does by finding no line
  // feed in any field (its fields cover the line).
  LineRun regular_lines(std::size_t length, std::size_t last_length, std::size_t lines) noexcept;
  // The same for groups of lines: up to `most` groups, each a line of any length and then
  // `lines` lines as regular_lines takes them, all with one kind of line end. The offset of
  // each group's second line from run.start goes to regular_starts[group]; run.lines counts
  // every line of the groups. The number of groups is returned.
  std::size_t regular_groups(std::size_t length, std::size_t last_length, std::size_t lines,
                             std::size_t most, std::uint32_t* regular_starts,
                             LineRun& run) noexcept;
  void take_lines(const LineRun& run) noexcept {
    position_ += run.bytes;
    line_number_ += run.lines;
  }

  const IoError& error() const noexcept { return error_; }
  // The 1-based number of the last line taken from the file: handed out, or refused as invalid
  // UTF-8. 0 before the first.
  std::uint64_t line_number() const noexcept { return line_number_; }
  // The offset in the file of the first byte not yet handed out.
  std::uint64_t offset() const noexcept { return chunk_start_ + position_; }

 private:
  LineSource(FileDescriptor file, int fd, ScanLevel level, std::size_t read_size);
  bool refill();
  // next() for a line that is not ASCII or does not lie whole in the chunk at hand.
  LineStatus next_with_checks(std::string_view& line);
  LineStatus next_across_chunks(std::string_view& line);
  // The offset just past the line that starts at `at` when the chunk at hand holds a line end
  // of `terminator` bytes right after `content` bytes from `at`; 0 otherwise.
  std::size_t regular_line_end(std::size_t at, std::size_t content,
                               std::size_t terminator) const noexcept;
  // The kind of line end (1 or 2 bytes) that the line at `at` would have after `content` bytes.
  std::size_t terminator_after(std::size_t at, std::size_t content) const noexcept {
    return at + content < filled_ && buffer_[at + content] == '\r' ? 2 : 1;
  }
  bool chunk_is_ascii(std::size_t start, std::size_t end) noexcept {
    if (next_non_ascii_ < start) next_non_ascii_ = marks_.next_non_ascii(start, filled_);
    return next_non_ascii_ >= end;
  }
  LineStatus finish_line(std::string_view& line, bool ended_by_line_feed, bool ascii);
  // Counts a line that has passed its checks and drops the carriage return before its line feed.
  LineStatus take_line(std::string_view& line, bool ended_by_line_feed) noexcept {
    ++line_number_;
    if (ended_by_line_feed && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    return LineStatus::Line;
  }

  FileDescriptor file_;  // the descriptor the source owns, if any
  int fd_;               // the descriptor it reads
  // Ranged sources read with pread from next_read_ up to end_; the others read on.
  bool ranged_ = false;
  std::uint64_t next_read_ = 0;
  std::uint64_t end_ = 0;
  std::uint64_t chunk_start_ = 0;  // the file offset of the buffer's first byte
  IoError error_ = IoError::invalid_data();
  std::unique_ptr<char[]> buffer_;
  ChunkMarks marks_;  // of the bytes in buffer_; its capacity is the read size
  ChunkScanner scan_;
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  std::uint64_t line_number_ = 0;
  // The first non-ASCII byte of the chunk at or after some offset at or before position_, or
  // filled_: lines that end before it need no UTF-8 check.
  std::size_t next_non_ascii_ = 0;
  std::string gathered_;  // a line that spans chunks, gathered here
};

}  // namespace tarnex
