// The AVX2 kernel: eight fields at a time. Each 32-byte register holds two fields, one in each
// 16-byte lane, checked and read with the steps of the SSE4.1 kernel (byte shuffles and
// multiply-adds work lane by lane); four such registers hold fields k and k + 4 for k = 0..3,
// so that a transpose of their 32-bit parts leaves each part of the eight fields in field order.
// The products, the boundary test of exact_scale.hpp and the narrowing then take four fields per
// register. The last one or two fields of a line go through the two-field conversion.
// Compiled with -mavx2 and nothing else of this project is.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"
#include "text/simd/pair_conversion.hpp"

namespace tarnex::simd {
namespace {

// The tables in both 16-byte lanes of a 32-byte register, the constants in all eight 32-bit
// lanes; the kernel reads both as memory operands.
using WideTable = RepeatedTable<2>;
using WideLayout = RepeatedLayout<2>;
using EightFieldConstants = LaneConstants<8>;

template <unsigned Width>
[[gnu::always_inline]] inline const EightFieldConstants& constants() noexcept {
  return lane_constants<8, Width>();
}

[[gnu::always_inline]] inline __m256i wide(const EveryWord<8>& constant) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(constant.words));
}

template <unsigned Width>
constexpr const WideLayout& wide_layout_of() noexcept {
  return kRepeatedLayout<2, Width>;
}

[[gnu::always_inline]] inline __m256i wide(const WideTable& table) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(table.bytes));
}

// Two fields read, one per lane: the 32-bit parts lead group, other digits, exponent digits,
// signs (top byte: the field's '-', the byte below: the exponent's), and a byte mask that is all
// ones in a lane whose field is in the shape.
struct FieldPair {
  __m256i parts;
  __m256i fits;
};

template <unsigned Width>
[[gnu::always_inline]] inline FieldPair read_pair(__m256i text) noexcept {
  const WideLayout& layout = wide_layout_of<Width>();
  const __m256i digits = _mm256_xor_si256(text, wide(layout.plus_form));
  const __m256i minus = _mm256_cmpeq_epi8(text, wide(layout.minus_form));
  const __m256i fits = _mm256_or_si256(
      _mm256_cmpeq_epi8(_mm256_min_epu8(digits, wide(layout.highest)), digits), minus);
  const __m256i pairs = _mm256_maddubs_epi16(_mm256_shuffle_epi8(digits, wide(layout.digit_groups)),
                                             wide(kRepeatedPairWeights<2>));
  const __m256i fours = _mm256_madd_epi16(pairs, wide(kRepeatedFourWeights<2>));
  const __m256i parts =
      _mm256_madd_epi16(_mm256_packus_epi32(fours, fours), wide(kRepeatedPartWeights<2>));
  const __m256i signs = _mm256_shuffle_epi8(minus, wide(layout.sign_marks));
  return {_mm256_or_si256(parts, signs), fits};
}

// A bit per lane of the pair whose field is in the shape: bit 0 the low lane's, bit 1 the high.
[[gnu::always_inline]] inline unsigned fitting_lanes(const FieldPair& pair) noexcept {
  const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(pair.fits));
  return ((mask & 0xFFFF) == 0xFFFF ? 1u : 0u) | ((mask >> 16) == 0xFFFF ? 2u : 0u);
}

// The bytes of field `index` in a 16-byte register (load_field_bytes); past `count`, those of
// field `stand_in`, which is within it (their value is never used).
template <unsigned Width>
[[gnu::always_inline]] inline __m128i field_bytes(const char* line, std::size_t line_length,
                                                  std::size_t index, std::size_t count,
                                                  std::size_t stand_in) noexcept {
  const std::size_t field = index < count ? index : stand_in;
  return load_field_bytes(line, line_length, field * Width, layout_of(Width), Width);
}

