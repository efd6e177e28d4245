// The AVX-512 block kernel: sixteen fields at a time. Each 64-byte register holds four fields,
// one in each 16-byte lane, checked and read with the steps of the SSE4.1 kernel (byte shuffles
// and multiply-adds work lane by lane); four such registers hold fields k, k + 4, k + 8 and
// k + 12 for k = 0..3, so that a transpose of their 32-bit parts leaves each part of the sixteen
// fields in field order. The products and the narrowing take eight fields per register, the
// boundary test of exact_scale.hpp sixteen. A group shorter than sixteen fields (a short block,
// or the end of one) keeps its missing lanes out with a lane mask.
// Value lines are ten fields at most, too few to fill sixteen lanes: they take the AVX2 kernel.
// Compiled with -mavx512f -mavx512bw -mavx512dq -mavx512vl and nothing else of this project is.

// GCC 12's AVX-512 header starts some results from an undefined register, which its own
// uninitialised-use warning mistakes for a fault where they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"
#include "text/simd/kernels.hpp"
#include "text/simd/pair_conversion.hpp"

namespace tarnex::simd {
namespace {

constexpr std::size_t kGroupFields = 16;

// The tables in all four 16-byte lanes of a 64-byte register, the constants in all sixteen
// 32-bit lanes.
using LaneTable = RepeatedTable<4>;
using LaneLayout = RepeatedLayout<4>;
using SixteenFieldConstants = LaneConstants<16>;

template <unsigned Width>
[[gnu::always_inline]] inline const SixteenFieldConstants& constants() noexcept {
  return lane_constants<16, Width>();
}

[[gnu::always_inline]] inline __m512i wide(const EveryWord<16>& constant) noexcept {
  return _mm512_load_si512(constant.words);
}

template <unsigned Width>
constexpr const LaneLayout& lane_layout_of() noexcept {
  return kRepeatedLayout<4, Width>;
}

[[gnu::always_inline]] inline __m512i wide(const LaneTable& table) noexcept {
  return _mm512_load_si512(table.bytes);
}

// Word i of the result is word `pick` + 2 i of the low and the high register together: the low
// (`pick` 0) or the high (`pick` 1) words of sixteen binary64 lanes.
constexpr EveryWord<16> every_other_word(int pick) noexcept {
  EveryWord<16> order{};
  for (int i = 0; i < 16; ++i) order.words[i] = pick + 2 * i;
  return order;
}

constexpr EveryWord<16> kLowWords = every_other_word(0);
constexpr EveryWord<16> kHighWords = every_other_word(1);

// Four fields read, one per lane: the 32-bit parts lead group, other digits, exponent digits,
// signs (top byte: the field's '-', the byte below: the exponent's), and a bit per byte that is
// set where the byte is in the shape.
struct FieldQuad {
  __m512i parts;
  __mmask64 fits;
};

template <unsigned Width>
[[gnu::always_inline]] inline FieldQuad read_quad(__m512i text) noexcept {
  const LaneLayout& layout = lane_layout_of<Width>();
  const __m512i digits = _mm512_xor_si512(text, wide(layout.plus_form));
  const __mmask64 minus = _mm512_cmpeq_epi8_mask(text, wide(layout.minus_form));
  const __mmask64 fits = _mm512_cmple_epu8_mask(digits, wide(layout.highest)) | minus;
  const __m512i pairs = _mm512_maddubs_epi16(_mm512_shuffle_epi8(digits, wide(layout.digit_groups)),
                                             wide(kRepeatedPairWeights<4>));
  const __m512i fours = _mm512_madd_epi16(pairs, wide(kRepeatedFourWeights<4>));
  const __m512i parts =
      _mm512_madd_epi16(_mm512_packus_epi32(fours, fours), wide(kRepeatedPartWeights<4>));
  const __m512i signs = _mm512_shuffle_epi8(_mm512_movm_epi8(minus), wide(layout.sign_marks));
  return {_mm512_or_si512(parts, signs), fits};
}

// The fields at base + at[k], k = 0..15, read as four quads, quad k holding fields k, k + 4,
// k + 8 and k + 12.
template <unsigned Width>
[[gnu::always_inline]] inline void read_sixteen(const char* base, const std::uint32_t* at,
                                                FieldQuad (&quads)[4]) noexcept {
  for (std::size_t k = 0; k < 4; ++k) {
    const auto field = [&](std::size_t lane) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at[k + 4 * lane]));
    };
    const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(field(0)), field(1), 1);
    const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(field(2)), field(3), 1);
    quads[k] = read_quad<Width>(_mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1));
  }
}

