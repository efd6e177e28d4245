// The SSE4.1 kernel: one field per 16-byte register. The shape is checked for all its bytes at
// once, the digits are gathered with a byte shuffle and combined by multiply-add steps; then two
// fields at a time go through the product, the boundary test of exact_scale.hpp (in 32-bit
// lanes, which SSE4.1 compares) and the narrowing. Compiled with -msse4.1 and nothing else of
// this project is.
#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"
#include "text/simd/pair_conversion.hpp"

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
  __m128i plus_form, highest, minus_form, digit_groups, sign_marks;
  __m128i pair_weights, four_weights, part_weights;

  explicit Registers(const FieldLayout& layout) noexcept
      : plus_form(bytes_of(layout.plus_form)),
        highest(bytes_of(layout.highest)),
        minus_form(bytes_of(layout.minus_form)),
        digit_groups(bytes_of(layout.digit_groups)),
        sign_marks(bytes_of(layout.sign_marks)),
        pair_weights(bytes_of(kPairWeights)),
        four_weights(words_of(kFourWeights)),
        part_weights(words_of(kPartWeights)) {}
};

// One field read: its 32-bit parts lead group, other digits, exponent digits and signs (top
// byte: the field's '-', the byte below: the exponent's), and whether it is in the shape.
struct Field {
  __m128i parts;
  bool fits;
};

[[gnu::always_inline]] inline Field read_field(__m128i text, const Registers& r) noexcept {
  const __m128i digits = _mm_xor_si128(text, r.plus_form);
  const __m128i minus = _mm_cmpeq_epi8(text, r.minus_form);
  const __m128i fits = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(digits, r.highest), digits), minus);
  const __m128i pairs = _mm_maddubs_epi16(_mm_shuffle_epi8(digits, r.digit_groups), r.pair_weights);
  const __m128i fours = _mm_madd_epi16(pairs, r.four_weights);
  const __m128i parts = _mm_madd_epi16(_mm_packus_epi32(fours, fours), r.part_weights);
  const __m128i signs = _mm_shuffle_epi8(minus, r.sign_marks);
  return {_mm_or_si128(parts, signs), _mm_movemask_epi8(fits) == 0xFFFF};
}

template <unsigned Width>
FieldMask convert_line(const char* line, std::size_t line_length, std::size_t count,
                       float* out) noexcept {
  const FieldLayout& layout = layout_of(Width);
  const Registers r(layout);
  // 16 bytes of the line from the field's start, or where the line ends sooner, its bytes moved
  // down; past `count` the first field of the pair stands in (its value is never used).
  const auto field_at = [&](std::size_t index) {
    const std::size_t offset = index * Width;
    return offset + 16 <= line_length
               ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + offset))
               : load_field_bytes(line, line_length, offset, layout, Width);
  };
  FieldMask taken = 0;
  for (std::size_t i = 0; i < count; i += 2) {
    const Field first = read_field(field_at(i), r);
    const Field second = i + 1 < count ? read_field(field_at(i + 1), r) : Field{first.parts, false};
    __m128 values;
    const unsigned pair = convert_two<Width>(first.parts, second.parts, values) &
                          ((first.fits ? 1u : 0u) | (second.fits ? 2u : 0u));
    if (pair == 3) {
      _mm_storel_pi(reinterpret_cast<__m64*>(out + i), values);
    } else if (pair == 1) {
      _mm_store_ss(out + i, values);
    } else if (pair == 2) {
      _mm_store_ss(out + i + 1, _mm_shuffle_ps(values, values, _MM_SHUFFLE(1, 1, 1, 1)));
    }
    taken |= FieldMask{pair} << i;
  }
  return taken;
}

}  // namespace

FieldMask convert_sse41(const char* line, std::size_t line_length, std::size_t count,
                        std::size_t width, float* out) noexcept {
  return width == kSixDigitWidth ? convert_line<kSixDigitWidth>(line, line_length, count, out)
                                 : convert_line<kNineDigitWidth>(line, line_length, count, out);
}

}  // namespace tarnex::simd
