#include "reader/step_values.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <string_view>

#include "reader/block_index.hpp"
#include "reader/field_width.hpp"
#include "reader/step_guess.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/numbers.hpp"

namespace tarnex {
namespace {

// Runs whose offsets do not fit 32 bits are read line by line; no real file comes near.
constexpr std::uint64_t kMostRunBytes = std::numeric_limits<std::uint32_t>::max() / 2;
// Steps of up to this many parameters are gathered into one call, up to kGatheredFields
// fields; longer steps go a step at a time, where the cost of a call per step is small beside
// their values.
constexpr std::uint64_t kMostGatheredParameters = 64;
constexpr std::uint64_t kGatheredFields = 2048;

std::vector<std::uint32_t> field_offsets(std::uint64_t parameters, std::uint64_t width,
                                         std::uint64_t terminator) {
  std::vector<std::uint32_t> offsets(static_cast<std::size_t>(parameters));
  const std::uint64_t stride = kFieldsPerLine * width + terminator;
  for (std::uint64_t i = 0; i < parameters; ++i) {
    offsets[i] =
        static_cast<std::uint32_t>(i / kFieldsPerLine * stride + i % kFieldsPerLine * width);
  }
  return offsets;
}

}  // namespace

StepValues::StepValues(std::uint64_t parameters, std::uint64_t width,
                       const FastFieldConverter& convert_fast)
    : parameters_(parameters),
      width_(width),
      convert_fast_(convert_fast),
      lines_(value_lines_per_step(parameters)) {
  const std::uint64_t step_bytes = lines_ * (kFieldsPerLine * width + 2);
  blocks_ = convert_fast.converts_blocks() && parameters >= kBlockMinimumFields &&
            step_bytes <= kMostRunBytes;
  if (!blocks_) return;
  const StepShape shape = StepShape::of(parameters, width);
  full_length_ = shape.full_length;
  last_length_ = shape.last_length;
  offsets_[0] = field_offsets(parameters, width, 1);
  offsets_[1] = field_offsets(parameters, width, 2);
  if (parameters <= kMostGatheredParameters) {
    most_gathered_ = static_cast<std::size_t>(kGatheredFields / parameters);
    value_starts_.resize(most_gathered_);
    gathered_offsets_.resize(most_gathered_ * static_cast<std::size_t>(parameters));
  }
  refused_.resize(refused_group_capacity(
      std::max(static_cast<std::size_t>(parameters), gathered_offsets_.size())));
}

std::size_t StepValues::whole_steps_ahead(LineSource& source, std::size_t most) {
  gathered_steps_ = 0;
  if (most_gathered_ == 0 || most < 2) return 0;
  gathered_steps_ =
      source.regular_groups(full_length_, last_length_, static_cast<std::size_t>(lines_),
                            std::min(most, most_gathered_), value_starts_.data(), gathered_);
  return gathered_steps_;
}

bool StepValues::read_whole_steps(LineSource& source, float* rows) {
  lay_out_gathered_fields();
  const std::size_t count = gathered_steps_ * static_cast<std::size_t>(parameters_);
  if (!convert_block_exactly(convert_fast_, gathered_.start, gathered_offsets_.data(), count,
                             static_cast<std::size_t>(width_), rows, refused_.data())) {
    return false;
  }
  source.take_lines(gathered_);
  return true;
}

void StepValues::read(LineSource& source, std::uint64_t step_line, float* row,
                      FailurePolicy& policy) {
  std::uint64_t line = 0;
  std::uint64_t exact_until = 0;  // lines of a run that failed go through the exact path
  while (line < lines_) {
    if (blocks_ && line >= exact_until) {
      const LineRun run =
          source.regular_lines(full_length_, last_length_, static_cast<std::size_t>(lines_ - line));
      const std::uint64_t first = line * kFieldsPerLine;
      const std::uint64_t count =
          std::min<std::uint64_t>(run.lines * kFieldsPerLine, parameters_ - first);
      if (count >= kBlockMinimumFields) {
        if (convert_run(run, static_cast<std::size_t>(count), row + first)) {
          source.take_lines(run);
          line += run.lines;
          continue;
        }
        exact_until = line + run.lines;
      }
    }
    read_line(source, step_line, line, row, policy);
    ++line;
  }
}

void StepValues::lay_out_gathered_fields() {
  // Lead lines of one length put the steps a fixed stride apart; the table made for the last
  // such stride then holds as it is.
  const std::uint32_t first = value_starts_[0];
  const std::uint32_t stride = gathered_steps_ > 1 ? value_starts_[1] - first : 0;
  bool even = true;
  for (std::size_t step = 2; step < gathered_steps_; ++step) {
    even = even && value_starts_[step] - value_starts_[step - 1] == stride;
  }
  const LaidOut wanted{first, stride, gathered_.terminator};
  if (even && laid_out_ == wanted && laid_out_steps_ >= gathered_steps_) return;
  const std::size_t steps = even ? most_gathered_ : gathered_steps_;
  const auto parameters = static_cast<std::size_t>(parameters_);
  const std::uint32_t* const offsets = offsets_[gathered_.terminator - 1].data();
  std::uint32_t* field = gathered_offsets_.data();
  for (std::size_t step = 0; step < steps; ++step) {
    const std::uint32_t start =
        even ? first + static_cast<std::uint32_t>(step) * stride : value_starts_[step];
    for (std::size_t i = 0; i < parameters; ++i) field[i] = start + offsets[i];
    field += parameters;
  }
  laid_out_ = even ? wanted : LaidOut{};
  laid_out_steps_ = even ? steps : 0;
}

bool StepValues::convert_run(const LineRun& run, std::size_t count, float* out) {
  return convert_block_exactly(convert_fast_, run.start, offsets_[run.terminator - 1].data(), count,
                               static_cast<std::size_t>(width_), out, refused_.data());
}

bool convert_block_exactly(const FastFieldConverter& convert_fast, const char* start,
                           const std::uint32_t* offsets, std::size_t count, std::size_t width,
                           float* out, RefusedGroup* refused) {
  const std::size_t groups = convert_fast.block(start, offsets, count, out, refused);
  for (std::size_t g = 0; g < groups; ++g) {
    const RefusedGroup group = refused[g];
    for (unsigned lanes = group.lanes; lanes != 0; lanes &= lanes - 1) {
      const std::size_t field = group.first + static_cast<std::size_t>(std::countr_zero(lanes));
      // The lines' lengths are known and their fields cover them, so the field is its bytes,
      // what the checked cut gives, unless a line feed inside it splits its line in two: the
      // fields the kernel takes hold none.
      const std::string_view text(start + offsets[field], width);
      if (text.find('\n') != std::string_view::npos) return false;
      const Binary32Parse parsed = parse_binary32_field(text);
      if (!parsed.ok) return false;
      out[field] = parsed.value;
    }
  }
  return true;
}

void StepValues::read_line(LineSource& source, std::uint64_t step_line, std::uint64_t line,
                           float* row, FailurePolicy& policy) const {
  const std::string_view value_line = require_value_line(source, step_line, policy);
  const std::uint64_t first = line * kFieldsPerLine;
  const std::uint64_t count = std::min(kFieldsPerLine, parameters_ - first);
  read_line_values(value_line, count, width_, convert_fast_, row + first,
                   {policy, source.line_number(), first});
}

}  // namespace tarnex
