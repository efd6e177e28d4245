#include "reader/timestep_blocks.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <new>
#include <optional>

#include "reader/field_width.hpp"
#include "reader/step_values.hpp"
#include "text/cut.hpp"
#include "text/numbers.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/whitespace.hpp"

namespace tarnex {
namespace {

// Field `index` (0-based) of `line` holds no number: its bytes are `text`.
[[noreturn, gnu::cold, gnu::noinline]] void fail_to_parse(
    const ValueLineSite& site, std::string_view line, std::uint64_t index, std::string_view text,
    ParseFloatErrorKind kind, std::source_location where = std::source_location::current()) {
  const FailureKind failure =
      kind == ParseFloatErrorKind::Empty ? FailureKind::FieldEmpty : FailureKind::FieldInvalid;
  report_failure(site.policy,
                 {.kind = failure,
                  .line = site.number,
                  .field = index + 1,
                  .parameter = site.first + index,
                  .text = text,
                  .line_text = line},
                 where);
}

[[noreturn, gnu::cold, gnu::noinline]] void fail_to_cut(const ValueLineSite& site,
                                                        std::string_view line, std::uint64_t index,
                                                        BytePosition start, BytePosition end) {
  const std::string_view held =
      start < line.size() ? line.substr(static_cast<std::size_t>(start)) : std::string_view{};
  report_failure(site.policy,
                 {.kind = FailureKind::FieldCut,
                  .line = site.number,
                  .field = index + 1,
                  .parameter = site.first + index,
                  .text = held.substr(0, static_cast<std::size_t>(
                                             std::min<BytePosition>(end - start, held.size()))),
                  .line_text = line,
                  .start = start,
                  .end = end});
}

void read_block_values(LineSource& source, std::string_view value_line, std::uint64_t step_line,
                       std::uint64_t parameters, std::uint64_t n_digits,
                       const FastFieldConverter& convert_fast, float* row, FailurePolicy& policy) {
  for (std::uint64_t first = 0; first < parameters; first += kFieldsPerLine) {
    if (first != 0) value_line = require_value_line(source, step_line, policy);
    const std::uint64_t count = std::min(kFieldsPerLine, parameters - first);
    read_line_values(value_line, count, n_digits, convert_fast, row + first,
                     {policy, source.line_number(), first});
  }
}

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// The fast conversion for fields of `n_digits` bytes; one that converts nothing before the width
// is known.
FastFieldConverter fast_converter_for(const std::optional<std::uint64_t>& n_digits) noexcept {
  // Any width the fast path does not know converts nothing; so does one that size_t cannot hold.
  const bool fits = n_digits && *n_digits <= std::numeric_limits<std::size_t>::max();
  return FastFieldConverter(fits ? static_cast<std::size_t>(*n_digits) : 0);
}

}  // namespace

std::string_view require_value_line(LineSource& source, std::uint64_t step_line,
                                    FailurePolicy& policy) {
  std::string_view line;
  if (!next_line_or_end(source, line, policy)) [[unlikely]] {
    report_failure(policy, {.kind = FailureKind::EndsInsideTimeStep,
                            .line = source.line_number() + 1,
                            .step_line = step_line});
  }
  return line;
}

// Field `index` of a value line: bytes index * width up to (index + 1) * width, trimmed and
// read as binary32.
float field_value(const ValueLineSite& site, std::string_view line, std::uint64_t index,
                  std::uint64_t width) {
  const BytePosition start = BytePosition{index} * width;
  const BytePosition end = start + width;
  const std::optional<std::string_view> text = cut(line, start, end);
  if (!text) fail_to_cut(site, line, index, start, end);
  const Binary32Parse parsed = parse_binary32_field(*text);
  if (!parsed.ok) fail_to_parse(site, line, index, *text, parsed.error);
  return parsed.value;
}

// The values of parameters first .. first + count - 1 from one value line, written to their
// places in `row`. The fields in the common shape are converted at once where the line holds
// them all; every other field goes through the checked cut and the exact path, in field order.
// A field in the shape is cut without error (it starts with an ASCII byte, and ends with one
// that no continuation byte can follow in valid UTF-8) and holds a number, so the first failure
// is still the one the strict field order meets first.
void read_line_values(std::string_view line, std::uint64_t count, std::uint64_t width,
                      const FastFieldConverter& convert_fast, float* row,
                      const ValueLineSite& site) {
  static_assert(kFieldsPerLine < kMaxFastFields);
  FieldMask converted = 0;
  if (BytePosition{count} * width <= line.size()) {
    // Every field lies within the line, so its offset and width fit std::size_t.
    converted = convert_fast(line.data(), line.size(), static_cast<std::size_t>(count), row);
  }
  const FieldMask all = (FieldMask{1} << count) - 1;
  for (FieldMask refused = all & ~converted; refused != 0; refused &= refused - 1) {
    const auto field = static_cast<std::uint64_t>(std::countr_zero(refused));
    row[field] = field_value(site, line, field, width);
  }
}

// The width the first value line gives, or the failure that asks for one.
std::uint64_t width_told_by(const LineSource& source, std::string_view value_line,
                            std::uint64_t parameters, FailurePolicy& policy) {
  const std::optional<std::uint64_t> width = width_of_first_value_line(value_line, parameters);
  if (!width) {
    report_failure(policy, {.kind = FailureKind::WidthUnknown,
                            .line = source.line_number(),
                            .line_text = value_line,
                            .fields_on_line = fields_on_first_line(parameters)});
  }
  return *width;
}

std::size_t read_steps_to_end(LineSource& source, StepValues& values, std::size_t most,
                              const RowsAt& rows_at, FailurePolicy& policy,
                              const std::atomic<bool>& stop) {
  std::string_view lead_line;
  std::size_t step = 0;
  std::size_t one_by_one_until = 0;  // steps taken whole that held a field that is no number
  while (step < most) {
    if (stop.load(std::memory_order_relaxed)) break;
    if (step >= one_by_one_until) {
      if (const std::size_t whole = values.whole_steps_ahead(source, most - step); whole != 0) {
        if (values.read_whole_steps(source, rows_at(step, whole))) {
          step += whole;
          continue;
        }
        one_by_one_until = step + whole;
      }
    }
    if (!next_line_or_end(source, lead_line, policy)) break;
    values.read(source, source.line_number(), rows_at(step, 1), policy);
    ++step;
  }
  return step;
}

void read_steps(LineSource& source, std::uint64_t parameters, std::uint64_t n_digits,
                const FastFieldConverter& convert_fast, std::size_t count, float* out,
                FailurePolicy& policy, const std::atomic<bool>& stop) {
  const auto width = static_cast<std::size_t>(parameters);
  StepValues values(parameters, n_digits, convert_fast);
  const std::size_t read = read_steps_to_end(
      source, values, count, [&](std::size_t step, std::size_t) { return out + step * width; },
      policy, stop);
  if (read < count && !stop.load(std::memory_order_relaxed)) {
    // The file is shorter than when its steps were counted.
    const std::uint64_t step_line = source.line_number() + 1;
    report_failure(
        policy,
        {.kind = FailureKind::EndsInsideTimeStep, .line = step_line, .step_line = step_line});
  }
}

void fail_to_take_line(const LineSource& source, FailurePolicy& policy) {
  // A failed read loses the line it was reading; an invalid line was taken and counted.
  const IoError& error = source.error();
  const bool read_failed = error.is_system();
  report_failure(policy, {.kind = read_failed ? FailureKind::ReadError : FailureKind::InvalidUtf8,
                          .line = source.line_number() + (read_failed ? 1 : 0),
                          .io_error = error});
}

void read_timestep_blocks(LineSource& source, std::uint64_t parameters,
                          std::optional<std::uint64_t>& n_digits, PlotData& data,
                          FailurePolicy& policy) {
  // A row of P values must fit in memory.
  if (parameters > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  const auto width = static_cast<std::size_t>(parameters);
  if (!n_digits) {
    // The first step's first value line tells the width.
    std::string_view lead_line;
    if (next_line_or_end(source, lead_line, policy)) {
      const std::uint64_t step_line = source.line_number();
      const std::string_view value_line = require_value_line(source, step_line, policy);
      n_digits = width_told_by(source, value_line, parameters, policy);
      read_block_values(source, value_line, step_line, parameters, *n_digits,
                        fast_converter_for(n_digits), data.values.append(width), policy);
    }
  }
  if (n_digits) {
    const FastFieldConverter convert_fast = fast_converter_for(n_digits);
    StepValues values(parameters, *n_digits, convert_fast);
    const std::atomic<bool> never{false};
    const std::size_t before = data.values.size();
    const auto rows_at = [&](std::size_t first, std::size_t count) {
      const std::size_t needed = before + (first + count) * width;
      if (data.values.size() < needed) data.values.append(needed - data.values.size());
      return data.values.data() + before + first * width;
    };
    read_steps_to_end(source, values, kNoLimit, rows_at, policy, never);
  }
  data.values.shrink_to_fit();
  if (!n_digits) {
    report_failure(policy, {.kind = FailureKind::WidthUnknown, .line = source.line_number() + 1});
  }
}

}  // namespace tarnex
