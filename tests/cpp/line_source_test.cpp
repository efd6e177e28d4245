#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "test_support.hpp"
#include "text/line_source.hpp"
#include "text/utf8.hpp"

namespace tarnex {
namespace {

using testing::TempDir;

// How a file is read: the scan level, and the bytes asked for by each read.
struct Reading {
  ScanLevel level = best_scan_level();
  std::size_t read_size = LineSource::kDefaultReadSize;
};

// Reads of a few bytes put nearly every line across chunks; 8192 are tarnex's reads, the larger
// ones vormant's kind.
constexpr std::size_t kReadSizes[] = {7, 64, LineSource::kDefaultReadSize, 65536};

std::vector<Reading> every_reading() {
  std::vector<Reading> readings;
  for (const ScanLevel level : supported_scan_levels()) {
    for (const std::size_t read_size : kReadSizes) readings.push_back({level, read_size});
  }
  return readings;
}

std::string reading_name(const Reading& reading) {
  return std::string(scan_level_name(reading.level)) + "_" + std::to_string(reading.read_size);
}

void PrintTo(const Reading& reading, std::ostream* out) { *out << reading_name(reading); }

LineSource open_source(const std::string& path, const Reading& reading) {
  return std::get<LineSource>(LineSource::open(path, reading.level, reading.read_size));
}

// What a file yields, line by line: each line's text, then "<eof>" or "<error: description>".
std::vector<std::string> read_all(const std::string& path, const Reading& reading = {}) {
  auto opened = LineSource::open(path, reading.level, reading.read_size);
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

class LineRules : public ::testing::TestWithParam<std::tuple<Reading, LineCase>> {};

TEST_P(LineRules, YieldsExpectedLines) {
  const auto& [reading, line_case] = GetParam();
  TempDir dir;
  EXPECT_EQ(read_all(dir.write("plot.txt", line_case.bytes), reading), line_case.expected);
}

const auto kReadings = ::testing::ValuesIn(every_reading());

template <typename Info>
std::string level_and_case_name(const Info& info) {
  return reading_name(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
}

const std::string kInvalidUtf8 =
    "<error: Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }>";

INSTANTIATE_TEST_SUITE_P(
    Terminators, LineRules,
    ::testing::Combine(
        kReadings,
        ::testing::Values(
            LineCase{"empty_file", "", {"<eof>"}},  //
            LineCase{"lone_line_feed", "\n", {"", "<eof>"}},
            LineCase{"two_line_feeds", "a\n\n", {"a", "", "<eof>"}},
            LineCase{"no_final_line_feed", "a\nb", {"a", "b", "<eof>"}},
            LineCase{"crlf", "a\r\nb\r\n", {"a", "b", "<eof>"}},
            LineCase{"two_cr_before_lf", "a\r\r\n", {"a\r", "<eof>"}},
            LineCase{"cr_inside_line", "a\rb\n", {"a\rb", "<eof>"}},
            LineCase{"cr_at_end_of_file", "c\r", {"c\r", "<eof>"}},
            LineCase{"lone_cr_line", "\r\n\r", {"", "\r", "<eof>"}},
            LineCase{"nul_is_ordinary",
                     std::string("a\0b\n", 4),
                     {std::string("a\0b", 3), "<eof>"}},
            LineCase{"byte_order_mark_kept", "\xEF\xBB\xBFx\n", {"\xEF\xBB\xBFx", "<eof>"}})),
    [](const auto& info) { return level_and_case_name(info); });

INSTANTIATE_TEST_SUITE_P(
    Utf8, LineRules,
    ::testing::Combine(
        kReadings,
        ::testing::Values(
            LineCase{"byte_ff", "ok\n\xFF\nnext\n", {"ok", kInvalidUtf8}},
            LineCase{"lone_continuation", "\x80\n", {kInvalidUtf8}},
            LineCase{"truncated_at_end_of_file", "a\xC3", {kInvalidUtf8}},
            LineCase{"truncated_before_line_feed", "a\xE2\x82\n", {kInvalidUtf8}},
            LineCase{"overlong", "\xC0\x80\n", {kInvalidUtf8}},
            LineCase{"surrogate", "\xED\xA0\x80\n", {kInvalidUtf8}},
            LineCase{"above_max", "\xF4\x90\x80\x80\n", {kInvalidUtf8}},
            LineCase{"valid_multibyte",
                     "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n",
                     {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "<eof>"}},
            // A valid character earlier in the chunk does not vouch for the lines after it.
            LineCase{"invalid_after_valid_multibyte",
                     "\xC3\xA9\nab\ncd\xFF\n",
                     {"\xC3\xA9", "ab", kInvalidUtf8}},
            // Nor does an ASCII start of the chunk for the rest of it.
            LineCase{"invalid_after_ascii_lines", "ab\ncd\nef\xC3\n", {"ab", "cd", kInvalidUtf8}},
            LineCase{"non_ascii_right_after_line_feed", "ab\n\x80", {"ab", kInvalidUtf8}})),
    [](const auto& info) { return level_and_case_name(info); });

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

// The length of a file's first line: `borders` read sizes and `offset` bytes.
struct FirstLine {
  std::size_t borders;
  int offset;
  std::size_t length(std::size_t read_size) const {
    return borders * read_size + static_cast<std::size_t>(offset);  // offset < 0: borders >= 1
  }
};

void PrintTo(const FirstLine& first, std::ostream* out) {
  *out << first.borders << "B" << std::showpos << first.offset;
}

// Lines that meet the chunk border B in every way that matters.
class ChunkBorders : public ::testing::TestWithParam<std::tuple<Reading, FirstLine>> {};

TEST_P(ChunkBorders, LinesCrossingChunksArriveWhole) {
  const auto [reading, first_line] = GetParam();
  const std::string first(first_line.length(reading.read_size), 'x');
  const std::string second = "\xC3\xA9" + std::string(20000, 'y') + "\xE2\x82\xAC";
  TempDir dir;
  const std::string path = dir.write("plot.txt", first + "\r\n" + second + "\r\nend");
  EXPECT_EQ(read_all(path, reading), (std::vector<std::string>{first, second, "end", "<eof>"}));
  LineSource source = open_source(path, reading);
  std::string_view line;
  while (source.next(line) == LineStatus::Line) {
  }
  EXPECT_EQ(source.line_number(), 3u);  // lines across chunk borders count once
}

// B-2: CR and LF end the first chunk; B-1: CR ends it and LF begins the next; B: both in the
// next chunk; B+1 and 2B-1: the line itself spans chunks.
INSTANTIATE_TEST_SUITE_P(
    LineSource, ChunkBorders,
    ::testing::Combine(kReadings,
                       ::testing::Values(FirstLine{0, 0}, FirstLine{0, 1}, FirstLine{1, -3},
                                         FirstLine{1, -2}, FirstLine{1, -1}, FirstLine{1, 0},
                                         FirstLine{1, 1}, FirstLine{2, -1}, FirstLine{2, 0})));

class EveryReading : public ::testing::TestWithParam<Reading> {};

TEST_P(EveryReading, MultibyteCharacterSplitAcrossChunksIsValid) {
  const std::string line = std::string(GetParam().read_size - 1, 'a') + "\xE2\x82\xAC";
  TempDir dir;
  EXPECT_EQ(read_all(dir.write("plot.txt", line), GetParam()),
            (std::vector<std::string>{line, "<eof>"}));
}

// What the line rules give for a file, written out plainly: split at line feeds, a carriage
// return before a line feed dropped, a line that is not UTF-8 reported and passed over.
std::vector<std::string> expected_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t feed = bytes.find('\n', start);
    const std::size_t end = feed == std::string::npos ? bytes.size() : feed;
    std::string line = bytes.substr(start, end - start);
    if (!is_valid_utf8(line)) {
      line = kInvalidUtf8;
    } else if (feed != std::string::npos && !line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  lines.emplace_back("<eof>");
  return lines;
}

// Every line the source gives, reading on after a line that is not UTF-8.
std::vector<std::string> read_past_invalid_lines(const std::string& path, const Reading& reading) {
  LineSource source = open_source(path, reading);
  std::vector<std::string> lines;
  for (;;) {
    std::string_view line;
    const LineStatus status = source.next(line);
    if (status == LineStatus::EndOfFile) break;
    lines.emplace_back(status == LineStatus::Line ? std::string(line) : kInvalidUtf8);
  }
  lines.emplace_back("<eof>");
  return lines;
}

// Random files of mostly ASCII lines of every length, some far longer than a chunk, with
// carriage returns and valid and invalid UTF-8 sprinkled in.
std::string random_file(std::mt19937& random) {
  static const std::vector<std::string> kPieces = {
      "\r",       "\r\r",         "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\x80",
      "\xE2\x82", "\xED\xA0\x80", "\xC0\x80", "\x7F"};
  std::string bytes;
  while (bytes.size() < 40000) {
    const auto kind = random() % 20;
    const std::size_t length = kind == 0 ? 8000 + random() % 9000 : random() % 300;
    for (std::size_t i = 0; i < length; ++i) {
      bytes += static_cast<char>(' ' + random() % 95);
    }
    if (kind < 6) {
      const std::string& piece = kPieces[random() % kPieces.size()];
      bytes.insert(bytes.size() - random() % (length + 1), piece);
    }
    bytes += random() % 8 == 0 ? "\r\n" : "\n";
  }
  if (random() % 2 == 0) bytes.pop_back();
  return bytes;
}

TEST_P(EveryReading, RandomFilesFollowTheLineRules) {
  TempDir dir;
  std::mt19937 random(7);
  for (int file = 0; file < 40; ++file) {
    const std::string bytes = random_file(random);
    const std::string path = dir.write("plot.txt", bytes);
    ASSERT_EQ(read_past_invalid_lines(path, GetParam()), expected_lines(bytes)) << "file " << file;
  }
}

// A character that is not ASCII, valid or not, at each offset around the first chunk border at
// or after 8192 bytes: in a line that begins in the chunk before, in a line of the chunk after,
// and right after a line feed.
TEST_P(EveryReading, NonAsciiAroundTheChunkBorder) {
  const std::size_t read_size = GetParam().read_size;
  const std::size_t border = (8192 + read_size - 1) / read_size * read_size;
  TempDir dir;
  for (const char* piece : {"\xC2\xB5", "\xFE", "\xE2\x82"}) {
    for (std::size_t at = border - 92; at < border + 108; ++at) {
      std::string bytes = std::string(border - 192, 'v') + "\n" + std::string(249, 'w') + "\r\n" +
                          std::string(100, 'x') + "\n";
      bytes.insert(at, piece);
      const std::string path = dir.write("plot.txt", bytes);
      ASSERT_EQ(read_past_invalid_lines(path, GetParam()), expected_lines(bytes)) << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Readings, EveryReading, kReadings,
                         [](const auto& info) { return reading_name(info.param); });

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
