// The line source: a plot file delivered line by line as UTF-8 text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "text/io_error.hpp"

namespace tarnex {

// An open file descriptor, closed exactly once when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) = delete;
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

enum class LineStatus { Line, EndOfFile, Error };

class LineSource {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  // Opens `path` read-only and close-on-exec; a NUL anywhere in it is refused without a
  // system call. EINTR is retried.
  static std::variant<LineSource, IoError> open(std::string_view path);

  // The next line without its line feed (and the carriage return directly before it). The
  // view stays valid until the next call. On Error, error() says why: a read failure (the
  // line's bytes are lost) or a line that is not valid UTF-8 (its bytes are consumed).
  LineStatus next(std::string_view& line);
  const IoError& error() const noexcept { return error_; }
  // The 1-based number of the last line taken from the file: handed out, or refused as invalid
  // UTF-8. 0 before the first.
  std::uint64_t line_number() const noexcept { return line_number_; }

 private:
  explicit LineSource(FileDescriptor file);
  bool refill();
  LineStatus finish_line(std::string_view& line, bool ended_by_line_feed);

  FileDescriptor file_;
  IoError error_ = IoError::invalid_data();
  std::unique_ptr<char[]> buffer_;
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  std::uint64_t line_number_ = 0;
  std::string gathered_;  // a line that spans chunks, gathered here
};

}  // namespace tarnex
