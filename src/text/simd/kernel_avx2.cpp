// The AVX2 kernel: two fields per 32-byte register, one in each 16-byte lane, checked and read
// with the steps of the SSE4.1 kernel (byte shuffles and multiply-adds work lane by lane); then
// four fields at a time through the product, the boundary test of exact_scale.hpp and the
// narrowing, in 4 x 64-bit lanes. Compiled with -mavx2 and nothing else of this project is.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex::simd {
namespace {

// A 16-byte table in both lanes of a 32-byte one; the kernel reads its tables as memory operands.
struct alignas(32) WideTable {
  std::uint8_t bytes[32];
};

constexpr WideTable both_lanes(const std::uint8_t (&table)[16]) noexcept {
  WideTable wide{};
  for (int i = 0; i < 16; ++i) wide.bytes[i] = wide.bytes[i + 16] = table[i];
  return wide;
}

constexpr WideTable both_lanes(const std::int16_t (&table)[8]) noexcept {
  WideTable wide{};
  for (int i = 0; i < 16; ++i) {
    const auto word = static_cast<std::uint16_t>(table[i / 2]);
    wide.bytes[i] = wide.bytes[i + 16] = static_cast<std::uint8_t>(i % 2 == 0 ? word : word >> 8);
  }
  return wide;
}

constexpr WideTable every_byte(std::uint8_t byte) noexcept {
  WideTable wide{};
  for (std::uint8_t& b : wide.bytes) b = byte;
  return wide;
}

struct WideLayout {
  WideTable plus_form, minus_form, digit_positions, digit_groups, signs;
  std::uint32_t pair_bits;  // the field bits of both lanes
};

constexpr WideLayout widened(const FieldLayout& layout) noexcept {
  return {both_lanes(layout.plus_form),       both_lanes(layout.minus_form),
          both_lanes(layout.digit_positions), both_lanes(layout.digit_groups),
          both_lanes(layout.sign_marks),      layout.field_bits | (layout.field_bits << 16)};
}

constexpr WideLayout kWideSixDigitLayout = widened(kSixDigitLayout);
constexpr WideLayout kWideNineDigitLayout = widened(kNineDigitLayout);
constexpr WideTable kWidePairWeights = both_lanes(kPairWeights);
constexpr WideTable kWideFourWeights = both_lanes(kFourWeights);
constexpr WideTable kWidePartWeights = both_lanes(kPartWeights);
constexpr WideTable kZeros = every_byte('0');
constexpr WideTable kNines = every_byte(9);
constexpr WideTable kMinus = every_byte('-');

[[gnu::always_inline]] inline __m256i wide(const WideTable& table) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(table.bytes));
}

// Two fields read: per lane the 32-bit parts lead group, other digits, exponent digits, signs
// (top byte: the field's '-', the byte below: the exponent's), and the bytes not in the shape.
struct FieldPair {
  __m256i parts;
  std::uint32_t misfits;  // a bit per field byte that breaks the shape, the second field's from 16
};

// Two fields read from `text`, one in each lane.
[[gnu::always_inline]] inline FieldPair read_pair(__m256i text,
                                                  const WideLayout& wide_layout) noexcept {
  const __m256i digits = _mm256_sub_epi8(text, wide(kZeros));
  const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digits, wide(kNines)), digits);
  const __m256i fits =
      _mm256_or_si256(_mm256_and_si256(is_digit, wide(wide_layout.digit_positions)),
                      _mm256_or_si256(_mm256_cmpeq_epi8(text, wide(wide_layout.plus_form)),
                                      _mm256_cmpeq_epi8(text, wide(wide_layout.minus_form))));
  const auto fitting = static_cast<std::uint32_t>(_mm256_movemask_epi8(fits));
  const __m256i pairs = _mm256_maddubs_epi16(
      _mm256_shuffle_epi8(digits, wide(wide_layout.digit_groups)), wide(kWidePairWeights));
  const __m256i fours = _mm256_madd_epi16(pairs, wide(kWideFourWeights));
  const __m256i parts =
      _mm256_madd_epi16(_mm256_packus_epi32(fours, fours), wide(kWidePartWeights));
  const __m256i signs =
      _mm256_shuffle_epi8(_mm256_cmpeq_epi8(text, wide(kMinus)), wide(wide_layout.signs));
  return {_mm256_or_si256(parts, signs), ~fitting & wide_layout.pair_bits};
}

// Fields `first` and `first + 1`: 16 bytes of the line from the start of each, or where the line
// ends sooner, the field's bytes moved down (load_field_bytes). Past `count` the first field
// stands in for the second (its value is never used).
template <unsigned Width>
[[gnu::always_inline]] inline __m256i pair_bytes(const char* line, std::size_t line_length,
                                                 std::size_t first, std::size_t count) noexcept {
  const char* const field = line + first * Width;
  if ((first + 1) * Width + 16 <= line_length) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(field + Width),
                               reinterpret_cast<const __m128i*>(field));
  }
  const FieldLayout& layout = layout_of(Width);
  const __m128i first_bytes = load_field_bytes(line, line_length, first * Width, layout, Width);
  const __m128i second_bytes =
      first + 1 < count ? load_field_bytes(line, line_length, (first + 1) * Width, layout, Width)
                        : first_bytes;
  return _mm256_inserti128_si256(_mm256_castsi128_si256(first_bytes), second_bytes, 1);
}

// A bit per field of the pair that is in the shape.
[[gnu::always_inline]] inline unsigned fitting_fields(const FieldPair& pair) noexcept {
  return ((pair.misfits & 0xFFFF) == 0 ? 1u : 0u) | ((pair.misfits >> 16) == 0 ? 2u : 0u);
}

