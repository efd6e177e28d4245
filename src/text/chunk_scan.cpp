#include "text/chunk_scan.hpp"

#include <array>
#include <bit>
#include <cstring>

#include "text/chunk_scan_kernels.hpp"
#include "text/cpu_levels.hpp"

namespace tarnex {

namespace chunk_kernels {

namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x80 * kEveryByte;
constexpr std::uint64_t kLowBits = 0x7F * kEveryByte;

// One bit per byte from the high bits of a word: bit i for byte i. The multiplier gathers the
// eight bits into the top byte without carries, since every product lands on a bit of its own.
constexpr std::uint64_t gather_high_bits(std::uint64_t high_bits) noexcept {
  return ((high_bits >> 7) * 0x0102040810204080ULL) >> 56;
}

// The high bit of each byte that is zero, and of no other: the sum cannot carry across bytes.
constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
  return ~(((word & kLowBits) + kLowBits) | word) & kHighBits;
}

}  // namespace

// For processors without a vector path: eight bytes at a time in a general register.
void scan_blocks_portable(const unsigned char* blocks, std::size_t block_count,
                          std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept {
  for (std::size_t b = 0; b < block_count; ++b) {
    std::uint64_t feeds = 0;
    std::uint64_t high = 0;
    for (unsigned part = 0; part < 8; ++part) {
      std::uint64_t word;
      std::memcpy(&word, blocks + b * ChunkMarks::kBlockSize + 8 * part, sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      // Line feeds are one byte in a hundred and non-ASCII bytes rarer still: most words
      // need no gathering.
      const std::uint64_t found_feeds = zero_bytes(word ^ ('\n' * kEveryByte));
      if (found_feeds != 0) feeds |= gather_high_bits(found_feeds) << (8 * part);
      const std::uint64_t found_high = word & kHighBits;
      if (found_high != 0) high |= gather_high_bits(found_high) << (8 * part);
    }
    line_feeds[b] = feeds;
    non_ascii[b] = high;
  }
}

}  // namespace chunk_kernels

namespace {

using chunk_kernels::BlockScanner;

// The whole blocks straight from the chunk; a last partial block is copied to a block of zeros
// first, so that no kernel reads past the chunk and the bits past its end stay clear.
template <BlockScanner scan_blocks>
void scan_chunk(const char* bytes, std::size_t size, ChunkMarks& marks) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes);
  const std::size_t whole = size / ChunkMarks::kBlockSize;
  scan_blocks(data, whole, marks.line_feeds(), marks.non_ascii());
  const std::size_t rest = size % ChunkMarks::kBlockSize;
  if (rest == 0) return;
  unsigned char last[ChunkMarks::kBlockSize] = {};
  std::memcpy(last, data + whole * ChunkMarks::kBlockSize, rest);
  scan_blocks(last, 1, marks.line_feeds() + whole, marks.non_ascii() + whole);
}

constexpr std::array kAllLevels{ScanLevel::Portable, ScanLevel::Sse2, ScanLevel::Avx2};

// The scan has kernels for SSE2 and AVX2 alone: a processor level scans with the widest of them
// that it includes.
ScanLevel scan_level_of(CpuLevel level) noexcept {
  switch (level) {
    case CpuLevel::Portable:
      return ScanLevel::Portable;
    case CpuLevel::Sse2:
    case CpuLevel::Sse41:
      return ScanLevel::Sse2;
    case CpuLevel::Avx2:
    case CpuLevel::Avx512:
      break;
  }
  return ScanLevel::Avx2;
}

}  // namespace

const char* scan_level_name(ScanLevel level) noexcept {
  switch (level) {
    case ScanLevel::Portable:
      return "portable";
    case ScanLevel::Sse2:
      return "sse2";
    case ScanLevel::Avx2:
      return "avx2";
  }
  return "unknown";
}

std::span<const ScanLevel> supported_scan_levels() noexcept {
  const auto count = static_cast<std::size_t>(scan_level_of(processor_level())) + 1;
  return std::span<const ScanLevel>(kAllLevels.data(), count);
}

ScanLevel best_scan_level() noexcept {
  return scan_level_of(chosen_level());
}

ChunkScanner chunk_scanner(ScanLevel level) noexcept {
  switch (level) {
#if defined(__x86_64__)
    case ScanLevel::Avx2:
      return scan_chunk<chunk_kernels::scan_blocks_avx2>;
    case ScanLevel::Sse2:
      return scan_chunk<chunk_kernels::scan_blocks_sse2>;
#endif
    default:
      return scan_chunk<chunk_kernels::scan_blocks_portable>;
  }
}

}  // namespace tarnex