[[gnu::always_inline]] inline __m256i two_lanes(__m128i low, __m128i high) noexcept {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Fields first .. first + 7 read as four pairs, pair k holding fields first + k and
// first + 4 + k.
template <unsigned Width>
[[gnu::always_inline]] inline void read_eight(const char* line, std::size_t line_length,
                                              std::size_t first, std::size_t count,
                                              FieldPair (&pairs)[4]) noexcept {
  const char* const fields = line + first * Width;
  if (first + 8 <= count && (first + 7) * Width + 16 <= line_length) {
    for (std::size_t k = 0; k < 4; ++k) {
      pairs[k] = read_pair<Width>(
          _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(fields + (k + 4) * Width),
                              reinterpret_cast<const __m128i*>(fields + k * Width)));
    }
    return;
  }
  for (std::size_t k = 0; k < 4; ++k) {
    pairs[k] = read_pair<Width>(
        two_lanes(field_bytes<Width>(line, line_length, first + k, count, first),
                  field_bytes<Width>(line, line_length, first + k + 4, count, first)));
  }
}

// One 32-bit word of each of the binary64 lanes of fields 0 .. 3 (`low`) and 4 .. 7 (`high`), in
// field order: the low words with _MM_SHUFFLE(2, 0, 2, 0), the high ones with (3, 1, 3, 1).
template <int Words = _MM_SHUFFLE(2, 0, 2, 0)>
[[gnu::always_inline]] inline __m256 in_field_order(__m256d low, __m256d high) noexcept {
  const __m256 mixed = _mm256_shuffle_ps(_mm256_castpd_ps(low), _mm256_castpd_ps(high), Words);
  return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(mixed), _MM_SHUFFLE(3, 1, 2, 0)));
}

// subnormal_range and subnormal_pair of pair_conversion.hpp, four binary64 lanes at a time: k
// (zero outside the subnormal lanes) and the lanes clear of a half-integer.
[[gnu::always_inline]] inline __m256d subnormal_range(__m256d y) noexcept {
  return _mm256_and_pd(_mm256_cmp_pd(y, _mm256_set1_pd(0x1p-126), _CMP_LT_OQ),
                       _mm256_cmp_pd(y, _mm256_setzero_pd(), _CMP_GT_OQ));
}

struct SubnormalQuad {
  __m256d k;
  __m256d clear;
};

[[gnu::always_inline]] inline SubnormalQuad subnormal_quad(__m256d y, __m256d subnormal) noexcept {
  const __m256d z = _mm256_mul_pd(y, _mm256_set1_pd(kSubnormalScale));
  const __m256d whole = _mm256_floor_pd(z);
  const __m256d fraction = _mm256_sub_pd(z, whole);
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d from_half = _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(fraction, half));
  const __m256d clear = _mm256_and_pd(
      _mm256_cmp_pd(from_half, _mm256_set1_pd(kSubnormalSlack), _CMP_GT_OQ), subnormal);
  const __m256d rounded_up =
      _mm256_and_pd(_mm256_cmp_pd(fraction, half, _CMP_GT_OQ), _mm256_set1_pd(1.0));
  return {_mm256_and_pd(_mm256_add_pd(whole, rounded_up), subnormal), clear};
}

// proven_lanes of pair_conversion.hpp, eight lanes at a time.
[[gnu::always_inline]] inline __m256i proven_lanes_wide(__m256i high_words, __m256i low_words,
                                                        __m256i whole_number,
                                                        const EightFieldConstants& k) noexcept {
  const __m256i clear =
      _mm256_cmpgt_epi32(_mm256_and_si256(_mm256_add_epi32(low_words, wide(k.near_boundary_shift)),
                                          wide(k.dropped_word_mask)),
                         wide(k.near_boundary_limit));
  const __m256i normal = _mm256_cmpgt_epi32(
      wide(k.normal_span), _mm256_add_epi32(high_words, wide(k.normal_lowest_shift)));
  const __m256i exact = _mm256_or_si256(
      _mm256_cmpeq_epi32(high_words, _mm256_setzero_si256()),
      _mm256_and_si256(whole_number, _mm256_cmpgt_epi32(wide(k.exact_limit), high_words)));
  return _mm256_or_si256(exact, _mm256_and_si256(normal, clear));
}

