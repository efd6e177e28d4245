// Lines fetched many to a call: out of the mapping, or with pread where there is none; a file
// that has shrunk is a failed fetch, never a fault of the process.
#include "reader/file_mapping.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.hpp"

namespace tarnex {
namespace {

std::string gathered(const FileMapping& mapping, const std::vector<Stretch>& stretches,
                     bool& complete) {
  std::size_t total = 0;
  for (const Stretch& stretch : stretches) total += stretch.length;
  std::string out(total, '?');
  complete = mapping.gather(stretches, out.data());
  return out;
}

TEST(FileMapping, GathersStretchesMappedOrReadAndRefusesWhatTheFileNoLongerHas) {
  testing::TempDir dir;
  // Three pages: a file that loses whole pages loses them from its mapping too (the bytes cut
  // from its last page would read as zeros).
  std::string text = "0123456789abcdefghij";
  text.resize(3 * 4096, '.');
  const std::string path = dir.write("lines.txt", text);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::vector<Stretch> stretches = {{2, 3}, {15, 5}, {0, 1}};
  // Mapped as it is; mapped with no size (nothing to map: every stretch read with pread).
  for (const std::uint64_t size : {std::uint64_t{text.size()}, std::uint64_t{0}}) {
    FileMapping mapping(fd, size);
    bool complete = false;
    const std::string out = gathered(mapping, stretches, complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(out, "234fghij0");
  }
  FileMapping mapping(fd, text.size());
  const int writer = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(::ftruncate(writer, 8), 0);  // the file shrinks
  ::close(writer);
  bool complete = true;
  gathered(mapping, {{2, 3}, {5000, 4}}, complete);
  EXPECT_FALSE(complete);
  FileMapping unmapped(fd, 0);
  gathered(unmapped, {{6, 4}}, complete);
  EXPECT_FALSE(complete);
  gathered(mapping, {{3 * 4096 - 2, 4}}, complete);  // past what was mapped
  EXPECT_FALSE(complete);
  ::close(fd);
}

}  // namespace
}  // namespace tarnex
