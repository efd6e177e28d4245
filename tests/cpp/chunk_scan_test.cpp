// The chunk scan at every level this processor runs, against the plain definition of its marks.
#include "text/chunk_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace tarnex {
namespace {

// The largest chunk these marks hold: larger than tarnex's reads, as vormant's are.
constexpr std::size_t kCapacity = 65536;

// The marks as plain lists of offsets, to compare with what a level's scan records.
struct Offsets {
  std::vector<std::size_t> line_feeds;
  std::vector<std::size_t> non_ascii;
  bool operator==(const Offsets&) const = default;
};

void PrintTo(const Offsets& offsets, std::ostream* out) {
  *out << "line feeds {";
  for (const std::size_t at : offsets.line_feeds) *out << ' ' << at;
  *out << " }, non-ASCII {";
  for (const std::size_t at : offsets.non_ascii) *out << ' ' << at;
  *out << " }";
}

Offsets expected_offsets(const std::string& bytes) {
  Offsets offsets;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '\n') offsets.line_feeds.push_back(i);
    if (byte >= 0x80) offsets.non_ascii.push_back(i);
  }
  return offsets;
}

// The offsets as the line source finds them: by walking the marks from each found one on.
Offsets scanned_offsets(ScanLevel level, const std::string& bytes) {
  ChunkMarks marks(kCapacity);
  // Stale marks of an earlier, longer chunk must not show through.
  const std::string earlier(kCapacity, '\x8A');
  chunk_scanner(level)(earlier.data(), earlier.size(), marks);
  chunk_scanner(level)(bytes.data(), bytes.size(), marks);
  Offsets offsets;
  const std::size_t end = bytes.size();
  for (std::size_t at = marks.next_line_feed(0, end); at != end;
       at = marks.next_line_feed(at + 1, end)) {
    offsets.line_feeds.push_back(at);
  }
  for (std::size_t at = marks.next_non_ascii(0, end); at != end;
       at = marks.next_non_ascii(at + 1, end)) {
    offsets.non_ascii.push_back(at);
  }
  return offsets;
}

class ChunkScan : public ::testing::TestWithParam<ScanLevel> {
 protected:
  void expect_marks(const std::string& bytes) {
    EXPECT_EQ(scanned_offsets(GetParam(), bytes), expected_offsets(bytes))
        << "chunk of " << bytes.size() << " bytes";
  }
};

// A marked byte at every offset of a 64-byte block (and so of every 16- and 32-byte lane), in
// chunks that end at every offset around it: the lanes' order and the zero-padded tail.
TEST_P(ChunkScan, OneMarkedByteAtEveryOffset) {
  for (const char marked : {'\n', '\x80', '\xFF', '\xC3'}) {
    for (std::size_t size = 1; size <= 3 * ChunkMarks::kBlockSize; ++size) {
      for (std::size_t at = 0; at < size; ++at) {
        std::string bytes(size, 'a');
        bytes[at] = marked;
        expect_marks(bytes);
      }
    }
  }
}

// Bytes next to the marked ones that a sloppy comparison would take for them.
TEST_P(ChunkScan, NeighboursOfMarkedBytesAreNotMarked) {
  std::string bytes;
  for (int byte = 0; byte < 256; ++byte) bytes += static_cast<char>(byte);
  for (const char near : {'\x0B', '\x09', '\x8A', '\x7F', '\0', '\r'})
    bytes += std::string(70, near);
  expect_marks(bytes);
}

TEST_P(ChunkScan, FullChunksOfRandomBytes) {
  std::mt19937 random(20240611);
  for (const int density : {2, 16, 200}) {
    for (const std::size_t size :
         {kCapacity, kCapacity - 1, std::size_t{8192}, std::size_t{8000}, std::size_t{65}}) {
      std::string bytes(size, ' ');
      for (char& byte : bytes) {
        const auto roll = static_cast<int>(random() % density);
        if (roll == 0) byte = '\n';
        if (roll == 1) byte = static_cast<char>(0x80 | random() % 0x80);
        if (roll > 1) byte = static_cast<char>(random() % 0x80);
      }
      expect_marks(bytes);
    }
  }
}

// Searches that start inside a word, at the last byte and past a word's last mark.
TEST_P(ChunkScan, SearchesStartAnywhere) {
  std::string bytes(300, 'x');
  bytes[63] = bytes[64] = bytes[200] = '\n';
  ChunkMarks marks(bytes.size());
  chunk_scanner(GetParam())(bytes.data(), bytes.size(), marks);
  EXPECT_EQ(marks.next_line_feed(0, 300), 63u);
  EXPECT_EQ(marks.next_line_feed(64, 300), 64u);
  EXPECT_EQ(marks.next_line_feed(65, 300), 200u);
  EXPECT_EQ(marks.next_line_feed(201, 300), 300u);
  EXPECT_EQ(marks.next_line_feed(299, 300), 300u);
  EXPECT_EQ(marks.next_line_feed(300, 300), 300u);
  EXPECT_EQ(marks.next_non_ascii(0, 300), 300u);
}

INSTANTIATE_TEST_SUITE_P(Levels, ChunkScan, ::testing::ValuesIn(supported_scan_levels()),
                         [](const auto& info) { return scan_level_name(info.param); });

#if defined(__x86_64__)
// AVX2 asked of the processor directly: the instruction set, and the operating system saving
// the 256-bit registers.
bool processor_has_avx2() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE)) return false;
  unsigned xcr0_low, xcr0_high;
  asm("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  constexpr unsigned kSseAndAvxState = 0x6;
  if ((xcr0_low & kSseAndAvxState) != kSseAndAvxState) return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2);
}
#endif

// The levels the tests run are those the processor has: a detection that missed AVX2 would
// leave its kernel untested here and unused everywhere.
TEST(ScanLevels, EveryLevelTheProcessorRunsIsOffered) {
  std::vector<std::string> names;
  for (const ScanLevel level : supported_scan_levels()) names.emplace_back(scan_level_name(level));
#if defined(__x86_64__)
  std::vector<std::string> expected{"portable", "sse2"};
  if (processor_has_avx2()) expected.emplace_back("avx2");
  EXPECT_EQ(names, expected);
#else
  EXPECT_EQ(names, std::vector<std::string>{"portable"});
#endif
  // The shipped build scans at the widest; a forced test build at one of those the processor runs.
  EXPECT_NE(std::find(names.begin(), names.end(), scan_level_name(best_scan_level())), names.end());
}

}  // namespace
}  // namespace tarnex
