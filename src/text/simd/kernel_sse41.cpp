// The SSE4.1 kernel: one field per 16-byte register. The shape is checked for all its bytes at
// once, and the digits are gathered with a byte shuffle and combined by multiply-add steps.
// Compiled with -msse4.1 and nothing else of this project is.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex::simd {
namespace {

__m128i bytes_of(const std::uint8_t (&table)[16]) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
}
__m128i words_of(const std::int16_t (&table)[8]) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
}

// The layout's tables in registers, loaded once per line.
struct Registers {
  __m128i plus_form, minus_form, digit_positions, digit_groups;
  __m128i pair_weights, four_weights, part_weights;
  __m128i zeros, nine, minus;

  explicit Registers(const FieldLayout& layout) noexcept
      : plus_form(bytes_of(layout.plus_form)),
        minus_form(bytes_of(layout.minus_form)),
        digit_positions(bytes_of(layout.digit_positions)),
        digit_groups(bytes_of(layout.digit_groups)),
        pair_weights(bytes_of(kPairWeights)),
        four_weights(words_of(kFourWeights)),
        part_weights(words_of(kPartWeights)),
        zeros(_mm_set1_epi8('0')),
        nine(_mm_set1_epi8(9)),
        minus(_mm_set1_epi8('-')) {}
};

}  // namespace

std::size_t convert_sse41(const char* line, std::size_t line_length, std::size_t count,
                          std::size_t width, float* out) noexcept {
  const FieldLayout& layout = layout_of(width);
  const Registers r(layout);
  const auto field_width = static_cast<unsigned>(width);
  for (std::size_t i = 0; i < count; ++i) {
    const __m128i text = load_field_bytes(line, line_length, i * width, layout, width);
    const __m128i digits = _mm_sub_epi8(text, r.zeros);
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, r.nine), digits);
    const __m128i fits = _mm_or_si128(
        _mm_and_si128(is_digit, r.digit_positions),
        _mm_or_si128(_mm_cmpeq_epi8(text, r.plus_form), _mm_cmpeq_epi8(text, r.minus_form)));
    const auto fitting = static_cast<std::uint32_t>(_mm_movemask_epi8(fits));
    if ((fitting & layout.field_bits) != layout.field_bits) return i;
    const auto minus_bits =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, r.minus)));
    const __m128i pairs =
        _mm_maddubs_epi16(_mm_shuffle_epi8(digits, r.digit_groups), r.pair_weights);
    const __m128i fours = _mm_madd_epi16(pairs, r.four_weights);
    const __m128i parts = _mm_madd_epi16(_mm_packus_epi32(fours, fours), r.part_weights);
    const auto lead = static_cast<std::uint32_t>(_mm_cvtsi128_si32(parts));
    const auto rest = static_cast<std::uint32_t>(_mm_extract_epi32(parts, 1));
    const auto exponent = static_cast<std::uint32_t>(_mm_extract_epi32(parts, 2));
    if (!convert_parts(lead, rest, exponent, minus_bits, layout, field_width, out[i])) return i;
  }
  return count;
}

}  // namespace tarnex::simd
