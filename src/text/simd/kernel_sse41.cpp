// The SSE4.1 kernel: one field per 16-byte register. The shape is checked for all its bytes at
// once, the digits are gathered with a byte shuffle and combined by multiply-add steps; then four
// fields at a time (the last one or two of a line two at a time) go through the product, the
// boundary test of exact_scale.hpp (in 32-bit lanes, which SSE4.1 compares) and the narrowing.
// Compiled with -msse4.1 and nothing else of this project is.
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

// Four fields (parts as read_field leaves them) converted into `values`: a bit per field whose
// value is proven correctly rounded. A 4 x 4 transpose of the parts leaves each part of the four
// fields in one register; the products take two fields per register.
template <unsigned Width>
[[gnu::always_inline]] inline unsigned convert_four(const __m128i (&parts)[4],
                                                    __m128& values) noexcept {
  const PairConstants& k = pair_constants<Width>();
  const __m128i leads_rests_01 = _mm_unpacklo_epi32(parts[0], parts[1]);
  const __m128i leads_rests_23 = _mm_unpacklo_epi32(parts[2], parts[3]);
  const __m128i exponents_signs_01 = _mm_unpackhi_epi32(parts[0], parts[1]);
  const __m128i exponents_signs_23 = _mm_unpackhi_epi32(parts[2], parts[3]);
  const __m128i rests = _mm_unpackhi_epi64(leads_rests_01, leads_rests_23);
  const __m128i exponents = _mm_unpacklo_epi64(exponents_signs_01, exponents_signs_23);
  const __m128i signs = _mm_unpackhi_epi64(exponents_signs_01, exponents_signs_23);
  const __m128i index = power_index(exponents, signs, k);

  __m128d digits_01 = _mm_cvtepi32_pd(rests);
  __m128d digits_23 = _mm_cvtepi32_pd(_mm_srli_si128(rests, 8));
  if constexpr (Width == kNineDigitWidth) {  // the lead group is zero in 6-digit fields
    const __m128i leads = _mm_unpacklo_epi64(leads_rests_01, leads_rests_23);
    const __m128d lead_scale = _mm_set1_pd(kLeadScale);
    // Exact: both terms and the sum are below 2^30.
    digits_01 = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(leads), lead_scale), digits_01);
    digits_23 =
        _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(leads, 8)), lead_scale), digits_23);
  }
  const __m128d y_01 =
      _mm_mul_pd(digits_01, _mm_setr_pd(kDecimalPowers[_mm_cvtsi128_si32(index)],
                                        kDecimalPowers[_mm_extract_epi32(index, 1)]));
  const __m128d y_23 =
      _mm_mul_pd(digits_23, _mm_setr_pd(kDecimalPowers[_mm_extract_epi32(index, 2)],
                                        kDecimalPowers[_mm_extract_epi32(index, 3)]));

  // The low and the high words of the four binary64 products, in field order.
  const __m128 low_words =
      _mm_shuffle_ps(_mm_castpd_ps(y_01), _mm_castpd_ps(y_23), _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 high_words =
      _mm_shuffle_ps(_mm_castpd_ps(y_01), _mm_castpd_ps(y_23), _MM_SHUFFLE(3, 1, 3, 1));
  __m128i taken_01 = proven_lanes(_mm_castps_si128(high_words), _mm_castps_si128(low_words),
                                  _mm_cmpgt_epi32(index, loaded(k.powers_from_zero)), k);
  __m128i taken_23 = _mm_srli_si128(taken_01, 8);
  const __m128i magnitudes_01 = narrowed_pair(y_01, taken_01);
  const __m128i magnitudes_23 = narrowed_pair(y_23, taken_23);
  const __m128i magnitudes = _mm_unpacklo_epi64(magnitudes_01, magnitudes_23);
  const __m128i taken = _mm_unpacklo_epi64(taken_01, taken_23);
  const __m128i sign_bits = _mm_and_si128(signs, loaded(k.sign_bits));
  values = _mm_castsi128_ps(_mm_or_si128(magnitudes, sign_bits));
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(taken)));
}

// The values of a group whose fields are not all taken: only the taken ones are written.
inline void store_taken(float* out, __m128 values, unsigned taken) noexcept {
  alignas(16) float group[4];
  _mm_store_ps(group, values);
  for (unsigned k = 0; k < 4; ++k) {
    if ((taken >> k & 1u) != 0) out[k] = group[k];
  }
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
  std::size_t i = 0;
  for (; i < count && count - i > 2; i += 4) {
    __m128i parts[4];
    unsigned fitting = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      // Past `count` the group's first field stands in (its value is never used).
      const Field field = read_field(field_at(i + k < count ? i + k : i), r);
      parts[k] = field.parts;
      fitting |= (field.fits ? 1u : 0u) << k;
    }
    __m128 values;
    const unsigned present = count - i >= 4 ? 0xFu : (1u << (count - i)) - 1;
    const unsigned group = convert_four<Width>(parts, values) & fitting & present;
    if (group == 0xF) {
      _mm_storeu_ps(out + i, values);
    } else {
      store_taken(out + i, values, group);
    }
    taken |= FieldMask{group} << i;
  }
  if (i < count) {  // the last one or two fields
    const Field first = read_field(field_at(i), r);
    const Field second = i + 1 < count ? read_field(field_at(i + 1), r) : Field{first.parts, false};
    __m128 values;
    const unsigned pair = convert_two<Width>(first.parts, second.parts, values) &
                          ((first.fits ? 1u : 0u) | (second.fits ? 2u : 0u));
    store_taken(out + i, values, pair);
    taken |= FieldMask{pair} << i;
  }
  return taken;
}

// The fields at base + offsets[0 .. count), count at least kBlockMinimumFields, four at a
// time over their flat index; the last four overlap the four before. Every group's values are
// stored; the fields not taken are listed in `refused`, each once.
template <unsigned Width>
std::size_t convert_block(const char* base, const std::uint32_t* offsets, std::size_t count,
                          float* out, RefusedGroup* refused) noexcept {
  const Registers r(layout_of(Width));
  std::size_t groups = 0;
  std::size_t first = 0;
  std::size_t done = 0;  // the fields before it lie in earlier groups
  for (;;) {
    if (first + 4 > count) first = count - 4;
    __m128i parts[4];
    unsigned fitting = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const Field field = read_field(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offsets[first + k])), r);
      parts[k] = field.parts;
      fitting |= (field.fits ? 1u : 0u) << k;
    }
    __m128 values;
    const unsigned taken = convert_four<Width>(parts, values) & fitting;
    _mm_storeu_ps(out + first, values);
    const unsigned left = ~taken & (0xFu << (done - first)) & 0xFu;
    refused[groups] = {static_cast<std::uint32_t>(first), left};
    groups += left != 0 ? 1 : 0;
    done = first + 4;
    if (done >= count) return groups;
    first = done;
  }
}

}  // namespace

std::size_t convert_block_sse41(const char* base, const std::uint32_t* offsets, std::size_t count,
                                std::size_t width, float* out, RefusedGroup* refused) noexcept {
  return width == kSixDigitWidth
             ? convert_block<kSixDigitWidth>(base, offsets, count, out, refused)
             : convert_block<kNineDigitWidth>(base, offsets, count, out, refused);
}

FieldMask convert_sse41(const char* line, std::size_t line_length, std::size_t count,
                        std::size_t width, float* out) noexcept {
  return width == kSixDigitWidth ? convert_line<kSixDigitWidth>(line, line_length, count, out)
                                 : convert_line<kNineDigitWidth>(line, line_length, count, out);
}

}  // namespace tarnex::simd
