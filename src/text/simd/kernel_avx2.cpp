// The AVX2 kernel: two fields per 32-byte register, one in each 16-byte lane, with the steps of
// the SSE4.1 kernel (byte shuffles and multiply-adds work lane by lane). Compiled with -mavx2
// and nothing else of this project is.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex::simd {
namespace {

__m256i both_lanes(const void* table) noexcept {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(table)));
}

struct Registers {
  __m256i plus_form, minus_form, digit_positions, digit_groups;
  __m256i pair_weights, four_weights, part_weights;
  __m256i zeros, nine, minus;

  explicit Registers(const FieldLayout& layout) noexcept
      : plus_form(both_lanes(layout.plus_form)),
        minus_form(both_lanes(layout.minus_form)),
        digit_positions(both_lanes(layout.digit_positions)),
        digit_groups(both_lanes(layout.digit_groups)),
        pair_weights(both_lanes(kPairWeights)),
        four_weights(both_lanes(kFourWeights)),
        part_weights(both_lanes(kPartWeights)),
        zeros(_mm256_set1_epi8('0')),
        nine(_mm256_set1_epi8(9)),
        minus(_mm256_set1_epi8('-')) {}
};

// Fields `first` and `first + 1` (a field past `count` repeats the first; it is never used).
__m256i load_field_pair(const char* line, std::size_t line_length, std::size_t first,
                        std::size_t count, std::size_t width) noexcept {
  const __m128i low = load_field_bytes(line, line_length, first * width);
  const __m128i high =
      first + 1 < count ? load_field_bytes(line, line_length, (first + 1) * width) : low;
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

}  // namespace

std::size_t convert_avx2(const char* line, std::size_t line_length, std::size_t count,
                         std::size_t width, float* out) noexcept {
  const FieldLayout& layout = layout_of(width);
  const Registers r(layout);
  const auto field_width = static_cast<unsigned>(width);
  for (std::size_t i = 0; i < count; i += 2) {
    const __m256i text = load_field_pair(line, line_length, i, count, width);
    const __m256i digits = _mm256_sub_epi8(text, r.zeros);
    const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digits, r.nine), digits);
    const __m256i fits = _mm256_or_si256(_mm256_and_si256(is_digit, r.digit_positions),
                                         _mm256_or_si256(_mm256_cmpeq_epi8(text, r.plus_form),
                                                         _mm256_cmpeq_epi8(text, r.minus_form)));
    const auto fitting = static_cast<std::uint32_t>(_mm256_movemask_epi8(fits));
    const auto minus_bits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(text, r.minus)));
    const __m256i pairs =
        _mm256_maddubs_epi16(_mm256_shuffle_epi8(digits, r.digit_groups), r.pair_weights);
    const __m256i fours = _mm256_madd_epi16(pairs, r.four_weights);
    const __m256i parts = _mm256_madd_epi16(_mm256_packus_epi32(fours, fours), r.part_weights);
    alignas(32) std::uint32_t part[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(part), parts);
    const std::size_t in_pair = count - i < 2 ? count - i : 2;
    for (std::size_t k = 0; k < in_pair; ++k) {
      const unsigned shift = 16 * static_cast<unsigned>(k);
      if (((fitting >> shift) & layout.field_bits) != layout.field_bits ||
          !convert_parts(part[4 * k], part[4 * k + 1], part[4 * k + 2], minus_bits >> shift, layout,
                         field_width, out[i + k])) {
        return i + k;
      }
    }
  }
  return count;
}

}  // namespace tarnex::simd
