// The vector instruction sets this processor runs, asked of it once per process, and the one
// level the reader works at: the chunk scan and the field conversion both take their kernels
// from it, so that a process scans and converts at the same width.
#pragma once

#include <cstdint>

namespace tarnex {

// From the plainest to the widest; each level includes those before it. Every x86-64 has SSE2;
// other processors have the portable code alone. AVX-512 is F, BW, DQ and VL together.
enum class CpuLevel : std::uint8_t { Portable, Sse2, Sse41, Avx2, Avx512 };

// The widest level this build has kernels for and this processor runs.
CpuLevel processor_level() noexcept;

// The level the reader works at: processor_level(), or in a test build held to a narrower one
// (TARNEX_FORCED_SIMD_LEVEL) the widest the processor runs up to that one.
CpuLevel chosen_level() noexcept;

}  // namespace tarnex