// A bit per field of the sixteen whose bytes are all in the shape.
[[gnu::always_inline]] inline unsigned fitting_fields(const FieldQuad (&quads)[4]) noexcept {
  if ((quads[0].fits & quads[1].fits & quads[2].fits & quads[3].fits) == ~__mmask64{0}) {
    return 0xFFFF;
  }
  unsigned fitting = 0;
  for (unsigned k = 0; k < 4; ++k) {
    for (unsigned lane = 0; lane < 4; ++lane) {
      const bool fits = (quads[k].fits >> (16 * lane) & 0xFFFF) == 0xFFFF;
      fitting |= (fits ? 1u : 0u) << (k + 4 * lane);
    }
  }
  return fitting;
}

// proven_lanes of pair_conversion.hpp, sixteen lanes at a time.
[[gnu::always_inline]] inline __mmask16 proven_sixteen(__m512i high_words, __m512i low_words,
                                                       __mmask16 whole_number,
                                                       const SixteenFieldConstants& k) noexcept {
  const __mmask16 clear = _mm512_cmpgt_epi32_mask(
      _mm512_and_si512(_mm512_add_epi32(low_words, wide(k.near_boundary_shift)),
                       wide(k.dropped_word_mask)),
      wide(k.near_boundary_limit));
  const __mmask16 normal = _mm512_cmpgt_epi32_mask(
      wide(k.normal_span), _mm512_add_epi32(high_words, wide(k.normal_lowest_shift)));
  const __mmask16 exact =
      _mm512_cmpeq_epi32_mask(high_words, _mm512_setzero_si512()) |
      _mm512_mask_cmpgt_epi32_mask(whole_number, wide(k.exact_limit), high_words);
  return exact | (normal & clear);
}

// subnormal_pair of pair_conversion.hpp, eight binary64 lanes at a time: the bits k in the
// `clear` lanes, those of the subnormal ones whose z lies clear of a half-integer.
struct SubnormalEight {
  __m256i bits;
  __mmask8 clear;
};

