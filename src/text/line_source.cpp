#include "text/line_source.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::variant<LineSource, IoError> LineSource::open(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return IoError::nul_in_path();
  const std::string terminated(path);
  int fd;
  do {
    fd = ::open(terminated.c_str(), O_RDONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return IoError::system(errno);
  return LineSource(FileDescriptor(fd));
}

LineSource::LineSource(FileDescriptor file)
    : file_(std::move(file)), buffer_(new char[kBufferSize]) {}

bool LineSource::refill() {
  ssize_t count;
  do {
    count = ::read(file_.get(), buffer_.get(), kBufferSize);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    error_ = IoError::system(errno);
    position_ = filled_ = 0;
    return false;
  }
  position_ = 0;
  filled_ = static_cast<std::size_t>(count);
  return true;
}

LineStatus LineSource::next(std::string_view& line) {
  gathered_.clear();
  bool gathering = false;  // bytes of this line already sit in gathered_
  for (;;) {
    if (position_ == filled_) {
      if (!refill()) return LineStatus::Error;
      if (filled_ == 0) {
        if (!gathering) return LineStatus::EndOfFile;
        line = gathered_;
        return finish_line(line, false);
      }
    }
    const char* start = buffer_.get() + position_;
    const std::size_t unread = filled_ - position_;
    const auto* feed = static_cast<const char*>(std::memchr(start, '\n', unread));
    if (feed != nullptr) {
      const auto length = static_cast<std::size_t>(feed - start);
      position_ += length + 1;
      if (gathering) {
        gathered_.append(start, length);
        line = gathered_;
      } else {
        line = std::string_view(start, length);  // the whole line lies in the buffer
      }
      return finish_line(line, true);
    }
    gathered_.append(start, unread);
    position_ = filled_;
    gathering = true;
  }
}

LineStatus LineSource::finish_line(std::string_view& line, bool ended_by_line_feed) {
  ++line_number_;
  if (!is_valid_utf8(line)) {
    error_ = IoError::invalid_data();
    return LineStatus::Error;
  }
  if (ended_by_line_feed && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return LineStatus::Line;
}

}  // namespace tarnex
