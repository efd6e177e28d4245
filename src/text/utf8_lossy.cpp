#include "text/utf8_lossy.hpp"

#include "text/utf8.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed character at the start of `bytes`, or of the maximal prefix of one
// that could still have been well-formed (at least 1) when it is not, with `valid` telling which.
std::size_t scan_char(std::string_view bytes, bool& valid) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  valid = true;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    valid = false;
    return 1;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const bool in_range = i < bytes.size() && (i == 1 ? (byte(i) >= low && byte(i) <= high)
                                                      : is_continuation_byte(byte(i)));
    if (!in_range) {
      valid = false;
      return i;
    }
  }
  return length;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + 8);
  while (!bytes.empty()) {
    bool valid = false;
    const std::size_t length = scan_char(bytes, valid);
    if (valid) {
      text.append(bytes.substr(0, length));
    } else {
      text.append(kReplacementCharacter);
    }
    bytes.remove_prefix(length);
  }
  return text;
}

}  // namespace tarnex
