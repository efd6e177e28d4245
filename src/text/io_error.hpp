// I/O errors as values, and the texts that describe them in fatal messages.
#pragma once

#include <string>
#include <string_view>

namespace tarnex {

enum class ErrorKind {
  NotFound, PermissionDenied, ConnectionRefused, ConnectionReset, HostUnreachable,
  NetworkUnreachable, ConnectionAborted, NotConnected, AddrInUse, AddrNotAvailable,
  NetworkDown, BrokenPipe, AlreadyExists, WouldBlock, NotADirectory, IsADirectory,
  DirectoryNotEmpty, ReadOnlyFilesystem, FilesystemLoop, StaleNetworkFileHandle,
  InvalidInput, TimedOut, StorageFull, NotSeekable, QuotaExceeded, FileTooLarge,
  ResourceBusy, ExecutableFileBusy, Deadlock, CrossesDevices, TooManyLinks,
  InvalidFilename, ArgumentListTooLong, Interrupted, Unsupported, OutOfMemory,
  InProgress, TooManyOpenFiles, Uncategorized, InvalidData, WriteZero,
};

std::string_view kind_name(ErrorKind kind) noexcept;
ErrorKind kind_of_errno(int code) noexcept;

// Either a system error (an errno value) or one of the program's fixed-message errors.
class IoError {
 public:
  static IoError system(int code) noexcept { return IoError(code, kind_of_errno(code), {}); }
  static IoError invalid_data() noexcept;
  static IoError nul_in_path() noexcept;
  static IoError write_zero_buffered() noexcept;
  static IoError write_zero_direct() noexcept;

  bool is_system() const noexcept { return fixed_message_.empty(); }
  int code() const noexcept { return code_; }
  ErrorKind kind() const noexcept { return kind_; }

  // `Os { code: 2, kind: NotFound, message: "No such file or directory" }` or
  // `Error { kind: InvalidData, message: "stream did not contain valid UTF-8" }`.
  std::string describe() const;
  // `No such file or directory (os error 2)` or the fixed message alone.
  std::string display() const;

 private:
  IoError(int code, ErrorKind kind, std::string_view fixed_message) noexcept
      : code_(code), kind_(kind), fixed_message_(fixed_message) {}

  int code_;
  ErrorKind kind_;
  std::string_view fixed_message_;
};

// strerror_r's text for `code` in a 128-byte buffer, invalid UTF-8 replaced by U+FFFD.
std::string system_message(int code);

}  // namespace tarnex
