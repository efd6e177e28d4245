// The value storage: growth without losing what it holds, and giving pages back.
#include "reader/value_store.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarnex {
namespace {

// Appends `rows` rows of `width` values, each value its own index.
void append_counting(ValueStore& store, std::size_t rows, std::size_t width) {
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t first = store.size();
    float* const room = store.append(width);
    for (std::size_t i = 0; i < width; ++i) room[i] = static_cast<float>(first + i);
  }
}

void expect_counting(const ValueStore& store, std::size_t from) {
  for (std::size_t i = from; i < store.size(); ++i) {
    ASSERT_EQ(store.data()[i], static_cast<float>(i)) << i;
  }
}

class GrowingStore : public ::testing::TestWithParam<std::size_t> {};

// Rows of odd widths cross every growth step and page border.
TEST_P(GrowingStore, KeepsEveryValueThroughEveryGrowth) {
  ValueStore store;
  append_counting(store, 300000 / GetParam() + 7, GetParam());
  expect_counting(store, 0);
  store.shrink_to_fit();
  expect_counting(store, 0);
  append_counting(store, 3, GetParam());  // still growable after shrinking
  expect_counting(store, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, GrowingStore, ::testing::Values(1, 3, 10, 1023, 4096, 100001));

// Past 8 MiB the block asks for huge pages: growing, giving back a front that ends inside a huge
// page, and shrinking keep every value.
TEST(ValueStore, KeepsEveryValueInHugePages) {
  ValueStore store;
  append_counting(store, 5000, 999);  // 20 MB
  expect_counting(store, 0);
  store.discard_before(1234567);
  expect_counting(store, 1234567);
  store.shrink_to_fit();
  append_counting(store, 2, 999);
  expect_counting(store, 1234567);
}

TEST(ValueStore, DiscardedFrontLeavesTheRestIntact) {
  ValueStore store;
  append_counting(store, 1000, 1000);
  for (std::size_t done = 0; done <= store.size(); done += 123457) {
    store.discard_before(done);
    expect_counting(store, done);
  }
  store.discard_before(store.size() + 5);  // beyond the end: everything, no fault
}

#if defined(__linux__)
// The pages of [first, end) of the store's block that are resident.
std::size_t resident_pages(const ValueStore& store, std::size_t first, std::size_t end) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const auto* const base = reinterpret_cast<const char*>(store.data());
  std::vector<unsigned char> resident((end - first + page - 1) / page);
  EXPECT_EQ(::mincore(const_cast<char*>(base) + first, end - first, resident.data()), 0);
  std::size_t count = 0;
  for (const unsigned char flags : resident) count += flags & 1u;
  return count;
}

// Where every block may get huge pages, one of them may hold up to 2 MiB past the values.
bool huge_pages_always() {
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(setting, modes);
  return modes.find("[always]") != std::string::npos;
}

// Pages are made present a short stretch ahead of the values, not for the whole block (which
// holds up to twice the memory of the values).
TEST(ValueStore, MakesPresentOnlyAShortStretchAhead) {
  if (huge_pages_always()) GTEST_SKIP() << "huge pages for every block";
  ValueStore store;
  append_counting(store, 550, 1000);  // 2.2 MB in a block of 4 MiB, below the huge-page size
  const std::size_t held = store.size() * sizeof(float);
  const std::size_t block = std::size_t{4} << 20;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t ahead_end = (held + page - 1) / page * page + (std::size_t{1} << 20);
  ASSERT_LT(ahead_end, block);
  EXPECT_EQ(resident_pages(store, ahead_end, block), 0u);
  expect_counting(store, 0);
}
#endif

TEST(ValueStore, MovesItsBlock) {
  ValueStore store;
  append_counting(store, 10, 10);
  ValueStore moved(std::move(store));
  EXPECT_EQ(store.size(), 0u);
  EXPECT_EQ(store.data(), nullptr);
  expect_counting(moved, 0);
  ValueStore assigned;
  append_counting(assigned, 1, 5);
  assigned = std::move(moved);
  EXPECT_EQ(assigned.size(), 100u);
  expect_counting(assigned, 0);
}

TEST(ValueStore, RefusesAnImpossibleSize) {
  ValueStore store;
  append_counting(store, 1, 4);
  EXPECT_THROW(store.append(static_cast<std::size_t>(-1) / 2), std::bad_alloc);
  expect_counting(store, 0);  // what it held survives
}

}  // namespace
}  // namespace tarnex
