// The chunk scan with AVX2: two 32-byte loads per block. This file alone is compiled with
// -mavx2 and is reached only through chunk_scanner() on a processor that has AVX2; it includes
// nothing inline that another file could share, so no AVX2 code leaks into the common path.
#if defined(__x86_64__)
#include <immintrin.h>

#include "text/chunk_scan_kernels.hpp"

namespace tarnex::chunk_kernels {

void scan_blocks_avx2(const unsigned char* blocks, std::size_t block_count,
                      std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept {
  const __m256i feed = _mm256_set1_epi8('\n');
  for (std::size_t b = 0; b < block_count; ++b) {
    const auto* block = reinterpret_cast<const __m256i*>(blocks + b * 64);
    const __m256i low = _mm256_loadu_si256(block);
    const __m256i high = _mm256_loadu_si256(block + 1);
    const auto feeds_low =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, feed)));
    const auto feeds_high =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, feed)));
    line_feeds[b] = std::uint64_t{feeds_high} << 32 | feeds_low;
    non_ascii[b] = std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32 |
                   static_cast<std::uint32_t>(_mm256_movemask_epi8(low));
  }
}

}  // namespace tarnex::chunk_kernels

#endif  // __x86_64__
