// The portable kernel: each field checked and its digits combined eight bytes at a time in a
// 64-bit register, for processors without (or before the choice of) vector instructions.
#include <cstddef>
#include <cstdint>

#include "text/simd/exact_scale.hpp"
#include "text/simd/kernels.hpp"

namespace tarnex::simd {
namespace {

constexpr std::uint64_t every_byte(std::uint8_t byte) noexcept {
  return 0x0101010101010101ULL * byte;
}

std::uint64_t load_word(const char* p) noexcept {
  std::uint64_t word;
  __builtin_memcpy(&word, p, sizeof word);
  return word;  // little-endian on every target this project builds for: first byte lowest
}

// The top bit of each byte of `values` (bytes minus '0') that is not a digit 0 to 9; the masked
// sum cannot carry into the next byte.
std::uint64_t non_digits(std::uint64_t values) noexcept {
  return (((values & every_byte(0x7F)) + every_byte(0x76)) | values) & every_byte(0x80);
}

// The number written by eight digits given as byte values 0 to 9, the first in the lowest
// byte: neighbouring digits combine into pairs, pairs into fours, fours into eight.
std::uint32_t eight_digits_value(std::uint64_t digits) noexcept {
  constexpr std::uint64_t kPairMask = 0x000000FF000000FF;
  constexpr std::uint64_t kFirstPairs = 100 + (std::uint64_t{1000000} << 32);
  constexpr std::uint64_t kSecondPairs = 1 + (std::uint64_t{10000} << 32);
  digits = digits * 10 + (digits >> 8);
  return static_cast<std::uint32_t>(
      ((digits & kPairMask) * kFirstPairs + ((digits >> 16) & kPairMask) * kSecondPairs) >> 32);
}

constexpr std::uint32_t kTenToTheFifth = 100000;
constexpr std::uint32_t kTenToTheEighth = 100000000;

// One field in the shape, converted into `out`; false when it is not in the shape or not
// provably correctly rounded.
bool convert_field(const char* field, unsigned width, float& out) noexcept {
  const unsigned fraction = fraction_digits(width);
  const auto sign = static_cast<unsigned char>(field[0]);
  const unsigned lead = static_cast<unsigned char>(field[1]) - unsigned{'0'};
  // The fraction moved to the top bytes: zero digits come in behind it.
  const std::uint64_t fraction_values = (load_word(field + 3) ^ every_byte('0'))
                                        << (64 - 8 * fraction);
  // 'E', the exponent's sign and its two digits.
  std::uint32_t tail;
  __builtin_memcpy(&tail, field + width - 4, sizeof tail);
  const unsigned tens = ((tail >> 16) & 0xFF) - unsigned{'0'};
  const unsigned ones = (tail >> 24) - unsigned{'0'};
  const unsigned exponent_sign = (tail >> 8) & 0xFF;
  const bool shape = (sign == ' ' || sign == '-') && lead < 10 && field[2] == '.' &&
                     non_digits(fraction_values) == 0 && (tail & 0xFF) == 'E' &&
                     (exponent_sign == '+' || exponent_sign == '-') && tens < 10 && ones < 10;
  if (!shape) return false;
  const std::uint32_t digits = lead * (fraction == 5 ? kTenToTheFifth : kTenToTheEighth) +
                               eight_digits_value(fraction_values);
  return scale_exactly(digits, field_power(tens * 10 + ones, exponent_sign == '-', width),
                       sign == '-', out);
}

}  // namespace

FieldMask convert_portable(const char* line, std::size_t, std::size_t count, std::size_t width,
                           float* out) noexcept {
  const auto field_width = static_cast<unsigned>(width);
  FieldMask taken = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (convert_field(line + i * width, field_width, out[i])) taken |= FieldMask{1} << i;
  }
  return taken;
}

std::size_t convert_block_portable(const char* base, const std::uint32_t* offsets,
                                   std::size_t count, std::size_t width, float* out,
                                   RefusedGroup* refused) noexcept {
  const auto field_width = static_cast<unsigned>(width);
  std::size_t groups = 0;
  for (std::size_t first = 0; first < count; first += 8) {
    const std::size_t fields = count - first < 8 ? count - first : 8;
    unsigned left = 0;
    for (std::size_t k = 0; k < fields; ++k) {
      const std::size_t i = first + k;
      if (!convert_field(base + offsets[i], field_width, out[i])) left |= 1u << k;
    }
    refused[groups] = {static_cast<std::uint32_t>(first), left};
    groups += left != 0 ? 1 : 0;
  }
  return groups;
}

}  // namespace tarnex::simd
