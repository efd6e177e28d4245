// The per-level kernels of the chunk scan: each marks whole 64-byte blocks, one mask word per
// block into each of `line_feeds` and `non_ascii`. They live in translation units of their own,
// each compiled for its instruction set alone; chunk_scan.cpp chooses among them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnex::chunk_kernels {

using BlockScanner = void (*)(const unsigned char* blocks, std::size_t block_count,
                              std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept;

void scan_blocks_portable(const unsigned char* blocks, std::size_t block_count,
                          std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept;

#if defined(__x86_64__)
void scan_blocks_sse2(const unsigned char* blocks, std::size_t block_count,
                      std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept;
// Only to be called where the processor supports AVX2.
void scan_blocks_avx2(const unsigned char* blocks, std::size_t block_count,
                      std::uint64_t* line_feeds, std::uint64_t* non_ascii) noexcept;
#endif

}  // namespace tarnex::chunk_kernels