[[gnu::always_inline]] inline __m256i every_lane(std::uint64_t value) noexcept {
  return _mm256_set1_epi64x(static_cast<long long>(value));
}

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// Four fields (two pairs) converted into `values`: a bit per field whose value is proven
// correctly rounded. The test is narrows_exactly's, each comparison rewritten for the signed
// 64-bit compares AVX2 has.
template <unsigned Width>
[[gnu::always_inline]] inline unsigned convert_four(const FieldPair& low, const FieldPair& high,
                                                    __m128& values) noexcept {
  // [lead, rest, exponent, signs] of fields 0 and 1, and of 2 and 3, to one 4-lane vector each.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i leads_rests =
      _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi32(low.parts, high.parts), order);
  const __m256i exponents_signs =
      _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi32(low.parts, high.parts), order);
  const __m128i rests = _mm256_extracti128_si256(leads_rests, 1);
  const __m128i exponents = _mm256_castsi256_si128(exponents_signs);
  const __m128i signs = _mm256_extracti128_si256(exponents_signs, 1);

  // The table index of 10^q, q = +-exponent - fraction digits. A field out of the shape may have
  // any digits and exponent: its index is held within the table (a negative one wraps to a
  // large unsigned one), and its value is dropped.
  const __m128i minus_exponent = _mm_srai_epi32(_mm_slli_epi32(signs, 8), 31);
  constexpr int kIndexOfPowerZero = -kLowestDecimalPower;
  const __m128i index = _mm_min_epu32(
      _mm_sub_epi32(
          _mm_xor_si128(exponents, minus_exponent),
          _mm_add_epi32(minus_exponent, _mm_set1_epi32(static_cast<int>(fraction_digits(Width)) -
                                                       kIndexOfPowerZero))),
      _mm_set1_epi32(kDecimalPowerCount - 1));
  const __m256d scale =
      _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kDecimalPowers, index,
                               _mm256_castsi256_pd(every_lane(~std::uint64_t{0})), sizeof(double));
  __m256d digits = _mm256_cvtepi32_pd(rests);
  if constexpr (Width == kNineDigitWidth) {  // the lead group is zero in 6-digit fields
    digits = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(leads_rests)),
                                         _mm256_set1_pd(kLeadScale)),
                           digits);  // exact: both terms and the sum below 2^30
  }
  const __m256d y = _mm256_mul_pd(digits, scale);
  const __m256i bits = _mm256_castpd_si256(y);

  // Clear of a boundary: D + 2^28 + 2, taken modulo 2^29, is at most 4 only for D within 2 of
  // 2^28.
  const __m256i clear = _mm256_cmpgt_epi64(
      _mm256_and_si256(_mm256_add_epi64(bits, every_lane(kBoundary + kErrorUnits)),
                       every_lane(kDroppedMask)),
      every_lane(2 * kErrorUnits));
  // A normal binary32 magnitude: bits from the lowest normal exponent's up to the first past the
  // highest, as one unsigned comparison made signed by moving both sides by 2^63.
  constexpr std::uint64_t kLowestNormal = std::uint64_t{kLowestNormalExponent}
                                          << kBinary64FractionBits;
  constexpr std::uint64_t kNormalSpan =
      std::uint64_t{kHighestNormalExponent + 1 - kLowestNormalExponent} << kBinary64FractionBits;
  const __m256i normal =
      _mm256_cmpgt_epi64(every_lane(kNormalSpan ^ kSignBit),
                         _mm256_add_epi64(bits, every_lane(kSignBit - kLowestNormal)));
  const __m256i whole_number =
      _mm256_cvtepi32_epi64(_mm_cmpgt_epi32(index, _mm_set1_epi32(kIndexOfPowerZero - 1)));
  const __m256i exact = _mm256_or_si256(
      _mm256_cmpeq_epi64(bits, _mm256_setzero_si256()),
      _mm256_and_si256(
          whole_number,
          _mm256_cmpgt_epi64(
              every_lane(std::uint64_t{kExactIntegerExponent} << kBinary64FractionBits), bits)));
  const __m256i taken = _mm256_or_si256(exact, _mm256_and_si256(normal, clear));

  const __m128i magnitudes = _mm_castps_si128(_mm256_cvtpd_ps(y));
  const __m128i sign_bits = _mm_and_si128(signs, _mm_set1_epi32(static_cast<int>(0x80000000u)));
  values = _mm_castsi128_ps(_mm_or_si128(magnitudes, sign_bits));
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(taken)));
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
  const WideLayout& wide_layout =
      Width == kSixDigitWidth ? kWideSixDigitLayout : kWideNineDigitLayout;
  FieldMask taken = 0;
  for (std::size_t i = 0; i < count; i += 4) {
    const FieldPair low = read_pair(pair_bytes<Width>(line, line_length, i, count), wide_layout);
    const FieldPair high =
        i + 2 < count ? read_pair(pair_bytes<Width>(line, line_length, i + 2, count), wide_layout)
                      : FieldPair{low.parts, ~std::uint32_t{0}};
    __m128 values;
    const unsigned present = count - i >= 4 ? 0xFu : (1u << (count - i)) - 1;
    const unsigned group = convert_four<Width>(low, high, values) &
                           (fitting_fields(low) | fitting_fields(high) << 2) & present;
    if (group == 0xF) {
      _mm_storeu_ps(out + i, values);
    } else {
      store_taken(out + i, values, group);
    }
    taken |= FieldMask{group} << i;
  }
  return taken;
}

}  // namespace

FieldMask convert_avx2(const char* line, std::size_t line_length, std::size_t count,
                       std::size_t width, float* out) noexcept {
  return width == kSixDigitWidth ? convert_line<kSixDigitWidth>(line, line_length, count, out)
                                 : convert_line<kNineDigitWidth>(line, line_length, count, out);
}

}  // namespace tarnex::simd
