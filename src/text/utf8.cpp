#include "text/utf8.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnex {

namespace {

constexpr unsigned char kAsciiLimit = 0x80;
constexpr std::uint64_t kHighBitOfEveryByte = 0x8080808080808080ULL;

// The length of the run of ASCII bytes at the start of [bytes, bytes + size). Plot files are
// almost entirely ASCII, so whole blocks are tested at once and single bytes only at the tail.
std::size_t ascii_run_length(const unsigned char* bytes, std::size_t size) noexcept {
  std::size_t offset = 0;
#if defined(__SSE2__)
  // Four blocks per step while nothing is found keeps long ASCII lines at memory speed.
  for (; offset + 64 <= size; offset += 64) {
    const auto* block = reinterpret_cast<const __m128i*>(bytes + offset);
    const __m128i any_high = _mm_or_si128(
        _mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
        _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
    if (_mm_movemask_epi8(any_high) != 0) break;  // the single blocks below find the byte
  }
  for (; offset + 16 <= size; offset += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + offset));
    const int high_bits = _mm_movemask_epi8(block);
    if (high_bits != 0) return offset + static_cast<std::size_t>(__builtin_ctz(high_bits));
  }
#endif
  for (; offset + 8 <= size; offset += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + offset, sizeof word);
    if ((word & kHighBitOfEveryByte) != 0) break;  // the byte loop below finds which one
  }
  while (offset < size && bytes[offset] < kAsciiLimit) ++offset;
  return offset;
}

constexpr bool in_range(unsigned char byte, unsigned char low, unsigned char high) noexcept {
  return byte >= low && byte <= high;
}

// The length of the well-formed multi-byte sequence at the start of [bytes, bytes + size),
// whose first byte is 0x80 or above, or 0 when it is ill-formed. The allowed second bytes
// follow the Unicode Standard's table of well-formed byte sequences: they exclude overlong
// forms (after C0, C1, E0, F0), surrogates (after ED) and code points above U+10FFFF (after F4).
std::size_t multibyte_sequence_length(const unsigned char* bytes, std::size_t size) noexcept {
  const unsigned char lead = bytes[0];
  std::size_t length;
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  if (in_range(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (in_range(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (in_range(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;  // a continuation byte without a lead, C0, C1 or F5 to FF
  }
  if (size < length) return 0;
  if (!in_range(bytes[1], second_low, second_high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation_byte(bytes[i])) return 0;
  }
  return length;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t offset = 0;
  while (true) {
    offset += ascii_run_length(bytes + offset, size - offset);
    if (offset == size) return true;
    const std::size_t length = multibyte_sequence_length(bytes + offset, size - offset);
    if (length == 0) return false;
    offset += length;
  }
}

DecodedChar decode_char(std::string_view text, std::size_t offset) noexcept {
  constexpr DecodedChar kReplacement{U'\uFFFD', 1};
  if (offset >= text.size()) return kReplacement;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + offset;
  const unsigned char lead = bytes[0];
  if (lead < kAsciiLimit) return {lead, 1};
  // Outside well-formed text nothing here reads past the end or returns a length of 0.
  const std::size_t length = multibyte_sequence_length(bytes, text.size() - offset);
  if (length == 0) return kReplacement;
  const unsigned char lead_payload_mask = length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07;
  char32_t code_point = lead & lead_payload_mask;
  for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (bytes[i] & 0x3F);
  return {code_point, length};
}

}  // namespace tarnex
