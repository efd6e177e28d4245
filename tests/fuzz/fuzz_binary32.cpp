// libFuzzer target: tarnex::parse_binary32 and tarnex::parse_binary32_field against the
// table-driven grammar and MPFR rounding of reference.hpp. The input bytes are the text: as it
// stands for parse_binary32, and as a whole field (trimmed by the model) for the field parse.
//
// Each must agree with the model on every text: accepted or not, Empty or Invalid when not, and
// the bit pattern of the value (sign of zero and NaN included) when accepted.
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reference.hpp"
#include "text/numbers.hpp"

namespace {

std::string printable(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      shown.push_back(c);
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown.push_back(kHex[byte >> 4]);
      shown.push_back(kHex[byte & 0xF]);
    }
  }
  return shown;
}

[[noreturn]] void mismatch(std::string_view text, const std::string& what) {
  const std::string line = "fuzz_binary32: \"" + printable(text) + "\": " + what + "\n";
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  std::abort();
}

std::string hex(std::uint32_t bits) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kHex[(bits >> shift) & 0xF]);
  return text;
}

const char* kind_name(tarnex::fuzz::NumberText::Kind kind) {
  using Kind = tarnex::fuzz::NumberText::Kind;
  switch (kind) {
    case Kind::Empty: return "Empty";
    case Kind::Invalid: return "Invalid";
    case Kind::Decimal: return "a decimal number";
    case Kind::Infinity: return "infinity";
    case Kind::NaN: return "NaN";
  }
  return "?";
}

}  // namespace

namespace {

void check(const char* parser, std::string_view input, const tarnex::Binary32Parse& parsed,
           const tarnex::fuzz::NumberText& expected) {
  using Kind = tarnex::fuzz::NumberText::Kind;
  const auto fail = [&](const std::string& what) { mismatch(input, parser + (": " + what)); };
  if (expected.kind == Kind::Empty || expected.kind == Kind::Invalid) {
    const bool same = !parsed.ok && (parsed.error == tarnex::ParseFloatErrorKind::Empty) ==
                                        (expected.kind == Kind::Empty);
    if (!same) {
      fail(std::string("expected ") + kind_name(expected.kind) + ", got " +
           (parsed.ok ? "the value " + hex(std::bit_cast<std::uint32_t>(parsed.value))
            : parsed.error == tarnex::ParseFloatErrorKind::Empty ? "Empty"
                                                                 : "Invalid"));
    }
    return;
  }
  if (!parsed.ok) fail(std::string("expected ") + kind_name(expected.kind) + ", refused");
  const std::uint32_t want = tarnex::fuzz::binary32_bits(expected);
  const std::uint32_t got = std::bit_cast<std::uint32_t>(parsed.value);
  if (got != want) fail("expected " + hex(want) + ", got " + hex(got));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check("parse_binary32", text, tarnex::parse_binary32(text),
        tarnex::fuzz::recognise_number(text));
  // Trimming walks characters, so the field parse only ever sees text from valid UTF-8 lines.
  if (tarnex::fuzz::is_well_formed_utf8(text)) {
    check("parse_binary32_field", text, tarnex::parse_binary32_field(text),
          tarnex::fuzz::recognise_number(tarnex::fuzz::trimmed(text)));
  }
  return 0;
}
