// Byte tables of the field shape for the vector kernels: a field's first 16 bytes in one 16-byte
// register (or lane), and what each position must hold. Internal linkage, like exact_scale.hpp.
#pragma once

#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/simd/exact_scale.hpp"

namespace tarnex::simd {

struct FieldLayout {
  // The shape with a blank and '+' for the two signs and '0' where digits go: a field's bytes
  // XOR this form are the digit values at the digit places, and zero at the punctuation where
  // the bytes match it.
  std::uint8_t plus_form[16];
  // The largest value each byte of that XOR may take in the shape: 9 at a digit, 0 at the
  // punctuation, 0xFF past the field (bytes there are never looked at).
  std::uint8_t highest[16];
  // The shape with '-' for both signs: a byte equal to this form is in the shape too.
  std::uint8_t minus_form[16];
  // A byte shuffle of the digit values into four groups of four, read as numbers by the
  // multiply-add steps: the lead digit of 9-digit fields, the exponent, the other digits in two
  // groups (0x80 gives a zero digit).
  std::uint8_t digit_groups[16];
  // A byte shuffle that moves the '-' marks of the field's sign and of its exponent's sign to the
  // top two bytes, where the multiply-adds leave the fourth 32-bit part zero.
  std::uint8_t sign_marks[16];
  // A byte shuffle that moves the field down from the end of the 16 bytes that end with it.
  std::uint8_t from_end[16];
};

constexpr std::uint8_t Z = 0x80;
constexpr std::uint8_t kAnyByte = 0xFF;

constexpr FieldLayout kSixDigitLayout = {
    {' ', '0', '.', '0', '0', '0', '0', '0', 'E', '+', '0', '0', 0, 0, 0, 0},
    {0, 9, 0, 9, 9, 9, 9, 9, 0, 0, 9, 9, kAnyByte, kAnyByte, kAnyByte, kAnyByte},
    {'-', '0', '.', '0', '0', '0', '0', '0', 'E', '-', '0', '0', 0, 0, 0, 0},
    {Z, Z, Z, Z, Z, Z, 10, 11, Z, Z, 1, 3, 4, 5, 6, 7},
    {Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, kSixDigitWidth - 3, 0},
    {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, Z, Z, Z, Z}};

constexpr FieldLayout kNineDigitLayout = {
    {' ', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', 'E', '+', '0', '0', 0},
    {0, 9, 0, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 9, 9, kAnyByte},
    {'-', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', 'E', '-', '0', '0', 0},
    {Z, Z, Z, 1, Z, Z, 13, 14, 3, 4, 5, 6, 7, 8, 9, 10},
    {Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, kNineDigitWidth - 3, 0},
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, Z}};

constexpr const FieldLayout& layout_of(std::size_t width) noexcept {
  return width == kSixDigitWidth ? kSixDigitLayout : kNineDigitLayout;
}

// Multiply-add weights: digit pairs, pairs into fours, then (after packing to 16 bits) the lead
// group alone, the two groups of the other digits into one number, and the exponent alone.
constexpr std::uint8_t kPairWeights[16] = {10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1};
constexpr std::int16_t kFourWeights[8] = {100, 1, 100, 1, 100, 1, 100, 1};
constexpr std::int16_t kPartWeights[8] = {1, 0, 10000, 1, 0, 1, 0, 0};

// The lead group counts 10^8 (it is always 0 in 6-digit fields).
constexpr std::uint32_t kLeadScale = 100000000;

// A 16-byte table in each of the `Lanes` 16-byte lanes of a wide register, for the kernels that
// read a field per lane; they read their tables as memory operands.
template <std::size_t Lanes>
struct alignas(16 * Lanes) RepeatedTable {
  std::uint8_t bytes[16 * Lanes];
};

template <std::size_t Lanes>
constexpr RepeatedTable<Lanes> in_every_lane(const std::uint8_t (&table)[16]) noexcept {
  RepeatedTable<Lanes> wide{};
  for (std::size_t i = 0; i < 16 * Lanes; ++i) wide.bytes[i] = table[i % 16];
  return wide;
}

template <std::size_t Lanes>
constexpr RepeatedTable<Lanes> in_every_lane(const std::int16_t (&table)[8]) noexcept {
  RepeatedTable<Lanes> wide{};
  for (std::size_t i = 0; i < 16 * Lanes; ++i) {
    const auto word = static_cast<std::uint16_t>(table[i % 16 / 2]);
    wide.bytes[i] = static_cast<std::uint8_t>(i % 2 == 0 ? word : word >> 8);
  }
  return wide;
}

template <std::size_t Lanes>
struct RepeatedLayout {
  RepeatedTable<Lanes> plus_form, highest, minus_form, digit_groups, sign_marks;
};

template <std::size_t Lanes>
constexpr RepeatedLayout<Lanes> in_every_lane(const FieldLayout& layout) noexcept {
  return {in_every_lane<Lanes>(layout.plus_form), in_every_lane<Lanes>(layout.highest),
          in_every_lane<Lanes>(layout.minus_form), in_every_lane<Lanes>(layout.digit_groups),
          in_every_lane<Lanes>(layout.sign_marks)};
}

// The layout of `Width`-byte fields and the multiply-add weights, in every lane.
template <std::size_t Lanes, unsigned Width>
constexpr RepeatedLayout<Lanes> kRepeatedLayout = in_every_lane<Lanes>(layout_of(Width));
template <std::size_t Lanes>
constexpr RepeatedTable<Lanes> kRepeatedPairWeights = in_every_lane<Lanes>(kPairWeights);
template <std::size_t Lanes>
constexpr RepeatedTable<Lanes> kRepeatedFourWeights = in_every_lane<Lanes>(kFourWeights);
template <std::size_t Lanes>
constexpr RepeatedTable<Lanes> kRepeatedPartWeights = in_every_lane<Lanes>(kPartWeights);

// The field at `line + offset` in the first bytes of a register, at most 16 bytes read and none
// past the line: the 16 bytes from the field on, or where fewer remain (the last field of a
// line), the 16 that end with it moved down; only a line shorter than 16 bytes is copied.
[[gnu::always_inline]] static inline __m128i load_field_bytes(const char* line,
                                                              std::size_t line_length,
                                                              std::size_t offset,
                                                              const FieldLayout& layout,
                                                              std::size_t width) noexcept {
  if (line_length - offset >= 16) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + offset));
  }
  if (offset + width >= 16) {
    const __m128i ending =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + offset + width - 16));
    return _mm_shuffle_epi8(ending,
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(layout.from_end)));
  }
  alignas(16) char tail[16] = {};
  __builtin_memcpy(tail, line + offset, width);
  return _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
}

}  // namespace tarnex::simd
