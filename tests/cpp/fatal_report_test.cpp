#include <sys/syscall.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "boundary/fatal_error.hpp"
#include "boundary/fatal_report.hpp"
#include "test_support.hpp"

namespace tarnex {
namespace {

using testing::CapturedFd;

std::string report_of(const std::string& message) {
  CapturedFd err(STDERR_FILENO);
  const unsigned line = __LINE__ + 2;
  try {
    fatal(message);
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), message);
    EXPECT_EQ(error.where().line(), line);
  }
  return err.text();
}

class FatalReports : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FatalReports, NameThreadIdLocationAndMessage) {
  const std::string message = "Plot file not found!\nsecond line " + std::string(GetParam(), 'm');
  const std::string report = report_of(message);
  const std::string header = "\nthread '<unnamed>' (" + std::to_string(gettid()) +
                             ") panicked at tests/cpp/fatal_report_test.cpp:";
  ASSERT_EQ(report.substr(0, header.size()), header);
  const std::regex rest(R"(\d+:\d+:\n)");
  const std::string after = report.substr(header.size());
  std::smatch location;
  ASSERT_TRUE(std::regex_search(after, location, rest));
  EXPECT_EQ(location.position(0), 0);
  EXPECT_EQ(after.substr(location.length(0)), message + "\n");
}

// Short reports, one that just fits the single write, and long ones.
INSTANTIATE_TEST_SUITE_P(FatalError, FatalReports, ::testing::Values(0, 300, 420, 600, 20000));

TEST(FatalError, ResumedErrorWritesNoReport) {
  CapturedFd err(STDERR_FILENO);
  EXPECT_THROW(resume_fatal("resumed"), FatalError);
  EXPECT_EQ(err.text(), "");
}

TEST(FatalError, ReportWithStderrClosedIsDroppedAndErrorStillThrown) {
  const int saved = dup(STDERR_FILENO);
  close(STDERR_FILENO);
  EXPECT_THROW(fatal("nowhere to go"), FatalError);
  dup2(saved, STDERR_FILENO);
  close(saved);
}

TEST(FatalError, ReportsOfManyThreadsNeverInterleave) {
  CapturedFd err(STDERR_FILENO);
  std::vector<std::thread> threads;
  for (char id = 'a'; id < 'a' + 6; ++id) {
    threads.emplace_back([id] {
      for (int i = 0; i < 100; ++i) {
        try {
          fatal(std::string(i % 2 ? 700 : 100, id));  // long reports take several writes
        } catch (const FatalError&) {
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  // Every report is whole: its header line, then one thread's letters alone on the next line.
  const std::string text = err.text();
  const std::string start = "\nthread '<unnamed>' (";
  std::size_t reports = 0;
  for (std::size_t at = 0; at < text.size(); ++reports) {
    ASSERT_EQ(text.compare(at, start.size(), start), 0) << "at byte " << at;
    const std::size_t body = text.find(":\n", at) + 2;
    const std::size_t end = text.find('\n', body);
    const std::string letters = text.substr(body, end - body);
    ASSERT_TRUE(letters.size() == 100 || letters.size() == 700);
    EXPECT_EQ(letters, std::string(letters.size(), letters[0]));
    at = end + 1;
  }
  EXPECT_EQ(reports, 600u);
}

TEST(FatalErrorDeathTest, AbortWithReportEndsTheProcess) {
  EXPECT_DEATH(abort_with_report("uncaught panic at ffi boundary"),
               "panicked at .*\nuncaught panic at ffi boundary");
}

}  // namespace
}  // namespace tarnex
