// Shared helpers for the reader tests: scratch files, descriptor capture, fatal-error checks.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tarnex::testing {

// A scratch directory removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to a file named `name` inside the directory and returns its path.
  std::string write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Redirects descriptor `fd` into a file for the lifetime of the object.
class CapturedFd {
 public:
  explicit CapturedFd(int fd);
  ~CapturedFd();
  CapturedFd(const CapturedFd&) = delete;
  CapturedFd& operator=(const CapturedFd&) = delete;

  // Everything written to the descriptor so far.
  std::string text() const;

 private:
  int fd_;
  int saved_;
  std::string file_;
};

// The number of descriptors open in this process.
int open_descriptor_count();

// The descriptor of this process that is open on `path`, or -1.
int descriptor_of(const std::string& path);

// Runs `body`, expects a FatalError, and returns its message.
std::string fatal_message_of(const std::function<void()>& body);

}  // namespace tarnex::testing
