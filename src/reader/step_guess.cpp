#include "reader/step_guess.hpp"

#include <cstring>
#include <new>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/field_width.hpp"

namespace tarnex {
namespace {

// What a line of the bytes could be, by its length.
enum LineFit : unsigned char { kAnyLead = 0, kFull = 1, kLast = 2 };

// The lines whole in `bytes`: where each starts, and what its length lets it be.
struct Lines {
  std::vector<std::size_t> starts;  // one more than the lines: the last is past the last line
  std::vector<unsigned char> fits;
};

bool has_length(std::string_view bytes, std::size_t start, std::size_t end, std::size_t length) {
  const std::size_t content = end - start;
  return content == length || (content == length + 1 && bytes[end - 1] == '\r');
}

Lines lines_of(std::string_view bytes, const StepShape& shape) {
  Lines lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const void* feed = std::memchr(bytes.data() + start, '\n', bytes.size() - start);
    if (feed == nullptr) break;
    const auto end = static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data());
    unsigned char fit = kAnyLead;
    if (has_length(bytes, start, end, shape.full_length)) fit |= kFull;
    if (has_length(bytes, start, end, shape.last_length)) fit |= kLast;
    lines.starts.push_back(start);
    lines.fits.push_back(fit);
    start = end + 1;
  }
  lines.starts.push_back(start);
  return lines;
}

// Whether every line fits the shape when line `lead` is a lead line.
bool fits_from(const Lines& lines, const StepShape& shape, std::size_t lead) {
  const std::size_t per_step = shape.value_lines + 1;
  const std::size_t count = lines.fits.size();
  for (std::size_t line = 0; line < count; ++line) {
    const std::size_t role = (line + per_step - lead % per_step) % per_step;
    if (role == 0) continue;
    const unsigned char wanted = role == shape.value_lines ? kLast : kFull;
    if ((lines.fits[line] & wanted) == 0) return false;
  }
  return true;
}

}  // namespace

StepShape StepShape::of(std::uint64_t parameters, std::uint64_t width) noexcept {
  const std::uint64_t value_lines = value_lines_per_step(parameters);
  return {.value_lines = static_cast<std::size_t>(value_lines),
          .full_length = static_cast<std::size_t>(kFieldsPerLine * width),
          .last_length =
              static_cast<std::size_t>((parameters - (value_lines - 1) * kFieldsPerLine) * width)};
}

std::optional<StepGuess> guess_step_start(std::string_view bytes, const StepShape& shape,
                                          std::size_t steps) noexcept {
  try {
    const Lines lines = lines_of(bytes, shape);
    const std::size_t per_step = shape.value_lines + 1;
    const std::size_t count = lines.fits.size();
    std::optional<StepGuess> found;
    for (std::size_t lead = 0; lead < per_step && lead + steps * per_step <= count; ++lead) {
      if (!fits_from(lines, shape, lead)) continue;
      if (found) return std::nullopt;
      found = StepGuess{lines.starts[lead], lines.starts[lead + per_step] - lines.starts[lead]};
    }
    return found;
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // a guess is only a shortcut
  }
}

}  // namespace tarnex
