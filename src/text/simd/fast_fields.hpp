// Whole value lines at once: the fields in the common Fortran E shape, recognised and converted
// with the widest vector instructions the processor has, chosen once at run time.
//
// The shape fills a field exactly: a blank or '-', one digit, a full stop, 5 digits (12-byte
// fields) or 8 digits (15-byte fields), 'E', '+' or '-', two digits. A field in this shape is
// always a valid number, so a line whose fields the fast path takes can hold no error; the first
// field it refuses, and every one after it, goes to parse_binary32_field, which meets errors in
// the same order as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarnex {

// The kernels, from the one every processor runs to the widest. x86-64 has them all; other
// processors only the portable one.
enum class SimdLevel : std::uint8_t { Portable, Sse41, Avx2 };

// Fields 0 .. count - 1 of the line (`width` bytes each, the line at least count * width long)
// as binary32: returns the number n of leading fields converted, whose values are in
// out[0 .. n); the rest of out[0 .. count) is left as it was. It stops at the first field that
// is not in the shape or whose value it cannot prove correctly rounded; the caller converts that
// field and the rest. No byte past the line is read. Widths other than 12 and 15, and a floating-point
// environment that does not round to nearest, convert nothing.
std::size_t convert_fast_fields(const char* line, std::size_t line_length, std::size_t count,
                                std::size_t width, float* out) noexcept;

// The same with the kernel of `level`, which must be one of supported_simd_levels(); for the
// tests, the fuzzer and the benchmarks.
std::size_t convert_fast_fields_at(SimdLevel level, const char* line, std::size_t line_length,
                                   std::size_t count, std::size_t width, float* out) noexcept;

// The levels this processor runs, narrowest first.
std::span<const SimdLevel> supported_simd_levels() noexcept;

// The level convert_fast_fields uses: the widest supported one (or the one a test build forces).
SimdLevel active_simd_level() noexcept;

// "portable", "sse41" or "avx2".
std::string_view simd_level_name(SimdLevel level) noexcept;

}  // namespace tarnex
