// The choice of kernel: the one of the level the reader works at (cpu_levels.hpp), found once,
// on the first call.
#include <array>
#include <cstddef>
#include <limits>
#include <span>
#include <string_view>

#include "text/cpu_levels.hpp"
#include "text/simd/exact_scale.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex {
namespace {

constexpr std::array kAllLevels{SimdLevel::Portable, SimdLevel::Sse41, SimdLevel::Avx2,
                                SimdLevel::Avx512};

// SSE2 alone has no kernel of its own: it converts with the portable one.
SimdLevel simd_level_of(CpuLevel level) noexcept {
  switch (level) {
    case CpuLevel::Portable:
    case CpuLevel::Sse2:
      return SimdLevel::Portable;
    case CpuLevel::Sse41:
      return SimdLevel::Sse41;
    case CpuLevel::Avx2:
      return SimdLevel::Avx2;
    case CpuLevel::Avx512:
      break;
  }
  return SimdLevel::Avx512;
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
  return level <= simd_level_of(processor_level());
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
    const SimdLevel level = simd_level_of(chosen_level());
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
  const auto count = static_cast<std::size_t>(simd_level_of(processor_level())) + 1;
  return {kAllLevels.data(), count};
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
