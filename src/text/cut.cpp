#include "text/cut.hpp"

#include <cstddef>

#include "text/char_render.hpp"
#include "text/utf8.hpp"

namespace tarnex {

namespace {

// Every index below the line's length fits std::size_t, so a checked position may be narrowed.
std::size_t narrow(BytePosition position) noexcept { return static_cast<std::size_t>(position); }

bool is_char_boundary(std::string_view line, BytePosition position) noexcept {
  if (position == 0 || position == line.size()) return true;
  if (position > line.size()) return false;
  return !is_continuation_byte(static_cast<unsigned char>(line[narrow(position)]));
}

// The byte range of the character that holds `inside`, a position within the line that is not
// a character boundary, and the character itself.
struct ContainingChar {
  std::size_t from;
  std::size_t to;
  char32_t code_point;
};

ContainingChar char_containing(std::string_view line, std::size_t inside) {
  std::size_t from = inside;
  while (from > 0 && is_continuation_byte(static_cast<unsigned char>(line[from]))) --from;
  const DecodedChar decoded = decode_char(line, from);
  return {from, from + decoded.length, decoded.code_point};
}

std::string out_of_bounds_text(std::string_view which, BytePosition index, std::size_t length) {
  return std::string(which) + " byte index " + decimal_text(index) +
         " is out of bounds for string of length " + decimal_text(length);
}

std::string reversed_range_text(BytePosition start, BytePosition end) {
  return "byte range starts at " + decimal_text(start) + " but ends at " + decimal_text(end);
}

std::string not_a_boundary_text(std::string_view which, std::string_view line,
                                BytePosition index) {
  const ContainingChar holder = char_containing(line, narrow(index));
  return std::string(which) + " byte index " + decimal_text(index) +
         " is not a char boundary; it is inside " + render_char(holder.code_point) + " (bytes " +
         decimal_text(holder.from) + ".." + decimal_text(holder.to) + " of string)";
}

constexpr std::string_view kStart = "start";
constexpr std::string_view kEnd = "end";

}  // namespace

std::optional<std::string_view> cut(std::string_view line, BytePosition start,
                                    BytePosition end) noexcept {
  if (start > end || end > line.size()) return std::nullopt;
  if (!is_char_boundary(line, start) || !is_char_boundary(line, end)) return std::nullopt;
  return line.substr(narrow(start), narrow(end - start));
}

std::string failed_cut_text(std::string_view line, BytePosition start, BytePosition end) {
  const std::size_t length = line.size();
  if (start > length) return out_of_bounds_text(kStart, start, length);
  if (end > length) return out_of_bounds_text(kEnd, end, length);
  if (start > end) return reversed_range_text(start, end);
  if (!is_char_boundary(line, start)) return not_a_boundary_text(kStart, line, start);
  if (!is_char_boundary(line, end)) return not_a_boundary_text(kEnd, line, end);
  return {};  // the cut succeeds: there is nothing to explain
}

std::string decimal_text(BytePosition position) {
  char digits[40];  // 2^128 - 1 has 39 decimal digits
  char* const stop = digits + sizeof digits;
  char* first = stop;
  do {
    *--first = static_cast<char>('0' + static_cast<int>(position % 10));
    position /= 10;
  } while (position != 0);
  return std::string(first, stop);
}

}  // namespace tarnex
