#include "text/io_error.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "text/utf8_lossy.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kInvalidDataMessage = "stream did not contain valid UTF-8";
constexpr std::string_view kNulInPathMessage = "file name contained an unexpected NUL byte";
constexpr std::string_view kWriteZeroBufferedMessage = "failed to write the buffered data";
constexpr std::string_view kWriteZeroDirectMessage = "failed to write whole buffer";

constexpr std::size_t kStrerrorBufferSize = 128;

// strerror_r comes in two flavours; both are handled so the text is the platform's either way.
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* strerror_text(const char* result, const char*) { return result; }

}  // namespace

std::string_view kind_name(ErrorKind kind) noexcept {
  switch (kind) {
#define TARNEX_KIND(name) \
  case ErrorKind::name:   \
    return #name;
    TARNEX_KIND(NotFound) TARNEX_KIND(PermissionDenied) TARNEX_KIND(ConnectionRefused)
    TARNEX_KIND(ConnectionReset) TARNEX_KIND(HostUnreachable) TARNEX_KIND(NetworkUnreachable)
    TARNEX_KIND(ConnectionAborted) TARNEX_KIND(NotConnected) TARNEX_KIND(AddrInUse)
    TARNEX_KIND(AddrNotAvailable) TARNEX_KIND(NetworkDown) TARNEX_KIND(BrokenPipe)
    TARNEX_KIND(AlreadyExists) TARNEX_KIND(WouldBlock) TARNEX_KIND(NotADirectory)
    TARNEX_KIND(IsADirectory) TARNEX_KIND(DirectoryNotEmpty) TARNEX_KIND(ReadOnlyFilesystem)
    TARNEX_KIND(FilesystemLoop) TARNEX_KIND(StaleNetworkFileHandle) TARNEX_KIND(InvalidInput)
    TARNEX_KIND(TimedOut) TARNEX_KIND(StorageFull) TARNEX_KIND(NotSeekable)
    TARNEX_KIND(QuotaExceeded) TARNEX_KIND(FileTooLarge) TARNEX_KIND(ResourceBusy)
    TARNEX_KIND(ExecutableFileBusy) TARNEX_KIND(Deadlock) TARNEX_KIND(CrossesDevices)
    TARNEX_KIND(TooManyLinks) TARNEX_KIND(InvalidFilename) TARNEX_KIND(ArgumentListTooLong)
    TARNEX_KIND(Interrupted) TARNEX_KIND(Unsupported) TARNEX_KIND(OutOfMemory)
    TARNEX_KIND(InProgress) TARNEX_KIND(TooManyOpenFiles) TARNEX_KIND(Uncategorized)
    TARNEX_KIND(InvalidData) TARNEX_KIND(WriteZero)
#undef TARNEX_KIND
  }
  return "Uncategorized";
}

ErrorKind kind_of_errno(int code) noexcept {
  switch (code) {
    case ENOENT: return ErrorKind::NotFound;
    case EACCES: case EPERM: return ErrorKind::PermissionDenied;
    case ECONNREFUSED: return ErrorKind::ConnectionRefused;
    case ECONNRESET: return ErrorKind::ConnectionReset;
    case EHOSTUNREACH: return ErrorKind::HostUnreachable;
    case ENETUNREACH: return ErrorKind::NetworkUnreachable;
    case ECONNABORTED: return ErrorKind::ConnectionAborted;
    case ENOTCONN: return ErrorKind::NotConnected;
    case EADDRINUSE: return ErrorKind::AddrInUse;
    case EADDRNOTAVAIL: return ErrorKind::AddrNotAvailable;
    case ENETDOWN: return ErrorKind::NetworkDown;
    case EPIPE: return ErrorKind::BrokenPipe;
    case EEXIST: return ErrorKind::AlreadyExists;
    case EAGAIN: return ErrorKind::WouldBlock;
    case ENOTDIR: return ErrorKind::NotADirectory;
    case EISDIR: return ErrorKind::IsADirectory;
    case ENOTEMPTY: return ErrorKind::DirectoryNotEmpty;
    case EROFS: return ErrorKind::ReadOnlyFilesystem;
    case ELOOP: return ErrorKind::FilesystemLoop;
    case ESTALE: return ErrorKind::StaleNetworkFileHandle;
    case EINVAL: return ErrorKind::InvalidInput;
    case ETIMEDOUT: return ErrorKind::TimedOut;
    case ENOSPC: return ErrorKind::StorageFull;
    case ESPIPE: return ErrorKind::NotSeekable;
    case EDQUOT: return ErrorKind::QuotaExceeded;
    case EFBIG: return ErrorKind::FileTooLarge;
    case EBUSY: return ErrorKind::ResourceBusy;
    case ETXTBSY: return ErrorKind::ExecutableFileBusy;
    case EDEADLK: return ErrorKind::Deadlock;
    case EXDEV: return ErrorKind::CrossesDevices;
    case EMLINK: return ErrorKind::TooManyLinks;
    case ENAMETOOLONG: return ErrorKind::InvalidFilename;
    case E2BIG: return ErrorKind::ArgumentListTooLong;
    case EINTR: return ErrorKind::Interrupted;
    case ENOSYS: case EOPNOTSUPP: return ErrorKind::Unsupported;
    case ENOMEM: return ErrorKind::OutOfMemory;
    case EINPROGRESS: return ErrorKind::InProgress;
    case EMFILE: case ENFILE: return ErrorKind::TooManyOpenFiles;
    default: return ErrorKind::Uncategorized;
  }
}

IoError IoError::invalid_data() noexcept {
  return IoError(0, ErrorKind::InvalidData, kInvalidDataMessage);
}
IoError IoError::nul_in_path() noexcept {
  return IoError(0, ErrorKind::InvalidInput, kNulInPathMessage);
}
IoError IoError::write_zero_buffered() noexcept {
  return IoError(0, ErrorKind::WriteZero, kWriteZeroBufferedMessage);
}
IoError IoError::write_zero_direct() noexcept {
  return IoError(0, ErrorKind::WriteZero, kWriteZeroDirectMessage);
}

std::string system_message(int code) {
  char buffer[kStrerrorBufferSize] = {};
  const char* text = strerror_text(strerror_r(code, buffer, sizeof buffer), buffer);
  if (text == nullptr) return {};
  return utf8_lossy(std::string_view(text, strnlen(text, kStrerrorBufferSize - 1)));
}

std::string IoError::describe() const {
  std::string text;
  if (is_system()) {
    text.append("Os { code: ").append(std::to_string(code_));
    text.append(", kind: ").append(kind_name(kind_));
    text.append(", message: \"").append(system_message(code_)).append("\" }");
  } else {
    text.append("Error { kind: ").append(kind_name(kind_));
    text.append(", message: \"").append(fixed_message_).append("\" }");
  }
  return text;
}

std::string IoError::display() const {
  if (!is_system()) return std::string(fixed_message_);
  return system_message(code_) + " (os error " + std::to_string(code_) + ")";
}

}  // namespace tarnex
