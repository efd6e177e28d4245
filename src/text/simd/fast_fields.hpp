// Whole value lines at once: the fields in the common Fortran E shape, recognised and converted
// with the widest vector instructions the processor has, chosen once at run time.
//
// The shape fills a field exactly: a blank or '-', one digit, a full stop, 5 digits (12-byte
// fields) or 8 digits (15-byte fields), 'E', '+' or '-', two digits. A field in this shape is
// always a valid number, so a field the fast path takes holds no error; the fields it refuses go
// to parse_binary32_field in their order on the line, which meets errors in the same order as
// before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarnex {

// The kernels, from the one every processor runs to the widest. x86-64 has them all; other
// processors only the portable one.
enum class SimdLevel : std::uint8_t { Portable, Sse41, Avx2, Avx512 };

// A bit per field of a line, field 0 in the lowest bit.
using FieldMask = std::uint32_t;
constexpr std::size_t kMaxFastFields = 32;

// Fields 0 .. count - 1 of the line (`width` bytes each, the line at least count * width long,
// count at most kMaxFastFields) as binary32: returns the mask of the fields converted, each
// value in its place in out[0 .. count); the other places are left as they were. A field is
// refused when it is not in the shape or its value cannot be proven correctly rounded; the
// caller converts the refused ones. No byte past the line is read. Widths other than 12 and 15,
// more than kMaxFastFields fields, and a floating-point environment that does not round to
// nearest convert nothing.
FieldMask convert_fast_fields(const char* line, std::size_t line_length, std::size_t count,
                              std::size_t width, float* out) noexcept;

// Fields of a whole run of value lines converted in one call: the fields at base + offsets[i]
// for i in [0, count), count at least kBlockMinimumFields, 16 bytes readable from each field's
// start. Every value lands in out[i]; the fields not converted (out of the shape, or not provably
// correctly rounded) are listed, each once, in groups of up to sixteen.
struct RefusedGroup {
  std::uint32_t first;  // the group's first field
  unsigned lanes;       // bit k: field first + k was not converted
};
constexpr std::size_t kBlockMinimumFields = 8;
// The most groups a block of `count` fields lists.
constexpr std::size_t refused_group_capacity(std::size_t count) noexcept {
  return count / 4 + 2;
}

// convert_fast_fields for the value lines of one file: the kernel and the floating-point
// environment are looked at once, when it is made. A reader makes one per file; nothing it calls
// while reading changes the environment of its thread.
class FastFieldConverter {
 public:
  using Kernel = FieldMask (*)(const char* line, std::size_t line_length, std::size_t count,
                               std::size_t width, float* out) noexcept;

  using BlockKernel = std::size_t (*)(const char* base, const std::uint32_t* offsets,
                                      std::size_t count, std::size_t width, float* out,
                                      RefusedGroup* refused) noexcept;

  explicit FastFieldConverter(std::size_t width) noexcept;

  // Whether block() may be called: the width is one the kernels know and the environment
  // rounds to nearest.
  bool converts_blocks() const noexcept { return block_ != nullptr; }
  // The fields of a block (see RefusedGroup); returns how many groups it listed in `refused`,
  // which has room for refused_group_capacity(count).
  std::size_t block(const char* base, const std::uint32_t* offsets, std::size_t count, float* out,
                    RefusedGroup* refused) const noexcept {
    return block_(base, offsets, count, width_, out, refused);
  }

  // Fields 0 .. count - 1 of the line (the line at least count * width long, count at most
  // kMaxFastFields), as convert_fast_fields converts them.
  FieldMask operator()(const char* line, std::size_t line_length, std::size_t count,
                       float* out) const noexcept {
    return kernel_(line, line_length, count, width_, out);
  }

 private:
  Kernel kernel_;
  BlockKernel block_;
  std::size_t width_;
};

// The same with the kernel of `level`, which must be one of supported_simd_levels(); for the
// tests, the fuzzer and the benchmarks.
FieldMask convert_fast_fields_at(SimdLevel level, const char* line, std::size_t line_length,
                                 std::size_t count, std::size_t width, float* out) noexcept;

// The block conversion with the kernel of `level`, which must be one of supported_simd_levels();
// for the tests, the fuzzer and the benchmarks. A width the kernels do not know, or an
// environment that does not round to nearest, lists every field as refused.
std::size_t convert_block_at(SimdLevel level, const char* base, const std::uint32_t* offsets,
                             std::size_t count, std::size_t width, float* out,
                             RefusedGroup* refused) noexcept;

// The levels this processor runs, narrowest first.
std::span<const SimdLevel> supported_simd_levels() noexcept;

// The level convert_fast_fields uses: the widest that chosen_level() (cpu_levels.hpp) includes.
SimdLevel active_simd_level() noexcept;

// "portable", "sse41", "avx2" or "avx512".
std::string_view simd_level_name(SimdLevel level) noexcept;

}  // namespace tarnex
