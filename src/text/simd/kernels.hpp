// One kernel per instruction set level, each in its own translation unit compiled for that level
// alone. Each takes a width of 12 or 15, a line at least count * width bytes long and at most
// kMaxFastFields fields, and returns the mask of the fields it converted; the dispatcher checks
// all three, and the floating-point environment, before calling one.
#pragma once

#include <cstddef>

#include "text/simd/fast_fields.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#define TARNEX_SIMD_X86 1
#else
#define TARNEX_SIMD_X86 0
#endif

namespace tarnex::simd {

using FieldKernel = FastFieldConverter::Kernel;
using BlockKernel = FastFieldConverter::BlockKernel;

// Each level also converts whole blocks (see RefusedGroup); the vector ones in groups of their
// width over the flat field index.
std::size_t convert_block_portable(const char* base, const std::uint32_t* offsets,
                                   std::size_t count, std::size_t width, float* out,
                                   RefusedGroup* refused) noexcept;
#if TARNEX_SIMD_X86
std::size_t convert_block_sse41(const char* base, const std::uint32_t* offsets, std::size_t count,
                                std::size_t width, float* out, RefusedGroup* refused) noexcept;
std::size_t convert_block_avx2(const char* base, const std::uint32_t* offsets, std::size_t count,
                               std::size_t width, float* out, RefusedGroup* refused) noexcept;
std::size_t convert_block_avx512(const char* base, const std::uint32_t* offsets, std::size_t count,
                                 std::size_t width, float* out, RefusedGroup* refused) noexcept;
#endif

// Eight bytes at a time in general-purpose registers, for every processor.
FieldMask convert_portable(const char* line, std::size_t line_length, std::size_t count,
                           std::size_t width, float* out) noexcept;

#if TARNEX_SIMD_X86
// A field per 16-byte register.
FieldMask convert_sse41(const char* line, std::size_t line_length, std::size_t count,
                        std::size_t width, float* out) noexcept;
// Two fields per 32-byte register; the AVX-512 level's too (a line is too short for sixteen).
FieldMask convert_avx2(const char* line, std::size_t line_length, std::size_t count,
                       std::size_t width, float* out) noexcept;
#endif

}  // namespace tarnex::simd
