// The choice of kernel: the widest level the processor runs, found once, on the first call.
//
// A test build may force a narrower level (TARNEX_FORCED_SIMD_LEVEL, set by the CMake option
// TARNEX_FORCE_SIMD_LEVEL) so that the Python suite runs on each kernel; the shipped build never
// sets it, and nothing at run time changes the choice.
#include <array>
#include <cstddef>
#include <limits>
#include <span>
#include <string_view>

#include "text/simd/exact_scale.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex {
namespace {

struct Levels {
  std::array<SimdLevel, 4> levels{};
  std::size_t count = 0;

  void add(SimdLevel level) noexcept { levels[count++] = level; }
};

Levels detect_levels() noexcept {
  Levels found;
  found.add(SimdLevel::Portable);
#if TARNEX_SIMD_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.1")) found.add(SimdLevel::Sse41);
  // The processor's support includes the operating system's saving of the 32-byte registers.
  if (__builtin_cpu_supports("avx2")) found.add(SimdLevel::Avx2);
  // Likewise for the 64-byte registers and the mask registers.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl")) {
    found.add(SimdLevel::Avx512);
  }
#endif
  return found;
}

const Levels& levels() noexcept {
  static const Levels detected = detect_levels();
  return detected;
}

simd::FieldKernel kernel_of(SimdLevel level) noexcept {
  switch (level) {
#if TARNEX_SIMD_X86
    case SimdLevel::Sse41:
      return simd::convert_sse41;
    case SimdLevel::Avx2:
    case SimdLevel::Avx512:  // a value line is too short for sixteen lanes
      return simd::convert_avx2;
#endif
    default:
      return simd::convert_portable;
  }
}

bool is_supported(SimdLevel level) noexcept {
  for (const SimdLevel supported : supported_simd_levels()) {
    if (supported == level) return true;
  }
  return false;
}

SimdLevel choose_level() noexcept {
  const std::span<const SimdLevel> supported = supported_simd_levels();
#ifdef TARNEX_FORCED_SIMD_LEVEL
  // The widest supported level up to the forced one.
  SimdLevel chosen = SimdLevel::Portable;
  for (const SimdLevel level : supported) {
    if (static_cast<int>(level) <= TARNEX_FORCED_SIMD_LEVEL) chosen = level;
  }
  return chosen;
#else
  return supported.back();
#endif
}

simd::BlockKernel block_kernel_of(SimdLevel level) noexcept {
  switch (level) {
#if TARNEX_SIMD_X86
    case SimdLevel::Sse41:
      return simd::convert_block_sse41;
    case SimdLevel::Avx2:
      return simd::convert_block_avx2;
    case SimdLevel::Avx512:
      return simd::convert_block_avx512;
#endif
    default:
      return simd::convert_block_portable;
  }
}

struct Choice {
  SimdLevel level;
  simd::FieldKernel kernel;
  simd::BlockKernel block;
};

const Choice& choice() noexcept {
  static const Choice chosen = [] {
    const SimdLevel level = choose_level();
    return Choice{level, kernel_of(level), block_kernel_of(level)};
  }();
  return chosen;
}

// The kernels' products and narrowing count on rounding to nearest. The interpreter never
// changes the rounding mode, but other native code in the process may; the exact path then
// converts the whole line.
bool rounds_to_nearest() noexcept {
  static volatile const float smallest = std::numeric_limits<float>::min();
  const float tiny = smallest;
  return tiny + 1.0f == 1.0f - tiny;
}

bool can_take(std::size_t count, std::size_t width) noexcept {
  return (width == simd::kSixDigitWidth || width == simd::kNineDigitWidth) &&
         count <= kMaxFastFields && rounds_to_nearest();
}

FieldMask convert_nothing(const char*, std::size_t, std::size_t, std::size_t, float*) noexcept {
  return 0;
}

// Every field of the block listed as refused.
std::size_t refuse_block(std::size_t count, RefusedGroup* refused) noexcept {
  std::size_t groups = 0;
  for (std::size_t first = 0; first < count; first += 8) {
    const std::size_t fields = count - first < 8 ? count - first : 8;
    refused[groups++] = {static_cast<std::uint32_t>(first), (1u << fields) - 1};
  }
  return groups;
}

}  // namespace

FastFieldConverter::FastFieldConverter(std::size_t width) noexcept
    : kernel_(can_take(kMaxFastFields, width) ? choice().kernel : convert_nothing),
      block_(can_take(kMaxFastFields, width) ? choice().block : nullptr),
      width_(width) {}

FieldMask convert_fast_fields(const char* line, std::size_t line_length, std::size_t count,
                              std::size_t width, float* out) noexcept {
  if (!can_take(count, width)) return 0;
  return choice().kernel(line, line_length, count, width, out);
}

FieldMask convert_fast_fields_at(SimdLevel level, const char* line, std::size_t line_length,
                                 std::size_t count, std::size_t width, float* out) noexcept {
  if (!is_supported(level) || !can_take(count, width)) return 0;
  return kernel_of(level)(line, line_length, count, width, out);
}

std::size_t convert_block_at(SimdLevel level, const char* base, const std::uint32_t* offsets,
                             std::size_t count, std::size_t width, float* out,
                             RefusedGroup* refused) noexcept {
  if (!is_supported(level) || !can_take(0, width)) return refuse_block(count, refused);
  return block_kernel_of(level)(base, offsets, count, width, out, refused);
}

std::span<const SimdLevel> supported_simd_levels() noexcept {
  return {levels().levels.data(), levels().count};
}

SimdLevel active_simd_level() noexcept {
  return choice().level;
}

std::string_view simd_level_name(SimdLevel level) noexcept {
  switch (level) {
    case SimdLevel::Sse41:
      return "sse41";
    case SimdLevel::Avx2:
      return "avx2";
    case SimdLevel::Avx512:
      return "avx512";
    case SimdLevel::Portable:
      break;
  }
  return "portable";
}

}  // namespace tarnex
