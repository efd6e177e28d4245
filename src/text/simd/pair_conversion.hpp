// Two fields' parts to binary32 in 128-bit registers: the conversion of the SSE4.1 kernel, and of
// the AVX2 kernel for the last one or two fields of a line. Internal linkage, like
// exact_scale.hpp; the including kernel is compiled with SSE4.1 at least.
#pragma once

#include <smmintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/field_layout.hpp"

namespace tarnex::simd {

// The constants of the test of narrows_exactly in 32-bit lanes, on the high and low words of y.
// Clear of a boundary: D + 2^28 + 2, taken modulo 2^29, is more than 4 (it is at most 4 only for
// D within 2 of 2^28).
constexpr int kNearBoundaryShift = static_cast<int>(kBoundary + kErrorUnits);
constexpr int kDroppedWordMask = static_cast<int>(kDroppedMask);
constexpr int kNearBoundaryLimit = static_cast<int>(2 * kErrorUnits);
// A normal binary32 magnitude: the high word from the lowest normal exponent's up to the first
// past the highest, as one unsigned comparison made signed by moving both sides by 2^31.
constexpr std::uint32_t kSignWord = 0x80000000u;
constexpr std::uint32_t kLowestNormalWord = kLowestNormalExponent << (kBinary64FractionBits - 32);
constexpr int kNormalSpanShifted = static_cast<int>(
    ((kHighestNormalExponent + 1 - kLowestNormalExponent) << (kBinary64FractionBits - 32)) ^
    kSignWord);
constexpr int kNormalLowestShift = static_cast<int>(kSignWord - kLowestNormalWord);
// Exact whole numbers: y below 2^53.
constexpr int kExactLimitWord =
    static_cast<int>(kExactIntegerExponent << (kBinary64FractionBits - 32));

// The table index of 10^q, q = +-exponent - fraction digits, is exponent (sign applied) minus
// this offset. A field out of the shape may have any digits and exponent: its index is held
// within the table (a negative one wraps to a large unsigned one), and its value is dropped.
constexpr int kIndexOfPowerZero = -kLowestDecimalPower;

template <unsigned Width>
constexpr int kIndexOffset = static_cast<int>(fraction_digits(Width)) - kIndexOfPowerZero;

// `constants` through a pointer the compiler cannot see through: it then reads each constant
// from memory where it is used (as an operand, which costs no instruction), instead of building
// every one anew in registers for each line.
template <typename Constants>
[[gnu::always_inline]] static inline const Constants& opaque(const Constants& constants) noexcept {
  const Constants* hidden = &constants;
  __asm__("" : "+r"(hidden));
  return *hidden;
}

// A 32-bit value in every lane of a register of `Words` 32-bit lanes; the kernels read these as
// memory operands.
template <std::size_t Words>
struct alignas(4 * Words) EveryWord {
  std::int32_t words[Words];
};

template <std::size_t Words>
static constexpr EveryWord<Words> every_word(std::int64_t value) noexcept {
  EveryWord<Words> wide{};
  for (std::int32_t& word : wide.words) word = static_cast<std::int32_t>(value);
  return wide;
}

using FourWords = EveryWord<4>;

[[gnu::always_inline]] static inline __m128i loaded(const FourWords& constant) noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(constant.words));
}

// The constants of the conversion of fields in `Words` lanes at a time.
template <std::size_t Words>
struct LaneConstants {
  EveryWord<Words> index_offset, last_power_index, powers_from_zero, sign_bits;
  EveryWord<Words> near_boundary_shift, dropped_word_mask, near_boundary_limit;
  EveryWord<Words> normal_span, normal_lowest_shift, exact_limit;
};

template <std::size_t Words, unsigned Width>
constexpr LaneConstants<Words> kLaneConstants = {
    every_word<Words>(kIndexOffset<Width>),   every_word<Words>(kDecimalPowerCount - 1),
    every_word<Words>(kIndexOfPowerZero - 1), every_word<Words>(std::int64_t{kSignWord}),
    every_word<Words>(kNearBoundaryShift),    every_word<Words>(kDroppedWordMask),
    every_word<Words>(kNearBoundaryLimit),    every_word<Words>(kNormalSpanShifted),
    every_word<Words>(kNormalLowestShift),    every_word<Words>(kExactLimitWord)};

template <std::size_t Words, unsigned Width>
[[gnu::always_inline]] static inline const LaneConstants<Words>& lane_constants() noexcept {
  return opaque(kLaneConstants<Words, Width>);
}

// The constants of the conversion of two or four fields.
using PairConstants = LaneConstants<4>;

template <unsigned Width>
[[gnu::always_inline]] static inline const PairConstants& pair_constants() noexcept {
  return lane_constants<4, Width>();
}

// All ones in the lanes where the narrowed y is the correctly rounded x, from the high and low
// words of y (y >= 0 for every field in the shape; for any other the answer is dropped);
// `whole_number` is all ones where q >= 0. y is zero exactly when its high word is: the digits
// are zero, or y is at least 10^-107.
[[gnu::always_inline]] static inline __m128i proven_lanes(__m128i high_words, __m128i low_words,
                                                          __m128i whole_number,
                                                          const PairConstants& k) noexcept {
  const __m128i clear =
      _mm_cmpgt_epi32(_mm_and_si128(_mm_add_epi32(low_words, loaded(k.near_boundary_shift)),
                                    loaded(k.dropped_word_mask)),
                      loaded(k.near_boundary_limit));
  const __m128i normal = _mm_cmpgt_epi32(loaded(k.normal_span),
                                         _mm_add_epi32(high_words, loaded(k.normal_lowest_shift)));
  const __m128i exact =
      _mm_or_si128(_mm_cmpeq_epi32(high_words, _mm_setzero_si128()),
                   _mm_and_si128(whole_number, _mm_cmpgt_epi32(loaded(k.exact_limit), high_words)));
  return _mm_or_si128(exact, _mm_and_si128(normal, clear));
}