// Eight fields converted into `values` in field order: a bit per field whose value is proven
// correctly rounded (whether it is in the shape is not looked at here).
template <unsigned Width>
[[gnu::always_inline]] inline unsigned convert_eight(const FieldPair (&pairs)[4],
                                                     __m256& values) noexcept {
  const EightFieldConstants& k = constants<Width>();
  // Lane by lane, a 4 x 4 transpose of the parts of fields k (low lanes) and k + 4 (high).
  const __m256i leads_rests_01 = _mm256_unpacklo_epi32(pairs[0].parts, pairs[1].parts);
  const __m256i leads_rests_23 = _mm256_unpacklo_epi32(pairs[2].parts, pairs[3].parts);
  const __m256i exponents_signs_01 = _mm256_unpackhi_epi32(pairs[0].parts, pairs[1].parts);
  const __m256i exponents_signs_23 = _mm256_unpackhi_epi32(pairs[2].parts, pairs[3].parts);
  const __m256i rests = _mm256_unpackhi_epi64(leads_rests_01, leads_rests_23);
  const __m256i exponents = _mm256_unpacklo_epi64(exponents_signs_01, exponents_signs_23);
  const __m256i signs = _mm256_unpackhi_epi64(exponents_signs_01, exponents_signs_23);

  const __m256i minus_exponent = _mm256_srai_epi32(_mm256_slli_epi32(signs, 8), 31);
  const __m256i index =
      _mm256_min_epu32(_mm256_sub_epi32(_mm256_xor_si256(exponents, minus_exponent),
                                        _mm256_add_epi32(minus_exponent, wide(k.index_offset))),
                       wide(k.last_power_index));
  const __m256i whole_number = _mm256_cmpgt_epi32(index, wide(k.powers_from_zero));

  // Four loads in one gather per half, from a table the index cannot leave.
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  const __m256d scale_low = _mm256_mask_i32gather_pd(
      _mm256_setzero_pd(), kDecimalPowers, _mm256_castsi256_si128(index), all, sizeof(double));
  const __m256d scale_high = _mm256_mask_i32gather_pd(
      _mm256_setzero_pd(), kDecimalPowers, _mm256_extracti128_si256(index, 1), all, sizeof(double));
  __m256d digits_low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(rests));
  __m256d digits_high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(rests, 1));
  if constexpr (Width == kNineDigitWidth) {  // the lead group is zero in 6-digit fields
    const __m256i leads = _mm256_unpacklo_epi64(leads_rests_01, leads_rests_23);
    const __m256d lead_scale = _mm256_set1_pd(kLeadScale);
    // Exact: both terms and the sum are below 2^30.
    digits_low = _mm256_add_pd(
        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(leads)), lead_scale), digits_low);
    digits_high = _mm256_add_pd(
        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(leads, 1)), lead_scale),
        digits_high);
  }
  const __m256d y_low = _mm256_mul_pd(digits_low, scale_low);
  const __m256d y_high = _mm256_mul_pd(digits_high, scale_high);

  // The low and the high words of the eight binary64 products, in field order.
  const __m256 low_words =
      _mm256_shuffle_ps(_mm256_castpd_ps(y_low), _mm256_castpd_ps(y_high), _MM_SHUFFLE(2, 0, 2, 0));
  const __m256 high_words =
      _mm256_shuffle_ps(_mm256_castpd_ps(y_low), _mm256_castpd_ps(y_high), _MM_SHUFFLE(3, 1, 3, 1));
  const __m256i in_order_low =
      _mm256_permute4x64_epi64(_mm256_castps_si256(low_words), _MM_SHUFFLE(3, 1, 2, 0));
  const __m256i in_order_high =
      _mm256_permute4x64_epi64(_mm256_castps_si256(high_words), _MM_SHUFFLE(3, 1, 2, 0));
  __m256i taken = proven_lanes_wide(in_order_high, in_order_low, whole_number, k);

  __m256 magnitudes = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(y_low)),
                                           _mm256_cvtpd_ps(y_high), 1);
  const __m256d subnormal_low = subnormal_range(y_low);
  const __m256d subnormal_high = subnormal_range(y_high);
  if ((_mm256_movemask_pd(subnormal_low) | _mm256_movemask_pd(subnormal_high)) != 0) {
    const SubnormalQuad low = subnormal_quad(y_low, subnormal_low);
    const __m128i low_bits = _mm256_cvtpd_epi32(low.k);
    const SubnormalQuad high = subnormal_quad(y_high, subnormal_high);
    const __m256i bits = two_lanes(low_bits, _mm256_cvtpd_epi32(high.k));
    const __m256 clear = in_field_order(low.clear, high.clear);
    taken = _mm256_or_si256(taken, _mm256_castps_si256(clear));
    magnitudes = _mm256_blendv_ps(magnitudes, _mm256_castsi256_ps(bits), clear);
  }
  const __m256i sign_bits = _mm256_and_si256(signs, wide(k.sign_bits));
  values = _mm256_or_ps(magnitudes, _mm256_castsi256_ps(sign_bits));
  return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(taken)));
}

