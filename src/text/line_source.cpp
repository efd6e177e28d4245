#include "text/line_source.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>

#include "text/positioned_read.hpp"
#include "text/utf8.hpp"

namespace tarnex {

void FileDescriptor::reset() noexcept {
  if (fd_ >= 0) {
    // A failing close is ignored: the descriptor is gone either way on Linux, and retrying on
    // EINTR could close a descriptor that another thread has just been given.
    ::close(fd_);
    fd_ = -1;
  }
}

std::variant<FileDescriptor, IoError> open_read_only(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return IoError::nul_in_path();
  const std::string terminated(path);
  int fd;
  do {
    fd = ::open(terminated.c_str(), O_RDONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return IoError::system(errno);
  return FileDescriptor(fd);
}

std::variant<LineSource, IoError> LineSource::open(std::string_view path, ScanLevel level,
                                                   std::size_t read_size) {
  assert(read_size > 0);  // a read of 0 bytes would look like the end of the file
  auto opened = open_read_only(path);
  if (IoError* error = std::get_if<IoError>(&opened)) return *error;
  FileDescriptor& owned = std::get<FileDescriptor>(opened);
  const int fd = owned.get();
  return LineSource(std::move(owned), fd, level, read_size);
}

LineSource LineSource::over_range(int fd, std::uint64_t start, std::uint64_t end,
                                  std::uint64_t first_line, ScanLevel level,
                                  std::size_t read_size) {
  assert(read_size > 0 && start <= end && first_line > 0);
  LineSource source(FileDescriptor(-1), fd, level, read_size);
  source.ranged_ = true;
  source.next_read_ = source.chunk_start_ = start;
  source.end_ = end;
  source.line_number_ = first_line - 1;
  return source;
}

LineSource::LineSource(FileDescriptor file, int fd, ScanLevel level, std::size_t read_size)
    : file_(std::move(file)),
      fd_(fd),
      buffer_(new char[read_size + kRunPadding]()),
      marks_(read_size),
      scan_(chunk_scanner(level)) {}

bool LineSource::refill() {
  ssize_t count = 0;
  if (!ranged_) {
    do {
      count = ::read(fd_, buffer_.get(), marks_.capacity());
    } while (count < 0 && errno == EINTR);
  } else if (next_read_ < end_) {
    const std::uint64_t left = end_ - next_read_;
    const std::size_t wanted =
        left < marks_.capacity() ? static_cast<std::size_t>(left) : marks_.capacity();
    count = read_at(fd_, buffer_.get(), wanted, next_read_);
  }
  if (count < 0) {
    error_ = IoError::system(errno);
    position_ = filled_ = 0;
    return false;
  }
  chunk_start_ = next_read_;
  next_read_ += static_cast<std::uint64_t>(count);
  position_ = 0;
  filled_ = static_cast<std::size_t>(count);
  scan_(buffer_.get(), filled_, marks_);
  next_non_ascii_ = marks_.next_non_ascii(0, filled_);
  return true;
}

std::size_t LineSource::regular_line_end(std::size_t at, std::size_t content,
                                         std::size_t terminator) const noexcept {
  const std::size_t feed = at + content + terminator - 1;
  if (feed >= filled_ || buffer_[feed] != '\n') return 0;
  // A line end of LF alone must not follow a carriage return, which next() would drop.
  if ((buffer_[feed - 1] == '\r') != (terminator == 2)) return 0;
  return feed + 1;
}

LineRun LineSource::regular_lines(std::size_t length, std::size_t last_length,
                                  std::size_t lines) noexcept {
  if (lines == 0 || position_ >= filled_) return {};
  LineRun run;
  run.terminator = terminator_after(position_, lines == 1 ? last_length : length);
  std::size_t at = position_;
  for (; run.lines < lines; ++run.lines) {
    const std::size_t content = run.lines + 1 == lines ? last_length : length;
    const std::size_t end = regular_line_end(at, content, run.terminator);
    if (end == 0) break;
    at = end;
  }
  if (run.lines == 0 || !chunk_is_ascii(position_, at)) return {};
  run.start = buffer_.get() + position_;
  run.bytes = at - position_;
  return run;
}

std::size_t LineSource::regular_groups(std::size_t length, std::size_t last_length,
                                       std::size_t lines, std::size_t most,
                                       std::uint32_t* regular_starts, LineRun& run) noexcept {
  run = {};
  if (position_ >= filled_) return 0;
  std::size_t at = position_;
  std::size_t groups = 0;
  for (; groups < most; ++groups) {
    const std::size_t first_feed = marks_.next_line_feed(at, filled_);
    if (first_feed == filled_) break;
    const std::size_t regular_start = first_feed + 1;
    if (run.terminator == 0) {
      run.terminator = terminator_after(regular_start, lines == 1 ? last_length : length);
    }
    std::size_t end = regular_start;
    for (std::size_t line = 0; line < lines && end != 0; ++line) {
      end = regular_line_end(end, line + 1 == lines ? last_length : length, run.terminator);
    }
    if (end == 0) break;
    regular_starts[groups] = static_cast<std::uint32_t>(regular_start - position_);
    at = end;
  }
  run.lines = groups * (lines + 1);
  if (groups == 0 || !chunk_is_ascii(position_, at)) return 0;
  run.start = buffer_.get() + position_;
  run.bytes = at - position_;
  return groups;
}

LineStatus LineSource::next_with_checks(std::string_view& line) {
  if (position_ != filled_) {
    const std::size_t feed = marks_.next_line_feed(position_, filled_);
    if (feed != filled_) {
      line = std::string_view(buffer_.get() + position_, feed - position_);
      const bool ascii = chunk_is_ascii(position_, feed);
      position_ = feed + 1;
      return finish_line(line, true, ascii);
    }
  }
  return next_across_chunks(line);
}

LineStatus LineSource::next_across_chunks(std::string_view& line) {
  gathered_.clear();
  bool gathering = false;  // bytes of this line already sit in gathered_
  bool ascii = true;       // so far every byte of this line is ASCII
  for (;;) {
    if (position_ == filled_) {
      if (!refill()) return LineStatus::Error;
      if (filled_ == 0) {
        if (!gathering) return LineStatus::EndOfFile;
        line = gathered_;
        return finish_line(line, false, ascii);
      }
    }
    const char* start = buffer_.get() + position_;
    const std::size_t feed = marks_.next_line_feed(position_, filled_);
    ascii = ascii && chunk_is_ascii(position_, feed);
    if (feed != filled_) {
      const std::size_t length = feed - position_;
      position_ = feed + 1;
      if (gathering) {
        gathered_.append(start, length);
        line = gathered_;
      } else {
        line = std::string_view(start, length);  // the whole line lies in the buffer
      }
      return finish_line(line, true, ascii);
    }
    gathered_.append(start, filled_ - position_);
    position_ = filled_;
    gathering = true;
  }
}

LineStatus LineSource::finish_line(std::string_view& line, bool ended_by_line_feed, bool ascii) {
  if (!ascii && !is_valid_utf8(line)) {
    ++line_number_;
    error_ = IoError::invalid_data();
    return LineStatus::Error;
  }
  return take_line(line, ended_by_line_feed);
}

}  // namespace tarnex
