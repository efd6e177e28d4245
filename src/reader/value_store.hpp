// Storage for the values of a plot file: binary32 values in one contiguous block that grows
// without copying what it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>

namespace tarnex {

// On Linux the block is a private anonymous mapping, grown by moving its pages (mremap), so a
// file of any size is stored without a second copy at any time; pages not yet written cost no
// memory. Elsewhere it is a heap block grown by realloc.
class ValueStore {
 public:
  ValueStore() noexcept = default;
  ValueStore(ValueStore&& other) noexcept;
  ValueStore& operator=(ValueStore&& other) noexcept;
  ValueStore(const ValueStore&) = delete;
  ValueStore& operator=(const ValueStore&) = delete;
  ~ValueStore();

  // Room for `count` more values at the end, which the caller fills; std::bad_alloc when the
  // block cannot grow.
  float* append(std::size_t count) {
    if (capacity_ - size_ < count) grow(count);
    float* const room = data_ + size_;
    size_ += count;
    if (size_ > present_) make_pages_present();
    return room;
  }

  // Room for `count` more values at the end, its pages not yet made present: for a block that
  // several threads fill at once, each making its own part present (make_present).
  float* append_unfilled(std::size_t count) {
    if (capacity_ - size_ < count) grow(count);
    float* const room = data_ + size_;
    size_ += count;
    present_ = std::max(present_, size_);
    return room;
  }
  // Forgets the last `count` values held (at most size()).
  void drop_back(std::size_t count) noexcept { size_ -= std::min(count, size_); }
  // Makes the pages of values [from, to) present at once, where the system allows.
  void make_present(std::size_t from, std::size_t to) noexcept;

  float* data() noexcept { return data_; }
  const float* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

  // Gives the memory of whole pages that hold only values before `index` back to the system;
  // those values must not be read again.
  void discard_before(std::size_t index) noexcept;

  // Gives back the room beyond the values held, once no more will be appended.
  void shrink_to_fit() noexcept;

 private:
  void grow(std::size_t count);
  // Makes the pages of the values held and of a short stretch past them present at once.
  void make_pages_present() noexcept;
  void free_block() noexcept;

  float* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;   // in values
  std::size_t discarded_ = 0;  // bytes at the front already given back
  std::size_t present_ = 0;    // values whose pages have been made present
};

}  // namespace tarnex
