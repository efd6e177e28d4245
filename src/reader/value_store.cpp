#include "reader/value_store.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#define TARNEX_STORE_MAPPED 1
#else
#define TARNEX_STORE_MAPPED 0
#endif

namespace tarnex {
namespace {

constexpr std::size_t kValueBytes = sizeof(float);
constexpr std::size_t kFirstCapacityBytes = std::size_t{64} << 10;
constexpr std::size_t kMostValues = std::numeric_limits<std::size_t>::max() / (2 * kValueBytes);
// From this size on the block asks for transparent huge pages: a first write then costs one
// fault per 2 MiB instead of one per page (measured on a virtual machine: 0.35 ms instead of 6 ms
// for 8 MiB of values). A huge page at the end of the values holds up to 2 MiB beyond them; the
// block reaches this size only once it holds more than half of it, 4 MiB of values, so that
// excess stays within a quarter of the values plus 1 MiB.
[[maybe_unused]] constexpr std::size_t kHugePagesFromBytes = std::size_t{8} << 20;
// The pages ahead of the values are made present this many bytes at a time, in one call: a
// first write to each page would fault on its own, which measured 0.74 µs a page on a virtual
// machine against 0.54 µs for pages made present together. The stretch is short, so the block
// holds little memory beyond its values.
constexpr std::size_t kPresentAheadBytes = std::size_t{256} << 10;

#if TARNEX_STORE_MAPPED && !defined(MADV_POPULATE_WRITE)
// Linux 5.14 and newer; older C library headers lack the name. An older kernel refuses the
// advice, and the pages then fault one by one as before.
constexpr int MADV_POPULATE_WRITE = 23;
#endif

std::size_t page_size() noexcept {
#if TARNEX_STORE_MAPPED
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
#else
  return 4096;
#endif
}

std::size_t round_up_to_pages(std::size_t bytes) noexcept {
  const std::size_t page = page_size();
  return (bytes + page - 1) / page * page;
}

// A new block of `new_bytes` holding the first `old_bytes` of `block` (which may be null), or
// null when there is no memory for it. The old block is gone when a new one is returned.
void* resize_block(void* block, std::size_t old_bytes, std::size_t new_bytes) noexcept {
#if TARNEX_STORE_MAPPED
  void* const moved = block == nullptr ? ::mmap(nullptr, new_bytes, PROT_READ | PROT_WRITE,
                                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                       : ::mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
  if (moved == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
  // Advice only: without huge pages (or where they are switched off) the block works the same.
  if (new_bytes >= kHugePagesFromBytes) ::madvise(moved, new_bytes, MADV_HUGEPAGE);
#endif
  return moved;
#else
  (void)old_bytes;
  return std::realloc(block, new_bytes);
#endif
}

}  // namespace

ValueStore::ValueStore(ValueStore&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      discarded_(std::exchange(other.discarded_, 0)),
      present_(std::exchange(other.present_, 0)) {}

ValueStore& ValueStore::operator=(ValueStore&& other) noexcept {
  if (this != &other) {
    free_block();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    discarded_ = std::exchange(other.discarded_, 0);
    present_ = std::exchange(other.present_, 0);
  }
  return *this;
}

ValueStore::~ValueStore() {
  free_block();
}

void ValueStore::free_block() noexcept {
  if (data_ == nullptr) return;
#if TARNEX_STORE_MAPPED
  ::munmap(data_, capacity_ * kValueBytes);
#else
  std::free(data_);
#endif
  data_ = nullptr;
  size_ = capacity_ = discarded_ = present_ = 0;
}

// Doubles the block (a file's values come in a steady stream), or, when the address space
// does not allow that, grows it by as little as is needed now and an eighth.
void ValueStore::grow(std::size_t count) {
  if (count > kMostValues - size_) throw std::bad_alloc();
  const std::size_t needed = size_ + count;
  const std::size_t old_bytes = capacity_ * kValueBytes;
  const std::size_t doubled = std::max({needed, 2 * capacity_, kFirstCapacityBytes / kValueBytes});
  const std::size_t modest = needed + needed / 8;
  for (const std::size_t values : {doubled, modest, needed}) {
    const std::size_t bytes = round_up_to_pages(values * kValueBytes);
    if (void* const block = resize_block(data_, old_bytes, bytes)) {
      data_ = static_cast<float*>(block);
      capacity_ = bytes / kValueBytes;
      return;
    }
  }
  throw std::bad_alloc();
}

void ValueStore::make_pages_present() noexcept {
  const std::size_t bytes = capacity_ * kValueBytes;
  [[maybe_unused]] const std::size_t from = std::min(present_ * kValueBytes, bytes);
  const std::size_t to =
      std::min(bytes, round_up_to_pages(size_ * kValueBytes) + kPresentAheadBytes);
#if TARNEX_STORE_MAPPED
  // Advice only: where it is refused, each page is made present by its first write instead.
  if (to > from) ::madvise(reinterpret_cast<char*>(data_) + from, to - from, MADV_POPULATE_WRITE);
#endif
  present_ = to / kValueBytes;
}

void ValueStore::make_present(std::size_t from, std::size_t to) noexcept {
#if TARNEX_STORE_MAPPED
  const std::size_t page = page_size();
  const std::size_t first = std::min(from, size_) * kValueBytes / page * page;
  const std::size_t last = round_up_to_pages(std::min(to, size_) * kValueBytes);
  // Advice only: where it is refused, each page is made present by its first write instead.
  if (last > first) {
    ::madvise(reinterpret_cast<char*>(data_) + first, last - first, MADV_POPULATE_WRITE);
  }
#else
  (void)from;
  (void)to;
#endif
}

void ValueStore::discard_before(std::size_t index) noexcept {
#if TARNEX_STORE_MAPPED
  const std::size_t page = page_size();
  const std::size_t end = std::min(index, size_) * kValueBytes / page * page;
  if (end <= discarded_) return;
  ::madvise(reinterpret_cast<char*>(data_) + discarded_, end - discarded_, MADV_DONTNEED);
  discarded_ = end;
#else
  (void)index;
#endif
}

void ValueStore::shrink_to_fit() noexcept {
  if (data_ == nullptr) return;
  const std::size_t old_bytes = capacity_ * kValueBytes;
  const std::size_t bytes = round_up_to_pages(std::max<std::size_t>(size_, 1) * kValueBytes);
  if (bytes >= old_bytes) return;
  if (void* const block = resize_block(data_, old_bytes, bytes)) {
    data_ = static_cast<float*>(block);
    capacity_ = bytes / kValueBytes;
    present_ = std::min(present_, capacity_);
  }
}

}  // namespace tarnex
