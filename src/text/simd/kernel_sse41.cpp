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
  __m128i plus_form, minus_form, digit_positions, digit_groups, sign_marks;
  __m128i pair_weights, four_weights, part_weights;
  __m128i zeros, nine, minus;

  explicit Registers(const FieldLayout& layout) noexcept
      : plus_form(bytes_of(layout.plus_form)),
        minus_form(bytes_of(layout.minus_form)),
        digit_positions(bytes_of(layout.digit_positions)),
        digit_groups(bytes_of(layout.digit_groups)),
        sign_marks(bytes_of(layout.sign_marks)),
        pair_weights(bytes_of(kPairWeights)),
        four_weights(words_of(kFourWeights)),
        part_weights(words_of(kPartWeights)),
        zeros(_mm_set1_epi8('0')),
        nine(_mm_set1_epi8(9)),
        minus(_mm_set1_epi8('-')) {}
};

// One field read: its 32-bit parts lead group, other digits, exponent digits and signs (top
// byte: the field's '-', the byte below: the exponent's), and whether it is in the shape.
struct Field {
  __m128i parts;
  bool fits;
};

[[gnu::always_inline]] inline Field read_field(__m128i text, const Registers& r,
                                               std::uint32_t field_bits) noexcept {
  const __m128i digits = _mm_sub_epi8(text, r.zeros);
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, r.nine), digits);
  const __m128i fits = _mm_or_si128(
      _mm_and_si128(is_digit, r.digit_positions),
      _mm_or_si128(_mm_cmpeq_epi8(text, r.plus_form), _mm_cmpeq_epi8(text, r.minus_form)));
  const auto fitting = static_cast<std::uint32_t>(_mm_movemask_epi8(fits));
  const __m128i pairs = _mm_maddubs_epi16(_mm_shuffle_epi8(digits, r.digit_groups), r.pair_weights);
  const __m128i fours = _mm_madd_epi16(pairs, r.four_weights);
  const __m128i parts = _mm_madd_epi16(_mm_packus_epi32(fours, fours), r.part_weights);
  const __m128i signs = _mm_shuffle_epi8(_mm_cmpeq_epi8(text, r.minus), r.sign_marks);
  return {_mm_or_si128(parts, signs), (fitting & field_bits) == field_bits};
}

// Two fields converted into the low half of `values`: a bit per field whose value is proven
// correctly rounded (the test of narrows_exactly, in 32-bit lanes).
[[gnu::always_inline]] inline unsigned convert_two(__m128i first, __m128i second, unsigned width,
                                                   __m128& values) noexcept {
  const __m128i leads_rests = _mm_unpacklo_epi32(first, second);      // l0 l1 r0 r1
  const __m128i exponents_signs = _mm_unpackhi_epi32(first, second);  // e0 e1 s0 s1
  const __m128i signs = _mm_srli_si128(exponents_signs, 8);
  const __m128i minus_exponent = _mm_srai_epi32(_mm_slli_epi32(signs, 8), 31);
  const __m128i powers =
      _mm_sub_epi32(_mm_sub_epi32(_mm_xor_si128(exponents_signs, minus_exponent), minus_exponent),
                    _mm_set1_epi32(static_cast<int>(fraction_digits(width))));
  const __m128d digits =
      _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(leads_rests), _mm_set1_pd(kLeadScale)),
                 _mm_cvtepi32_pd(_mm_srli_si128(leads_rests, 8)));  // exact: below 2^30
  // A field out of the shape has any digits and exponent; its table index is held within the
  // table (a negative one wraps to a large unsigned one), and its value is dropped.
  const __m128i index = _mm_min_epu32(_mm_sub_epi32(powers, _mm_set1_epi32(kLowestDecimalPower)),
                                      _mm_set1_epi32(kDecimalPowerCount - 1));
  const __m128d scale = _mm_setr_pd(kDecimalPowers[_mm_cvtsi128_si32(index)],
                                    kDecimalPowers[_mm_extract_epi32(index, 1)]);
  const __m128d y = _mm_mul_pd(digits, scale);

  // The low and high 32 bits of each binary64: the dropped bits D, and the exponent (y >= 0).
  const __m128i halves = _mm_shuffle_epi32(_mm_castpd_si128(y), _MM_SHUFFLE(3, 1, 2, 0));
  const __m128i exponent = _mm_srli_epi32(_mm_srli_si128(halves, 8), kBinary64FractionBits - 32);
  const __m128i offset =
      _mm_sub_epi32(_mm_and_si128(halves, _mm_set1_epi32(static_cast<int>(kDroppedMask))),
                    _mm_set1_epi32(static_cast<int>(kBoundary - kErrorUnits)));
  const __m128i near = _mm_and_si128(_mm_cmpgt_epi32(offset, _mm_set1_epi32(-1)),
                                     _mm_cmpgt_epi32(_mm_set1_epi32(2 * kErrorUnits + 1), offset));
  const __m128i normal =
      _mm_and_si128(_mm_cmpgt_epi32(exponent, _mm_set1_epi32(kLowestNormalExponent - 1)),
                    _mm_cmpgt_epi32(_mm_set1_epi32(kHighestNormalExponent + 1), exponent));
  // y is zero exactly when its exponent is: the digits are zero, or y is at least 10^-107.
  const __m128i exact =
      _mm_or_si128(_mm_cmpeq_epi32(exponent, _mm_setzero_si128()),
                   _mm_and_si128(_mm_cmpgt_epi32(powers, _mm_set1_epi32(-1)),
                                 _mm_cmpgt_epi32(_mm_set1_epi32(kExactIntegerExponent), exponent)));
  const __m128i taken = _mm_or_si128(exact, _mm_andnot_si128(near, normal));

  const __m128i magnitudes = _mm_castps_si128(_mm_cvtpd_ps(y));
  const __m128i sign_bits = _mm_and_si128(signs, _mm_set1_epi32(static_cast<int>(0x80000000u)));
  values = _mm_castsi128_ps(_mm_or_si128(magnitudes, sign_bits));
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(taken))) & 3u;
}

}  // namespace

FieldMask convert_sse41(const char* line, std::size_t line_length, std::size_t count,
                        std::size_t width, float* out) noexcept {
  const FieldLayout& layout = layout_of(width);
  const Registers r(layout);
  const auto field_width = static_cast<unsigned>(width);
  // 16 bytes of the line from the field's start, or where the line ends sooner, its bytes moved
  // down; past `count` the first field of the pair stands in (its value is never used).
  const auto field_at = [&](std::size_t index) {
    const std::size_t offset = index * width;
    return offset + 16 <= line_length
               ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + offset))
               : load_field_bytes(line, line_length, offset, layout, width);
  };
  FieldMask taken = 0;
  for (std::size_t i = 0; i < count; i += 2) {
    const Field first = read_field(field_at(i), r, layout.field_bits);
    const Field second = i + 1 < count ? read_field(field_at(i + 1), r, layout.field_bits)
                                       : Field{first.parts, false};
    __m128 values;
    const unsigned pair = convert_two(first.parts, second.parts, field_width, values) &
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

}  // namespace tarnex::simd