[[gnu::always_inline]] inline SubnormalEight subnormal_eight(__m512d y,
                                                             __mmask8 subnormal) noexcept {
  const __m512d z = _mm512_maskz_mul_pd(subnormal, y, _mm512_set1_pd(kSubnormalScale));
  const __m512d whole = _mm512_roundscale_pd(z, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  const __m512d fraction = _mm512_sub_pd(z, whole);
  const __m512d half = _mm512_set1_pd(0.5);
  const __m512d from_half = _mm512_abs_pd(_mm512_sub_pd(fraction, half));
  const __mmask8 clear =
      _mm512_mask_cmp_pd_mask(subnormal, from_half, _mm512_set1_pd(kSubnormalSlack), _CMP_GT_OQ);
  const __mmask8 rounded_up = _mm512_cmp_pd_mask(fraction, half, _CMP_GT_OQ);
  const __m512d k = _mm512_mask_add_pd(whole, rounded_up, whole, _mm512_set1_pd(1.0));
  // Converted in the clear lanes alone, so that no lane converts a value out of int range.
  return {_mm512_maskz_cvtpd_epi32(clear, k), clear};
}

// The subnormal range of binary32 (zero and anything negative excluded), eight lanes at a time.
[[gnu::always_inline]] inline __mmask8 subnormal_range(__m512d y) noexcept {
  return _mm512_cmp_pd_mask(y, _mm512_set1_pd(0x1p-126), _CMP_LT_OQ) &
         _mm512_cmp_pd_mask(y, _mm512_setzero_pd(), _CMP_GT_OQ);
}

// The binary32 magnitudes of sixteen binary64 y (eight in `low`, eight in `high`), and `taken`
// widened by the subnormal ones proven correctly rounded.
[[gnu::always_inline]] inline __m512 narrowed_sixteen(__m512d low, __m512d high,
                                                      __mmask16& taken) noexcept {
  const __m512 magnitudes =
      _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(low)), _mm512_cvtpd_ps(high), 1);
  const __mmask8 subnormal_low = subnormal_range(low);
  const __mmask8 subnormal_high = subnormal_range(high);
  if ((subnormal_low | subnormal_high) == 0) [[likely]] {
    return magnitudes;
  }
  const SubnormalEight tiny_low = subnormal_eight(low, subnormal_low);
  const SubnormalEight tiny_high = subnormal_eight(high, subnormal_high);
  const __m512i bits = _mm512_inserti64x4(_mm512_castsi256_si512(tiny_low.bits), tiny_high.bits, 1);
  const auto clear = static_cast<__mmask16>(tiny_low.clear | tiny_high.clear << 8);
  taken |= clear;
  return _mm512_mask_mov_ps(magnitudes, clear, _mm512_castsi512_ps(bits));
}

// Sixteen fields converted into `values` in field order: a bit per field whose value is proven
// correctly rounded (whether it is in the shape is not looked at here).
template <unsigned Width>
[[gnu::always_inline]] inline unsigned convert_sixteen(const FieldQuad (&quads)[4],
                                                       __m512& values) noexcept {
  const SixteenFieldConstants& k = constants<Width>();
  // Lane by lane, a 4 x 4 transpose of the parts of fields k, k + 4, k + 8 and k + 12.
  const __m512i leads_rests_01 = _mm512_unpacklo_epi32(quads[0].parts, quads[1].parts);
  const __m512i leads_rests_23 = _mm512_unpacklo_epi32(quads[2].parts, quads[3].parts);
  const __m512i exponents_signs_01 = _mm512_unpackhi_epi32(quads[0].parts, quads[1].parts);
  const __m512i exponents_signs_23 = _mm512_unpackhi_epi32(quads[2].parts, quads[3].parts);
  const __m512i rests = _mm512_unpackhi_epi64(leads_rests_01, leads_rests_23);
  const __m512i exponents = _mm512_unpacklo_epi64(exponents_signs_01, exponents_signs_23);
  const __m512i signs = _mm512_unpackhi_epi64(exponents_signs_01, exponents_signs_23);

  const __m512i minus_exponent = _mm512_srai_epi32(_mm512_slli_epi32(signs, 8), 31);
  const __m512i index =
      _mm512_min_epu32(_mm512_sub_epi32(_mm512_xor_si512(exponents, minus_exponent),
                                        _mm512_add_epi32(minus_exponent, wide(k.index_offset))),
                       wide(k.last_power_index));
  const __mmask16 whole_number = _mm512_cmpgt_epi32_mask(index, wide(k.powers_from_zero));

  // Eight loads in one gather per half, from a table the index cannot leave.
  const __m512d scale_low =
      _mm512_i32gather_pd(_mm512_castsi512_si256(index), kDecimalPowers, sizeof(double));
  const __m512d scale_high =
      _mm512_i32gather_pd(_mm512_extracti64x4_epi64(index, 1), kDecimalPowers, sizeof(double));
  __m512d digits_low = _mm512_cvtepi32_pd(_mm512_castsi512_si256(rests));
  __m512d digits_high = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(rests, 1));
  if constexpr (Width == kNineDigitWidth) {  // the lead group is zero in 6-digit fields
    const __m512i leads = _mm512_unpacklo_epi64(leads_rests_01, leads_rests_23);
    const __m512d lead_scale = _mm512_set1_pd(kLeadScale);
    // Exact: both terms and the sum are below 2^30.
    digits_low = _mm512_add_pd(
        _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(leads)), lead_scale), digits_low);
    digits_high = _mm512_add_pd(
        _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(leads, 1)), lead_scale),
        digits_high);
  }
  const __m512d y_low = _mm512_mul_pd(digits_low, scale_low);
  const __m512d y_high = _mm512_mul_pd(digits_high, scale_high);

  // The low and the high words of the sixteen binary64 products, in field order.
  const __m512i low_words = _mm512_permutex2var_epi32(_mm512_castpd_si512(y_low), wide(kLowWords),
                                                      _mm512_castpd_si512(y_high));
  const __m512i high_words = _mm512_permutex2var_epi32(_mm512_castpd_si512(y_low), wide(kHighWords),
                                                       _mm512_castpd_si512(y_high));
  __mmask16 taken = proven_sixteen(high_words, low_words, whole_number, k);

  const __m512 magnitudes = narrowed_sixteen(y_low, y_high, taken);
  const __m512i sign_bits = _mm512_and_si512(signs, wide(k.sign_bits));
  values = _mm512_or_ps(magnitudes, _mm512_castsi512_ps(sign_bits));
  return taken;
}