// Two binary64 y: all ones in the lanes of those in the subnormal range of binary32 (zero and
// anything negative excluded).
[[gnu::always_inline]] static inline __m128d subnormal_range(__m128d y) noexcept {
  return _mm_and_pd(_mm_cmplt_pd(y, _mm_set1_pd(0x1p-126)), _mm_cmpgt_pd(y, _mm_setzero_pd()));
}

// The binary32 bits k of the y in `subnormal` lanes (subnormal_bits of exact_scale.hpp, zero in
// the other lanes), and all ones in the lanes whose z lies clear of a half-integer; both in
// 32-bit lanes 0 and 1.
struct SubnormalPair {
  __m128i bits;
  __m128i clear;
};

[[gnu::always_inline]] static inline SubnormalPair subnormal_pair(__m128d y,
                                                                  __m128d subnormal) noexcept {
  const __m128d z = _mm_mul_pd(y, _mm_set1_pd(kSubnormalScale));
  const __m128d whole = _mm_floor_pd(z);
  const __m128d fraction = _mm_sub_pd(z, whole);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d from_half = _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_sub_pd(fraction, half));
  const __m128d clear =
      _mm_and_pd(_mm_cmpgt_pd(from_half, _mm_set1_pd(kSubnormalSlack)), subnormal);
  const __m128d rounded_up = _mm_and_pd(_mm_cmpgt_pd(fraction, half), _mm_set1_pd(1.0));
  // Zero outside the subnormal lanes, so that no lane converts a value out of int range.
  const __m128d k = _mm_and_pd(_mm_add_pd(whole, rounded_up), subnormal);
  return {_mm_cvtpd_epi32(k), _mm_shuffle_epi32(_mm_castpd_si128(clear), _MM_SHUFFLE(2, 0, 2, 0))};
}

// The table index of each lane's power of ten from its exponent digits and signs part.
[[gnu::always_inline]] static inline __m128i power_index(__m128i exponents, __m128i signs,
                                                         const PairConstants& k) noexcept {
  const __m128i minus_exponent = _mm_srai_epi32(_mm_slli_epi32(signs, 8), 31);
  return _mm_min_epu32(_mm_sub_epi32(_mm_xor_si128(exponents, minus_exponent),
                                     _mm_add_epi32(minus_exponent, loaded(k.index_offset))),
                       loaded(k.last_power_index));
}

// The binary32 magnitudes of two binary64 y in the low two 32-bit lanes, and `taken` widened by
// the subnormal ones proven correctly rounded.
[[gnu::always_inline]] static inline __m128i narrowed_pair(__m128d y, __m128i& taken) noexcept {
  __m128i magnitudes = _mm_castps_si128(_mm_cvtpd_ps(y));
  const __m128d subnormal = subnormal_range(y);
  if (_mm_movemask_pd(subnormal) != 0) {
    const SubnormalPair tiny = subnormal_pair(y, subnormal);
    taken = _mm_or_si128(taken, tiny.clear);
    magnitudes = _mm_blendv_epi8(magnitudes, tiny.bits, tiny.clear);
  }
  return magnitudes;
}

// Two fields (parts as read_field leaves them) converted into the low half of `values`: a bit per
// field whose value is proven correctly rounded.
template <unsigned Width>
[[gnu::always_inline]] static inline unsigned convert_two(__m128i first, __m128i second,
                                                          __m128& values) noexcept {
  const PairConstants& k = pair_constants<Width>();
  const __m128i leads_rests = _mm_unpacklo_epi32(first, second);      // l0 l1 r0 r1
  const __m128i exponents_signs = _mm_unpackhi_epi32(first, second);  // e0 e1 s0 s1
  const __m128i signs = _mm_srli_si128(exponents_signs, 8);
  const __m128i index = power_index(exponents_signs, signs, k);
  __m128d digits = _mm_cvtepi32_pd(_mm_srli_si128(leads_rests, 8));
  if constexpr (Width == kNineDigitWidth) {  // the lead group is zero in 6-digit fields
    digits = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(leads_rests), _mm_set1_pd(kLeadScale)),
                        digits);  // exact: both terms and the sum below 2^30
  }
  const __m128d scale = _mm_setr_pd(kDecimalPowers[_mm_cvtsi128_si32(index)],
                                    kDecimalPowers[_mm_extract_epi32(index, 1)]);
  const __m128d y = _mm_mul_pd(digits, scale);

  const __m128i words = _mm_shuffle_epi32(_mm_castpd_si128(y), _MM_SHUFFLE(3, 1, 2, 0));
  __m128i taken = proven_lanes(_mm_srli_si128(words, 8), words,
                               _mm_cmpgt_epi32(index, loaded(k.powers_from_zero)), k);

  const __m128i magnitudes = narrowed_pair(y, taken);
  const __m128i sign_bits = _mm_and_si128(signs, loaded(k.sign_bits));
  values = _mm_castsi128_ps(_mm_or_si128(magnitudes, sign_bits));
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(taken))) & 3u;
}

}  // namespace tarnex::simd
