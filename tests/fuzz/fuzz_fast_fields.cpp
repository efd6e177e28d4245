// libFuzzer target: the whole-line fast field conversion at every level this processor runs,
// held against the exact path (tarnex::parse_binary32_field). The first input byte chooses the
// width (bit 0: 12 or 15) and the field count (1 to 10 from the bits above); the rest is the
// line, which may be longer than its fields.
//
// Every level must take the same fields, each with the exact path's value bits, and no field the
// exact path refuses: so a line with an error meets it first where it always did. The block
// kernel of each level, given the same fields, must take the same ones.
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "text/numbers.hpp"
#include "text/simd/fast_fields.hpp"

namespace {

[[noreturn]] void mismatch(const std::string& what) {
  const std::string line = "fuzz_fast_fields: " + what + "\n";
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  std::abort();
}

// The line's fields as one block: the block kernel must take the fields the line kernel took,
// with the same bits, and list each other field once.
void check_block(tarnex::SimdLevel level, std::string_view text, std::size_t count,
                 std::size_t width, tarnex::FieldMask taken, const float* by_line) {
  // The block kernel reads 16 bytes from each field's start: the block gets that much room.
  const std::size_t size = (count - 1) * width + 16;
  const auto block = std::make_unique<char[]>(size);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count * width), block.get());
  std::uint32_t offsets[10];
  for (std::size_t i = 0; i < count; ++i) offsets[i] = static_cast<std::uint32_t>(i * width);
  float out[10];
  tarnex::RefusedGroup refused[tarnex::refused_group_capacity(10)];
  const std::size_t groups =
      tarnex::convert_block_at(level, block.get(), offsets, count, width, out, refused);
  tarnex::FieldMask listed = 0;
  for (std::size_t g = 0; g < groups; ++g) {
    if ((listed & (tarnex::FieldMask{refused[g].lanes} << refused[g].first)) != 0) {
      mismatch("block: a field listed twice");
    }
    listed |= tarnex::FieldMask{refused[g].lanes} << refused[g].first;
  }
  const tarnex::FieldMask all = (tarnex::FieldMask{1} << count) - 1;
  if (listed != (all & ~taken)) mismatch("block: took other fields than the line kernel");
  for (std::size_t i = 0; i < count; ++i) {
    if ((taken >> i & 1u) != 0 &&
        std::bit_cast<std::uint32_t>(out[i]) != std::bit_cast<std::uint32_t>(by_line[i])) {
      mismatch("block: field " + std::to_string(i) + " has other bits");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t width = (data[0] & 1) != 0 ? 15 : 12;
  std::size_t count = 1 + (data[0] >> 1) % 10;
  // The line in a buffer of its own length, so that AddressSanitizer sees any read past it.
  const std::size_t length = size - 1;
  if (length < width) return 0;
  if (count * width > length) count = length / width;
  const auto line = std::make_unique<char[]>(length);
  std::copy(data + 1, data + size, line.get());
  const std::string_view text(line.get(), length);

  tarnex::FieldMask first_taken = 0;
  bool first_level = true;
  for (const tarnex::SimdLevel level : tarnex::supported_simd_levels()) {
    float out[10];
    const tarnex::FieldMask taken =
        tarnex::convert_fast_fields_at(level, line.get(), length, count, width, out);
    const std::string name(tarnex::simd_level_name(level));
    if ((taken >> count) != 0) mismatch(name + ": took a field past the count");
    if (!first_level && taken != first_taken) mismatch(name + ": took other fields");
    first_taken = taken;
    first_level = false;
    for (std::size_t i = 0; i < count; ++i) {
      if ((taken >> i & 1u) == 0) continue;
      const tarnex::Binary32Parse exact =
          tarnex::parse_binary32_field(text.substr(i * width, width));
      if (!exact.ok) mismatch(name + ": took field " + std::to_string(i) + ", which is no number");
      if (std::bit_cast<std::uint32_t>(exact.value) != std::bit_cast<std::uint32_t>(out[i])) {
        mismatch(name + ": field " + std::to_string(i) + " '" +
                 std::string(text.substr(i * width, width)) + "' has other bits");
      }
    }
    if (count >= tarnex::kBlockMinimumFields) check_block(level, text, count, width, taken, out);
  }
  return 0;
}