// The fields at base + at[0 .. 16) whose bit is set in `present`: their values stored in
// out[0 .. 16) (the others left as they were) and the mask of those not taken.
template <unsigned Width>
[[gnu::always_inline]] inline unsigned convert_group(const char* base, const std::uint32_t* at,
                                                     __mmask16 present, float* out) noexcept {
  FieldQuad quads[4];
  read_sixteen<Width>(base, at, quads);
  __m512 values;
  const unsigned taken = convert_sixteen<Width>(quads, values) & fitting_fields(quads);
  _mm512_mask_storeu_ps(out, present, values);
  return ~taken & present;
}

// The fields at base + offsets[0 .. count), count at least kBlockMinimumFields, in groups of
// sixteen over their flat index; the last may be shorter, its missing lanes masked off. The
// fields not taken are listed in `refused`, each once, for the caller to settle.
template <unsigned Width>
std::size_t convert_block(const char* base, const std::uint32_t* offsets, std::size_t count,
                          float* out, RefusedGroup* refused) noexcept {
  std::size_t groups = 0;
  std::size_t first = 0;
  for (; first + kGroupFields <= count; first += kGroupFields) {
    const unsigned left = convert_group<Width>(base, offsets + first, 0xFFFF, out + first);
    refused[groups] = {static_cast<std::uint32_t>(first), left};
    groups += left != 0 ? 1 : 0;
  }
  if (first == count) return groups;
  // The fields past the end stand in for by the group's first one; their lanes are masked off.
  std::uint32_t at[kGroupFields];
  for (std::size_t i = 0; i < kGroupFields; ++i) {
    at[i] = first + i < count ? offsets[first + i] : offsets[first];
  }
  const auto present = static_cast<__mmask16>((1u << (count - first)) - 1);
  const unsigned left = convert_group<Width>(base, at, present, out + first);
  refused[groups] = {static_cast<std::uint32_t>(first), left};
  return groups + (left != 0 ? 1 : 0);
}

}  // namespace

std::size_t convert_block_avx512(const char* base, const std::uint32_t* offsets, std::size_t count,
                                 std::size_t width, float* out, RefusedGroup* refused) noexcept {
  return width == kSixDigitWidth
             ? convert_block<kSixDigitWidth>(base, offsets, count, out, refused)
             : convert_block<kNineDigitWidth>(base, offsets, count, out, refused);
}

}  // namespace tarnex::simd
