#include "boundary/fatal_report.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tarnex {
namespace {

constexpr std::size_t kSingleWriteLimit = 512;
constexpr std::string_view kThreadName = "<unnamed>";
constexpr std::string_view kNestedReportNotice = "thread panicked while processing panic. aborting.\n";

// Serialises reports of all threads. Never destroyed, so a report written while the process
// exits still finds it.
std::mutex& report_lock() {
  static auto* lock = new std::mutex;
  return *lock;
}

thread_local bool writing_report = false;

// The number the system knows the calling thread by, as its own tools show it: the kernel's
// thread id on Linux, the system-wide 64-bit one on macOS (not the pthread_t address).
std::uint64_t current_thread_id() noexcept {
#if defined(__APPLE__)
  std::uint64_t id = 0;
  ::pthread_threadid_np(nullptr, &id);
  return id;
#else
  return static_cast<std::uint64_t>(::gettid());
#endif
}

void write_all_to_stderr(std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // a report that cannot be written is dropped
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Collects the pieces of a report in a fixed buffer so that a short one goes out in one write;
// pieces that no longer fit are written as they come.
class ReportWriter {
 public:
  void add(std::string_view piece) noexcept {
    if (!overflowed_ && length_ + piece.size() <= kSingleWriteLimit) {
      std::memcpy(buffer_ + length_, piece.data(), piece.size());
      length_ += piece.size();
      return;
    }
    flush();
    overflowed_ = true;
    write_all_to_stderr(piece);
  }
  void add(std::uint64_t number) noexcept {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  void flush() noexcept {
    write_all_to_stderr(std::string_view(buffer_, length_));
    length_ = 0;
  }

 private:
  char buffer_[kSingleWriteLimit];
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

void add_header(ReportWriter& out, const std::source_location& where) noexcept {
  out.add("thread '");
  out.add(kThreadName);
  out.add("' (");
  out.add(current_thread_id());
  out.add(") panicked at ");
  out.add(where.file_name());
  out.add(":");
  out.add(std::uint64_t{where.line()});
  out.add(":");
  out.add(std::uint64_t{where.column()});
  out.add(":\n");
}

[[noreturn]] void abort_nested_report(std::string_view message,
                                      const std::source_location& where) noexcept {
  ReportWriter out;
  add_header(out, where);
  out.add(message);
  out.add("\n");
  out.add(kNestedReportNotice);
  out.flush();
  std::abort();
}

}  // namespace

void write_fatal_report(std::string_view message, const std::source_location& where) noexcept {
  if (writing_report) abort_nested_report(message, where);
  writing_report = true;
  {
    std::lock_guard guard(report_lock());
    ReportWriter out;
    out.add("\n");
    add_header(out, where);
    out.add(message);
    out.add("\n");
    out.flush();
  }
  writing_report = false;
}

void write_to_stderr(std::string_view text) noexcept {
  std::lock_guard guard(report_lock());
  write_all_to_stderr(text);
}

void abort_with_report(std::string_view message, std::source_location where) noexcept {
  write_fatal_report(message, where);
  std::abort();
}

}  // namespace tarnex
