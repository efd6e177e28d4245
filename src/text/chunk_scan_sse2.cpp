// The chunk scan with SSE2, which every x86-64 processor has: four 16-byte loads per block.
#if defined(__x86_64__)
#include <emmintrin.h>

#include "text/chunk_scan_kernels.hpp"

namespace tarnex::chunk_kernels {

void scan_blocks_sse2(const unsigned char* blocks, std::size_t block_count,
                      std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept {
  const __m128i feed = _mm_set1_epi8('\n');
  for (std::size_t b = 0; b < block_count; ++b) {
    const auto* block = reinterpret_cast<const __m128i*>(blocks + b * 64);
    std::uint64_t feeds = 0;
    std::uint64_t high = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i bytes = _mm_loadu_si128(block + part);
      const auto shift = static_cast<unsigned>(16 * part);
      feeds |=
          std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feed)))}
          << shift;
      high |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(bytes))} << shift;
    }
    line_feeds[b] = feeds;
    non_ascii[b] = high;
  }
}

}  // namespace tarnex::chunk_kernels

#endif  // __x86_64__
