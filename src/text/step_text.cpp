#include "text/step_text.hpp"

#include <charconv>
#include <cstring>
#include <string_view>

#include "text/field_format.hpp"

namespace tarnex {
namespace {

constexpr std::size_t kFieldsPerLine = 10;
constexpr std::string_view kLead = " TIME STEP ";
// The step number right-aligned in this many bytes, as simulation codes write it.
constexpr std::size_t kNumberWidth = 8;
constexpr std::size_t kLongestNumber = 20;
static_assert(kLeadLineBound == kLead.size() + kLongestNumber + 1);

std::size_t value_lines(std::size_t parameters) noexcept {
  return (parameters + kFieldsPerLine - 1) / kFieldsPerLine;
}

}  // namespace

char* write_lead_line(char* p, std::uint64_t number) noexcept {
  std::memcpy(p, kLead.data(), kLead.size());
  p += kLead.size();
  char digits[kLongestNumber];
  const auto end = std::to_chars(digits, digits + kLongestNumber, number).ptr;
  const std::size_t length = static_cast<std::size_t>(end - digits);
  if (length < kNumberWidth) {
    std::memset(p, ' ', kNumberWidth - length);
    p += kNumberWidth - length;
  }
  std::memcpy(p, digits, length);
  p += length;
  *p++ = '\n';
  return p;
}

namespace {

char* value_text(char* p, const float* row, std::size_t parameters, std::size_t width) noexcept {
  for (std::size_t column = 0; column < parameters; ++column) {
    format_field(row[column], width, p);
    p += width;
    if ((column + 1) % kFieldsPerLine == 0 || column + 1 == parameters) *p++ = '\n';
  }
  return p;
}

}  // namespace

std::size_t step_text_bound(std::size_t parameters, std::size_t width) noexcept {
  return kLeadLineBound + parameters * width + value_lines(parameters);
}

char* write_step_text(char* out, const float* values, std::size_t parameters, std::size_t steps,
                      std::uint64_t first_number, std::size_t width) noexcept {
  for (std::size_t step = 0; step < steps; ++step) {
    out = write_lead_line(out, first_number + step);
    out = value_text(out, values + step * parameters, parameters, width);
  }
  return out;
}

}  // namespace tarnex