// The values of a group whose fields are not all taken: only the taken ones are written.
template <typename Vector>
inline void store_taken(float* out, Vector values, unsigned taken) noexcept {
  alignas(32) float group[sizeof(Vector) / sizeof(float)];
  __builtin_memcpy(group, &values, sizeof values);
  for (unsigned k = 0; k < sizeof(Vector) / sizeof(float); ++k) {
    if ((taken >> k & 1u) != 0) out[k] = group[k];
  }
}

// The fields first .. first + 7 that are within `count`: their mask.
template <unsigned Width>
[[gnu::always_inline]] inline FieldMask convert_group_of_eight(const char* line,
                                                               std::size_t line_length,
                                                               std::size_t first, std::size_t count,
                                                               float* out) noexcept {
  FieldPair pairs[4];
  read_eight<Width>(line, line_length, first, count, pairs);
  __m256 values;
  const unsigned proven = convert_eight<Width>(pairs, values);
  const __m256i all_fit = _mm256_and_si256(_mm256_and_si256(pairs[0].fits, pairs[1].fits),
                                           _mm256_and_si256(pairs[2].fits, pairs[3].fits));
  unsigned fitting = 0xFF;
  if (_mm256_movemask_epi8(all_fit) != -1) {
    fitting = 0;
    for (unsigned k = 0; k < 4; ++k) {
      const unsigned lanes = fitting_lanes(pairs[k]);
      fitting |= (lanes & 1u) << k | (lanes >> 1) << (k + 4);
    }
  }
  const unsigned present = count - first >= 8 ? 0xFFu : (1u << (count - first)) - 1;
  const unsigned taken = proven & fitting & present;
  if (taken == 0xFF) {
    _mm256_storeu_ps(out + first, values);
  } else {
    store_taken(out + first, values, taken);
  }
  return FieldMask{taken} << first;
}

// Fields first and (when within `count`) first + 1: their mask.
template <unsigned Width>
[[gnu::always_inline]] inline FieldMask convert_group_of_two(const char* line,
                                                             std::size_t line_length,
                                                             std::size_t first, std::size_t count,
                                                             float* out) noexcept {
  const FieldPair pair =
      read_pair<Width>(two_lanes(field_bytes<Width>(line, line_length, first, count, first),
                                 field_bytes<Width>(line, line_length, first + 1, count, first)));
  __m128 values;
  const unsigned proven = convert_two<Width>(_mm256_castsi256_si128(pair.parts),
                                             _mm256_extracti128_si256(pair.parts, 1), values);
  const unsigned present = count - first >= 2 ? 3u : 1u;
  const unsigned taken = proven & fitting_lanes(pair) & present;
  if (taken == 3) {
    _mm_storel_pi(reinterpret_cast<__m64*>(out + first), values);
  } else {
    store_taken(out + first, values, taken);
  }
  return FieldMask{taken} << first;
}

