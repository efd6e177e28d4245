// The marks of one chunk of a plot file: where its line feeds are and where its bytes leave
// ASCII, found in one SIMD pass over the chunk when it is read, so that lines need neither a
// search of their own for their end nor, in the ASCII stretches, a UTF-8 check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tarnex {

// The instruction sets a chunk can be scanned with, each taken where the processor level
// (cpu_levels.hpp) includes it.
enum class ScanLevel { Portable, Sse2, Avx2 };

const char* scan_level_name(ScanLevel level) noexcept;

// The levels this build has and this processor runs, from the plainest to the best.
std::span<const ScanLevel> supported_scan_levels() noexcept;
// The level the reader scans at: the widest that chosen_level() includes.
ScanLevel best_scan_level() noexcept;

// One bit per byte of the chunk, bit i of word w for byte 64 w + i; bits past the chunk's end
// are clear. Sized once for the largest chunk it will hold: the reader's read size.
class ChunkMarks {
 public:
  static constexpr std::size_t kBlockSize = 64;

  explicit ChunkMarks(std::size_t capacity)
      : capacity_(capacity),
        words_(word_count(capacity)),
        storage_(new std::uint64_t[2 * word_count(capacity)]) {}

  // The most bytes a chunk may have.
  std::size_t capacity() const noexcept { return capacity_; }
  // A word per block: its line feeds, and its bytes 0x80 to 0xFF.
  std::uint64_t* line_feeds() noexcept { return storage_.get(); }
  std::uint64_t* non_ascii() noexcept { return storage_.get() + words_; }

  // The offset of the first line feed in [start, end), or `end` when there is none. `end` is
  // the chunk's size.
  std::size_t next_line_feed(std::size_t start, std::size_t end) const noexcept {
    return next_mark(storage_.get(), start, end);
  }
  // The offset of the first byte at or after `start` that is not ASCII, or `end`.
  std::size_t next_non_ascii(std::size_t start, std::size_t end) const noexcept {
    return next_mark(storage_.get() + words_, start, end);
  }

 private:
  static std::size_t word_count(std::size_t bytes) noexcept {
    return (bytes + kBlockSize - 1) / kBlockSize;
  }
  static std::size_t next_mark(const std::uint64_t* words, std::size_t start,
                               std::size_t end) noexcept {
    if (start >= end) return end;
    std::size_t word = start / kBlockSize;
    std::uint64_t bits = words[word] & (~std::uint64_t{0} << (start % kBlockSize));
    const std::size_t last = word_count(end);
    while (bits == 0) {
      if (++word >= last) return end;
      bits = words[word];
    }
    return word * kBlockSize + static_cast<std::size_t>(__builtin_ctzll(bits));
  }

  std::size_t capacity_;
  std::size_t words_;
  std::unique_ptr<std::uint64_t[]> storage_;  // the line feed words, then the non-ASCII words
};

// Marks the line feeds and non-ASCII bytes of `size` bytes (at most marks.capacity()).
using ChunkScanner = void (*)(const char* bytes, std::size_t size, ChunkMarks& marks);
ChunkScanner chunk_scanner(ScanLevel level) noexcept;

}  // namespace tarnex
