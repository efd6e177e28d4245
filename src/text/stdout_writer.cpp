#include "text/stdout_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "boundary/fatal_error.hpp"

namespace tarnex {
namespace {

constexpr std::size_t kBufferCapacity = 1024;
constexpr std::size_t kMaxWriteSize = INT_MAX;  // what one write call may be asked to take
constexpr std::string_view kFailedPrintingPrefix = "failed printing to stdout: ";

enum class WriteMode { Buffered, Direct };

// Writes all of `bytes` to descriptor 1. EBADF means standard output is closed: the bytes are
// dropped as if written. Returns how many bytes got out, and the failure if there was one.
std::optional<IoError> write_all(std::string_view bytes, WriteMode mode, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    const std::size_t chunk = std::min(bytes.size() - written, kMaxWriteSize);
    const ssize_t count = ::write(STDOUT_FILENO, bytes.data() + written, chunk);
    if (count < 0) {
      if (errno == EINTR) continue;
      if (errno == EBADF) {
        written = bytes.size();
        return std::nullopt;
      }
      return IoError::system(errno);
    }
    if (count == 0) {
      return mode == WriteMode::Buffered ? IoError::write_zero_buffered()
                                         : IoError::write_zero_direct();
    }
    written += static_cast<std::size_t>(count);
  }
  return std::nullopt;
}

// Standard output behind a line-buffering 1024-byte buffer: complete lines go out at once,
// a partial line waits in the buffer for the rest of it.
class StdoutWriter {
 public:
  std::recursive_mutex& lock() { return lock_; }

  // After a failed print the rest of its message is dropped rather than left to prefix the
  // next one.
  void discard() { buffered_ = 0; }

  std::optional<IoError> write_piece(std::string_view piece) {
    const std::size_t last_feed = piece.rfind('\n');
    if (last_feed == std::string_view::npos) {
      if (buffer_ends_line()) {
        if (auto error = flush()) return error;
      }
      return buffer_or_write(piece);
    }
    const std::string_view lines = piece.substr(0, last_feed + 1);
    if (buffered_ == 0) {
      std::size_t written;
      if (auto error = write_all(lines, WriteMode::Direct, written)) return error;
    } else {
      if (auto error = buffer_or_write(lines)) return error;
      if (auto error = flush()) return error;
    }
    return buffer_or_write(piece.substr(last_feed + 1));
  }

 private:
  bool buffer_ends_line() const { return buffered_ > 0 && buffer_[buffered_ - 1] == '\n'; }

  // Keeps `bytes` in the buffer when they fit; else makes room, and writes them directly when
  // they would fill the buffer by themselves.
  std::optional<IoError> buffer_or_write(std::string_view bytes) {
    if (bytes.size() >= kBufferCapacity - buffered_) {
      if (bytes.size() > kBufferCapacity - buffered_) {
        if (auto error = flush()) return error;
      }
      if (bytes.size() >= kBufferCapacity) {
        std::size_t written;
        return write_all(bytes, WriteMode::Direct, written);
      }
    }
    if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferCapacity);
    std::memcpy(buffer_.get() + buffered_, bytes.data(), bytes.size());
    buffered_ += bytes.size();
    return std::nullopt;
  }

  // Writes the buffer out; what could not be written stays buffered.
  std::optional<IoError> flush() {
    if (buffered_ == 0) return std::nullopt;
    std::size_t written = 0;
    auto error = write_all(std::string_view(buffer_.get(), buffered_), WriteMode::Buffered, written);
    std::memmove(buffer_.get(), buffer_.get() + written, buffered_ - written);
    buffered_ -= written;
    return error;
  }

  std::recursive_mutex lock_;
  std::unique_ptr<char[]> buffer_;  // allocated on the first print
  std::size_t buffered_ = 0;
};

StdoutWriter& stdout_writer() {
  // Lives until the process ends: another thread may print while the process exits.
  static auto* writer = new StdoutWriter;
  return *writer;
}

}  // namespace

std::optional<IoError> print_pieces(std::initializer_list<std::string_view> pieces) {
  StdoutWriter& writer = stdout_writer();
  std::lock_guard guard(writer.lock());
  for (const std::string_view piece : pieces) {
    if (auto error = writer.write_piece(piece)) {
      writer.discard();
      return error;
    }
  }
  return std::nullopt;
}

void print_line(std::initializer_list<std::string_view> pieces) {
  if (auto error = print_pieces(pieces)) {
    fatal(std::string(kFailedPrintingPrefix) + error->display());
  }
}

}  // namespace tarnex
