#include "reader/picked_fields.hpp"

#include <cstring>
#include <limits>

#include "reader/step_values.hpp"

namespace tarnex {
namespace {

bool is_ascii(const char* bytes, std::size_t length) noexcept {
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    high |= word;
  }
  for (; i < length; ++i) high |= static_cast<unsigned char>(bytes[i]);
  return (high & 0x8080808080808080ULL) == 0;
}

}  // namespace

PickedFields::PickedFields(const ColumnPlan& plan, const BlockIndex& index, std::uint64_t width,
                           const FastFieldConverter& convert_fast, Layout layout)
    : convert_fast_(convert_fast), width_(static_cast<std::size_t>(width)) {
  if (!convert_fast.converts_blocks() || plan.lines().empty()) return;
  const std::uint64_t first_line = plan.lines().front().index;
  std::uint64_t next_index = first_line;
  std::uint64_t at = 0;  // the start of the next line
  for (const ColumnPlan::Line& line : plan.lines()) {
    if (layout == Layout::InFile) {
      for (; next_index < line.index; ++next_index) at += index.value_line_length(next_index) + 1;
    }
    const std::uint64_t length = index.value_line_length(line.index);
    if (at + length + 1 > std::numeric_limits<std::uint32_t>::max()) return;
    lines_.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length),
                      static_cast<std::uint32_t>(line.fields * width)});
    const auto add = [&](std::uint64_t field, std::size_t column) {
      offsets_.push_back(static_cast<std::uint32_t>(at + field * width));
      columns_.push_back(column);
    };
    if (line.whole) {
      for (std::uint64_t field = 0; field < line.fields; ++field) {
        add(field, line.first_column + static_cast<std::size_t>(field));
      }
    } else {
      for (const ColumnPlan::Pick& pick : line.picks) add(pick.field, pick.column);
    }
    at += length + 1;
    next_index = line.index + 1;
  }
  span_ = static_cast<std::size_t>(at);
  usable_ = offsets_.size() >= kBlockMinimumFields;
  values_.resize(offsets_.size());
  refused_.resize(refused_group_capacity(offsets_.size()));
}

bool PickedFields::lines_can_be_taken(const char* bytes) const noexcept {
  for (const LineCheck& line : lines_) {
    const char* const text = bytes + line.start;
    if (text[line.length] != '\n' || !is_ascii(text, line.length)) return false;
    // The line as a reader sees it loses a carriage return before its line feed.
    const std::uint32_t kept = line.length - (line.length != 0 && text[line.length - 1] == '\r');
    if (kept < line.needed) return false;
  }
  return true;
}

bool PickedFields::convert(const char* bytes, float* row) {
  if (!lines_can_be_taken(bytes)) return false;
  const std::size_t count = offsets_.size();
  if (!convert_block_exactly(convert_fast_, bytes, offsets_.data(), count, width_, values_.data(),
                             refused_.data())) {
    return false;
  }
  for (std::size_t k = 0; k < count; ++k) row[columns_[k]] = values_[k];
  return true;
}

}  // namespace tarnex