// A line of more than ten fields: groups of eight, then the last one or two.
template <unsigned Width>
[[gnu::noinline]] FieldMask convert_long_line(const char* line, std::size_t line_length,
                                              std::size_t count, float* out) noexcept {
  FieldMask taken = 0;
  std::size_t first = 0;
  for (; first < count && count - first > 2; first += 8) {
    taken |= convert_group_of_eight<Width>(line, line_length, first, count, out);
  }
  if (first < count) taken |= convert_group_of_two<Width>(line, line_length, first, count, out);
  return taken;
}

// The most fields a value line holds.
constexpr std::size_t kValueLineFields = 10;

// A value line: one group of eight (of three to eight fields), then the last one or two.
// Without a loop, no constant is kept in a register or on the stack across groups.
template <unsigned Width>
FieldMask convert_line(const char* line, std::size_t line_length, std::size_t count,
                       float* out) noexcept {
  if (count > kValueLineFields) return convert_long_line<Width>(line, line_length, count, out);
  FieldMask taken = 0;
  std::size_t first = 0;
  if (count > 2) {
    taken = convert_group_of_eight<Width>(line, line_length, 0, count, out);
    first = 8;
  }
  if (first < count) taken |= convert_group_of_two<Width>(line, line_length, first, count, out);
  return taken;
}

// The fields at base + offsets[0 .. count), count at least kBlockMinimumFields, in groups of
// eight over their flat index; the last group overlaps the one before, so no field is left for
// a narrower step. Every group's eight values are stored; the fields not taken are listed in
// `refused`, each once, for the caller to settle.
template <unsigned Width>
std::size_t convert_block(const char* base, const std::uint32_t* offsets, std::size_t count,
                          float* out, RefusedGroup* refused) noexcept {
  std::size_t groups = 0;
  std::size_t first = 0;
  std::size_t done = 0;  // the fields before it lie in earlier groups
  for (;;) {
    if (first + 8 > count) first = count - 8;
    const std::uint32_t* const at = offsets + first;
    FieldPair pairs[4];
    for (std::size_t k = 0; k < 4; ++k) {
      pairs[k] =
          read_pair<Width>(_mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(base + at[k + 4]),
                                               reinterpret_cast<const __m128i*>(base + at[k])));
    }
    __m256 values;
    unsigned taken = convert_eight<Width>(pairs, values);
    const __m256i all_fit = _mm256_and_si256(_mm256_and_si256(pairs[0].fits, pairs[1].fits),
                                             _mm256_and_si256(pairs[2].fits, pairs[3].fits));
    if (_mm256_movemask_epi8(all_fit) != -1) [[unlikely]] {
      unsigned fitting = 0;
      for (unsigned k = 0; k < 4; ++k) {
        const unsigned lanes = fitting_lanes(pairs[k]);
        fitting |= (lanes & 1u) << k | (lanes >> 1) << (k + 4);
      }
      taken &= fitting;
    }
    _mm256_storeu_ps(out + first, values);
    const unsigned left = ~taken & (0xFFu << (done - first)) & 0xFFu;
    refused[groups] = {static_cast<std::uint32_t>(first), left};
    groups += left != 0 ? 1 : 0;
    done = first + 8;
    if (done >= count) return groups;
    first = done;
  }
}

}  // namespace

std::size_t convert_block_avx2(const char* base, const std::uint32_t* offsets, std::size_t count,
                               std::size_t width, float* out, RefusedGroup* refused) noexcept {
  return width == kSixDigitWidth
             ? convert_block<kSixDigitWidth>(base, offsets, count, out, refused)
             : convert_block<kNineDigitWidth>(base, offsets, count, out, refused);
}

FieldMask convert_avx2(const char* line, std::size_t line_length, std::size_t count,
                       std::size_t width, float* out) noexcept {
  return width == kSixDigitWidth ? convert_line<kSixDigitWidth>(line, line_length, count, out)
                                 : convert_line<kNineDigitWidth>(line, line_length, count, out);
}

}  // namespace tarnex::simd
