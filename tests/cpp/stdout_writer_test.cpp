#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"
#include "text/stdout_writer.hpp"

namespace tarnex {
namespace {

using testing::CapturedFd;

// Points descriptor 1 at `target` (or closes it, for -1) while the object lives.
class StdoutRedirect {
 public:
  explicit StdoutRedirect(int target) : saved_(dup(STDOUT_FILENO)) {
    if (target < 0) {
      close(STDOUT_FILENO);
    } else {
      dup2(target, STDOUT_FILENO);
    }
  }
  ~StdoutRedirect() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

class PrintedLines : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PrintedLines, ArriveWholeOnDescriptorOne) {
  const std::string token(GetParam(), 'x');
  CapturedFd out(STDOUT_FILENO);
  EXPECT_FALSE(print_pieces({"Error: '", token, "' is bad!\n"}).has_value());
  EXPECT_FALSE(print_pieces({"second\n"}).has_value());
  EXPECT_EQ(out.text(), "Error: '" + token + "' is bad!\nsecond\n");
}

// Tokens around the 1024-byte buffer: buffered, exactly filling it, and written directly.
INSTANTIATE_TEST_SUITE_P(StdoutWriter, PrintedLines,
                         ::testing::Values(0, 3, 1000, 1015, 1016, 1017, 1023, 1024, 5000,
                                           100000));

TEST(StdoutWriter, PartialLineWaitsForItsLineFeed) {
  CapturedFd out(STDOUT_FILENO);
  EXPECT_FALSE(print_pieces({"no line feed yet"}).has_value());
  EXPECT_EQ(out.text(), "");
  EXPECT_FALSE(print_pieces({" now\nrest", " of it\n"}).has_value());
  EXPECT_EQ(out.text(), "no line feed yet now\nrest of it\n");
}

TEST(StdoutWriter, ClosedStdoutDropsTheLineSilently) {
  {
    StdoutRedirect closed(-1);
    EXPECT_FALSE(print_pieces({"Error: '", "x", "' dropped\n"}).has_value());
    EXPECT_FALSE(print_pieces({std::string(5000, 'y'), "\n"}).has_value());
  }
  const int read_only = open("/dev/null", O_RDONLY | O_CLOEXEC);  // writes fail with EBADF too
  {
    StdoutRedirect not_writable(read_only);
    EXPECT_FALSE(print_pieces({"dropped as well\n"}).has_value());
  }
  close(read_only);
}

struct FailureCase {
  const char* name;
  int (*make_target)();
  std::string display;
};

int full_device() { return open("/dev/full", O_WRONLY | O_CLOEXEC); }
int pipe_without_reader() {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  close(ends[0]);
  return ends[1];
}
int event_counter() { return eventfd(0, EFD_CLOEXEC); }  // takes only 8-byte writes

class WriteFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(WriteFailures, BecomeFatalWithDisplayText) {
  signal(SIGPIPE, SIG_IGN);
  const int target = GetParam().make_target();
  ASSERT_GE(target, 0);
  std::string message;
  {
    StdoutRedirect redirect(target);
    message = testing::fatal_message_of(
        [] { print_line({"Error: '", "token", "' is not a valid number of parameters!\n"}); });
  }
  close(target);
  EXPECT_EQ(message, "failed printing to stdout: " + GetParam().display);
  // Nothing of the failed line lingers in front of the next one.
  CapturedFd out(STDOUT_FILENO);
  EXPECT_FALSE(print_pieces({"clean\n"}).has_value());
  EXPECT_EQ(out.text(), "clean\n");
}

INSTANTIATE_TEST_SUITE_P(
    StdoutWriter, WriteFailures,
    ::testing::Values(FailureCase{"full", full_device, "No space left on device (os error 28)"},
                      FailureCase{"broken_pipe", pipe_without_reader, "Broken pipe (os error 32)"},
                      FailureCase{"invalid", event_counter, "Invalid argument (os error 22)"}),
    [](const auto& info) { return info.param.name; });

TEST(StdoutWriter, LinesOfManyThreadsNeverMix) {
  CapturedFd out(STDOUT_FILENO);
  std::vector<std::thread> threads;
  for (char id = 'a'; id < 'a' + 8; ++id) {
    threads.emplace_back([id] {
      const std::string word(300, id);
      for (int i = 0; i < 200; ++i) print_pieces({"<", word, "|", word, ">\n"});
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = out.text();
  std::size_t lines = 0;
  for (std::size_t start = 0; start < text.size(); ++lines) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    const std::string word(300, line.at(1));
    ASSERT_EQ(line, "<" + word + "|" + word + ">");
    start = end + 1;
  }
  EXPECT_EQ(lines, 8u * 200u);
}

}  // namespace
}  // namespace tarnex
