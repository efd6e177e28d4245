#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <variant>
#include <vector>

#include "test_support.hpp"
#include "text/line_source.hpp"

namespace tarnex {
namespace {

using testing::TempDir;

// What a file yields, line by line: each line's text, then "<eof>" or "<error: description>".
std::vector<std::string> read_all(const std::string& path) {
  auto opened = LineSource::open(path);
  if (auto* error = std::get_if<IoError>(&opened)) return {"<open: " + error->describe() + ">"};
  LineSource& source = std::get<LineSource>(opened);
  std::vector<std::string> lines;
  for (;;) {
    std::string_view line;
    switch (source.next(line)) {
      case LineStatus::Line:
        lines.emplace_back(line);
        continue;
      case LineStatus::EndOfFile:
        lines.emplace_back("<eof>");
        return lines;
      case LineStatus::Error:
        lines.push_back("<error: " + source.error().describe() + ">");
        return lines;
    }
  }
}

struct LineCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> expected;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class LineRules : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineRules, YieldsExpectedLines) {
  TempDir dir;
  EXPECT_EQ(read_all(dir.write("plot.txt", GetParam().bytes)), GetParam().expected);
}

const std::string kInvalidUtf8 =
    "<error: Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }>";

INSTANTIATE_TEST_SUITE_P(
    Terminators, LineRules,
    ::testing::Values(
        LineCase{"empty_file", "", {"<eof>"}},
        LineCase{"lone_line_feed", "\n", {"", "<eof>"}},
        LineCase{"two_line_feeds", "a\n\n", {"a", "", "<eof>"}},
        LineCase{"no_final_line_feed", "a\nb", {"a", "b", "<eof>"}},
        LineCase{"crlf", "a\r\nb\r\n", {"a", "b", "<eof>"}},
        LineCase{"two_cr_before_lf", "a\r\r\n", {"a\r", "<eof>"}},
        LineCase{"cr_inside_line", "a\rb\n", {"a\rb", "<eof>"}},
        LineCase{"cr_at_end_of_file", "c\r", {"c\r", "<eof>"}},
        LineCase{"lone_cr_line", "\r\n\r", {"", "\r", "<eof>"}},
        LineCase{"nul_is_ordinary", std::string("a\0b\n", 4), {std::string("a\0b", 3), "<eof>"}},
        LineCase{"byte_order_mark_kept", "\xEF\xBB\xBFx\n", {"\xEF\xBB\xBFx", "<eof>"}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Utf8, LineRules,
    ::testing::Values(
        LineCase{"byte_ff", "ok\n\xFF\nnext\n", {"ok", kInvalidUtf8}},
        LineCase{"lone_continuation", "\x80\n", {kInvalidUtf8}},
        LineCase{"truncated_at_end_of_file", "a\xC3", {kInvalidUtf8}},
        LineCase{"truncated_before_line_feed", "a\xE2\x82\n", {kInvalidUtf8}},
        LineCase{"overlong", "\xC0\x80\n", {kInvalidUtf8}},
        LineCase{"surrogate", "\xED\xA0\x80\n", {kInvalidUtf8}},
        LineCase{"above_max", "\xF4\x90\x80\x80\n", {kInvalidUtf8}},
        LineCase{"valid_multibyte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n",
                 {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "<eof>"}}),
    [](const auto& info) { return info.param.name; });

TEST(LineSource, InvalidLineIsConsumedAndReadingCanGoOn) {
  TempDir dir;
  auto opened = LineSource::open(dir.write("plot.txt", "\xFF\nafter\n"));
  LineSource& source = std::get<LineSource>(opened);
  std::string_view line;
  EXPECT_EQ(source.line_number(), 0u);
  EXPECT_EQ(source.next(line), LineStatus::Error);
  EXPECT_EQ(source.line_number(), 1u);
  ASSERT_EQ(source.next(line), LineStatus::Line);
  EXPECT_EQ(line, "after");
  EXPECT_EQ(source.line_number(), 2u);
  EXPECT_EQ(source.next(line), LineStatus::EndOfFile);
  EXPECT_EQ(source.line_number(), 2u);
}

// Lines that meet the 8192-byte chunk border in every way that matters.
class ChunkBorders : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ChunkBorders, LinesCrossingChunksArriveWhole) {
  const std::size_t first_length = GetParam();
  const std::string first(first_length, 'x');
  const std::string second = "\xC3\xA9" + std::string(20000, 'y') + "\xE2\x82\xAC";
  TempDir dir;
  const auto lines = read_all(dir.write("plot.txt", first + "\r\n" + second + "\r\nend"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], first);
  auto opened = LineSource::open((dir.path() / "plot.txt").string());
  LineSource& source = std::get<LineSource>(opened);
  std::string_view line;
  while (source.next(line) == LineStatus::Line) {
  }
  EXPECT_EQ(source.line_number(), 3u);  // lines across chunk borders count once
  EXPECT_EQ(lines[1], second);
  EXPECT_EQ(lines[2], "end");
}

// 8190: CR and LF end the first chunk; 8191: CR ends it and LF begins the next; 8192: both in
// the next chunk; 8193 and 16383: the line itself spans chunks.
INSTANTIATE_TEST_SUITE_P(LineSource, ChunkBorders,
                         ::testing::Values(0, 1, 8189, 8190, 8191, 8192, 8193, 16383, 16384));

TEST(LineSource, MultibyteCharacterSplitAcrossChunksIsValid) {
  const std::string line = std::string(8191, 'a') + "\xE2\x82\xAC";
  TempDir dir;
  EXPECT_EQ(read_all(dir.write("plot.txt", line)), (std::vector<std::string>{line, "<eof>"}));
}

TEST(LineSourceOpen, NulInPathIsRefusedWithoutSystemCall) {
  EXPECT_EQ(read_all(std::string("plot\0.txt", 9)),
            std::vector<std::string>{"<open: Error { kind: InvalidInput, message: \"file name "
                                     "contained an unexpected NUL byte\" }>"});
}

TEST(LineSourceOpen, SystemErrorsCarryTheirKind) {
  TempDir dir;
  const std::string file = dir.write("plain.txt", "x\n");
  const std::string unreadable = dir.write("secret.txt", "x\n");
  chmod(unreadable.c_str(), 0);
  EXPECT_EQ(read_all(dir.path() / "missing.txt"),
            std::vector<std::string>{"<open: Os { code: 2, kind: NotFound, message: \"No such "
                                     "file or directory\" }>"});
  EXPECT_EQ(read_all(file + "/below"),
            std::vector<std::string>{"<open: Os { code: 20, kind: NotADirectory, message: \"Not "
                                     "a directory\" }>"});
  if (geteuid() != 0) {  // root reads everything
    EXPECT_EQ(read_all(unreadable),
              std::vector<std::string>{"<open: Os { code: 13, kind: PermissionDenied, message: "
                                       "\"Permission denied\" }>"});
  }
}

TEST(LineSourceOpen, DirectoryOpensAndFailsAtFirstRead) {
  TempDir dir;
  EXPECT_EQ(read_all(dir.path()),
            std::vector<std::string>{"<error: Os { code: 21, kind: IsADirectory, message: \"Is a "
                                     "directory\" }>"});
}

TEST(LineSource, DescriptorIsClosedWithTheSourceAndCloseOnExec) {
  TempDir dir;
  const std::string path = dir.write("plot.txt", "a\n");
  const int before = testing::open_descriptor_count();
  {
    auto opened = LineSource::open(path);
    ASSERT_TRUE(std::holds_alternative<LineSource>(opened));
    EXPECT_EQ(testing::open_descriptor_count(), before + 1);
    const int fd = testing::descriptor_of(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    LineSource moved = std::get<LineSource>(std::move(opened));
    std::string_view line;
    EXPECT_EQ(moved.next(line), LineStatus::Line);
  }
  EXPECT_EQ(testing::open_descriptor_count(), before);
}

}  // namespace
}  // namespace tarnex
