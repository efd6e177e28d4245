#include "test_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "boundary/fatal_error.hpp"

namespace tarnex::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarnex-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, std::string_view bytes) const {
  const fs::path file = path_ / name;
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file.string();
}

CapturedFd::CapturedFd(int fd) : fd_(fd), saved_(dup(fd)) {
  char name[] = "/tmp/tarnex-capture-XXXXXX";
  const int capture = mkstemp(name);
  if (capture < 0) throw std::runtime_error("mkstemp failed");
  file_ = name;
  dup2(capture, fd_);
  close(capture);
}

CapturedFd::~CapturedFd() {
  if (saved_ >= 0) {
    dup2(saved_, fd_);
    close(saved_);
  } else {
    close(fd_);
  }
  unlink(file_.c_str());
}

std::string CapturedFd::text() const {
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

int open_descriptor_count() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count - 1;  // the iterator's own descriptor
}

int descriptor_of(const std::string& path) {
  const fs::path wanted = fs::canonical(path);
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == wanted) return std::stoi(entry.path().filename());
  }
  return -1;
}

std::string fatal_message_of(const std::function<void()>& body) {
  CapturedFd quiet_stderr(STDERR_FILENO);
  try {
    body();
  } catch (const FatalError& error) {
    return error.message();
  }
  ADD_FAILURE() << "expected a fatal error";
  return {};
}

}  // namespace tarnex::testing
