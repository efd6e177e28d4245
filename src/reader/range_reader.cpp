#include "reader/range_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "reader/field_width.hpp"
#include "reader/picked_fields.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"
#include "text/positioned_read.hpp"
#include "text/utf8.hpp"

namespace tarnex {
namespace {

// A selective read takes the bytes around the lines it needs in windows of this size when the
// lines lie close together; far apart, it reads each line alone. A read call costs about what
// copying a few kilobytes does.
constexpr std::size_t kWindowSize = std::size_t{256} << 10;
constexpr std::uint64_t kCloseTogether = std::uint64_t{4} << 10;
// Lines far apart are fetched this many at most to a call, into a buffer at most this large.
constexpr std::size_t kGatherStretches = 1024;
constexpr std::size_t kGatherBytes = std::size_t{256} << 10;

// The file ends, or changed, before the bytes the index promised: the step at `step_line` is
// cut short.
[[noreturn, gnu::cold]] void fail_file_shrank(FailurePolicy& policy, std::uint64_t step_line,
                                              std::uint64_t line) {
  report_failure(policy,
                 {.kind = FailureKind::EndsInsideTimeStep, .line = line, .step_line = step_line});
}

// Consecutive steps, every column: the lines from the first step's lead line on, checked one
// after the other as a read of the whole file checks them.
void read_consecutive(const IndexedFile& file, const StepSelection& steps, std::size_t begin,
                      std::size_t end, float* out, FailurePolicy& policy,
                      const std::atomic<bool>& stop) {
  const std::size_t first = steps.step(begin);
  const std::size_t last = steps.step(end - 1);
  LineSource source = LineSource::over_range(file.fd, file.index.start(first), file.index.end(last),
                                             file.index.lead_line(first), best_scan_level(),
                                             LineSource::kBulkReadSize);
  read_steps(source, file.parameters, file.n_digits, file.convert_fast, end - begin,
             out + begin * static_cast<std::size_t>(file.parameters), policy, stop);
}

// Bytes of the file by offset, read in windows.
class ByteWindow {
 public:
  ByteWindow(int fd, std::size_t window) : fd_(fd), window_(window) {}

  // Bytes [offset, offset + length), or fewer where the file ends first; those of a step whose
  // lead line is `step_line`, for the failure of a read.
  std::string_view get(std::uint64_t offset, std::size_t length, FailurePolicy& policy,
                       std::uint64_t step_line) {
    if (offset < start_ || offset + length > start_ + filled_)
      fill(offset, length, policy, step_line);
    const auto skip = static_cast<std::size_t>(offset - start_);
    if (skip >= filled_) return {};
    return std::string_view(bytes_.data() + skip, std::min(length, filled_ - skip));
  }

 private:
  // Reads a window holding bytes [offset, offset + length), as many as the file has.
  void fill(std::uint64_t offset, std::size_t length, FailurePolicy& policy,
            std::uint64_t step_line) {
    const std::size_t wanted = std::max(length, window_);
    if (bytes_.size() < wanted) bytes_.resize(wanted);
    // A read going backwards through the file takes the window that ends with these bytes.
    start_ = offset < start_ && offset + length > wanted ? offset + length - wanted : offset;
    const std::size_t needed = static_cast<std::size_t>(offset - start_) + length;
    filled_ = 0;
    const ssize_t count = read_at(fd_, bytes_.data(), wanted, start_, needed);
    if (count < 0) {
      report_failure(
          policy,
          {.kind = FailureKind::ReadError, .line = step_line, .io_error = IoError::system(errno)});
    }
    filled_ = static_cast<std::size_t>(count);
  }

  int fd_;
  std::size_t window_;
  std::vector<char> bytes_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

class SelectiveReader {
 public:
  SelectiveReader(const IndexedFile& file, const ColumnPlan& plan, bool close_together)
      : file_(file),
        plan_(plan),
        window_(file.fd, close_together ? kWindowSize : 0),
        in_file_(plan, file.index, file.n_digits, file.convert_fast, PickedFields::Layout::InFile),
        gathered_(plan, file.index, file.n_digits, file.convert_fast,
                  PickedFields::Layout::Gathered) {}

  void read_step(std::size_t step, float* row, FailurePolicy& policy) {
    if (file_.index.regular(step) && read_regular_step(step, row, policy)) return;
    read_irregular_step(step, row, policy);
  }

  // The steps of rows [begin, end), the lines of the regular ones fetched together, many
  // steps to a call.
  void read_gathered(const StepSelection& steps, std::size_t begin, std::size_t end, float* out,
                     FailurePolicy& policy, const std::atomic<bool>& stop) {
    std::size_t step_bytes = 0;
    for (const ColumnPlan::Line& line : plan_.lines()) step_bytes += line_bytes(line);
    const std::size_t batch = std::max<std::size_t>(
        1, std::min(kGatherStretches / plan_.lines().size(), kGatherBytes / step_bytes));
    std::vector<Stretch> stretches;
    std::vector<char> bytes(batch * step_bytes + PickedFields::kPadding);
    for (std::size_t row = begin; row < end; row += batch) {
      if (stop.load(std::memory_order_relaxed)) return;
      const std::size_t last = std::min(end, row + batch);
      stretches.clear();
      for (std::size_t r = row; r < last; ++r) {
        const std::size_t step = steps.step(r);
        if (!file_.index.regular(step)) continue;
        for (const ColumnPlan::Line& line : plan_.lines()) {
          stretches.push_back({file_.index.value_line_start(step, line.index), line_bytes(line)});
        }
      }
      const bool gathered = file_.mapping->gather(stretches, bytes.data());
      const char* at = bytes.data();
      for (std::size_t r = row; r < last; ++r) {
        const std::size_t step = steps.step(r);
        float* const row_out = out + r * plan_.row_width();
        if (!file_.index.regular(step)) {
          read_irregular_step(step, row_out, policy);
          continue;
        }
        if (!gathered || !take_regular_step(step, at, row_out, policy)) {
          read_step(step, row_out, policy);
        }
        at += step_bytes;
      }
    }
  }

 private:
  // A value line of a regular step with its line feed.
  std::size_t line_bytes(const ColumnPlan::Line& line) const noexcept {
    return static_cast<std::size_t>(file_.index.value_line_length(line.index)) + 1;
  }

  // The plan's lines of a regular step from `bytes`, one after the other, each with its line
  // feed; false when they are not lines of the file as indexed.
  bool take_regular_step(std::size_t step, const char* bytes, float* row, FailurePolicy& policy) {
    if (gathered_.usable() && gathered_.convert(bytes, row)) return true;
    const std::uint64_t step_line = file_.index.lead_line(step);
    for (const ColumnPlan::Line& line : plan_.lines()) {
      const std::size_t length = line_bytes(line) - 1;
      if (bytes[length] != '\n') return false;
      const std::uint64_t number = step_line + 1 + line.index;
      take_fields(file_, line, checked_line({bytes, length}, true, number, policy), number, row,
                  policy);
      bytes += length + 1;
    }
    return true;
  }

  // Each line where the index puts it; false when the file no longer has it there.
  bool read_regular_step(std::size_t step, float* row, FailurePolicy& policy) {
    const std::uint64_t step_line = file_.index.lead_line(step);
    if (in_file_.usable()) {
      // The plan's lines and what lies between them, and room for the kernel past the last.
      const std::size_t wanted = in_file_.span() + PickedFields::kPadding;
      const std::string_view bytes =
          window_.get(file_.index.value_line_start(step, plan_.lines().front().index), wanted,
                      policy, step_line);
      if (bytes.size() == wanted && in_file_.convert(bytes.data(), row)) return true;
    }
    for (const ColumnPlan::Line& line : plan_.lines()) {
      const std::size_t length = line_bytes(line) - 1;
      const std::string_view bytes = window_.get(file_.index.value_line_start(step, line.index),
                                                 length + 1, policy, step_line);
      if (bytes.size() != length + 1 || bytes.back() != '\n') return false;
      const std::uint64_t number = step_line + 1 + line.index;
      take_fields(file_, line, checked_line(bytes.substr(0, length), true, number, policy), number,
                  row, policy);
    }
    return true;
  }

  // The whole step, its lines found by their line feeds.
  void read_irregular_step(std::size_t step, float* row, FailurePolicy& policy) {
    const std::uint64_t step_line = file_.index.lead_line(step);
    const std::uint64_t start = file_.index.start(step);
    const auto length = static_cast<std::size_t>(file_.index.end(step) - start);
    std::string_view block = window_.get(start, length, policy, step_line);
    if (block.size() != length) fail_file_shrank(policy, step_line, step_line);
    std::uint64_t line_index = 0;  // of the value line next in the block
    std::size_t position = skip_line(block, 0, policy, step_line, step_line);
    for (const ColumnPlan::Line& line : plan_.lines()) {
      for (; line_index < line.index; ++line_index) {
        position = skip_line(block, position, policy, step_line, step_line + 1 + line_index);
      }
      const std::uint64_t number = step_line + 1 + line.index;
      const std::size_t feed = line_end(block, position, policy, step_line, number);
      const bool by_line_feed = feed < block.size();
      const std::string_view text = block.substr(position, feed - position);
      take_fields(file_, line, checked_line(text, by_line_feed, number, policy), number, row,
                  policy);
      position = feed + 1;
      ++line_index;
    }
  }

  // The end of the line at `position` of the block: its line feed, or the block's end for the
  // last line of a file without a final line feed.
  static std::size_t line_end(std::string_view block, std::size_t position, FailurePolicy& policy,
                              std::uint64_t step_line, std::uint64_t number) {
    if (position >= block.size()) fail_file_shrank(policy, step_line, number);
    const void* feed = std::memchr(block.data() + position, '\n', block.size() - position);
    return feed == nullptr
               ? block.size()
               : static_cast<std::size_t>(static_cast<const char*>(feed) - block.data());
  }
  static std::size_t skip_line(std::string_view block, std::size_t position, FailurePolicy& policy,
                               std::uint64_t step_line, std::uint64_t number) {
    return line_end(block, position, policy, step_line, number) + 1;
  }

  const IndexedFile& file_;
  const ColumnPlan& plan_;
  ByteWindow window_;
  PickedFields in_file_;
  PickedFields gathered_;
};

// Whether the lines a selective read needs lie close enough together to read in windows.
bool lines_close_together(const BlockIndex& index, const StepSelection& steps,
                          const ColumnPlan& plan) noexcept {
  if (index.steps() == 0) return true;
  const std::uint64_t spread = index.end(index.steps() - 1) - index.start(0);
  const std::uint64_t mean_step = spread / index.steps();
  const auto stride = static_cast<std::uint64_t>(steps.stride < 0 ? -steps.stride : steps.stride);
  return mean_step * stride <= kCloseTogether * plan.lines().size();
}

}  // namespace

// Reads the fields `line` of the plan takes from value line `text`, line `number` of the file.
void take_fields(const IndexedFile& file, const ColumnPlan::Line& line, std::string_view text,
                 std::uint64_t number, float* row, FailurePolicy& policy) {
  const ValueLineSite site{policy, number, line.index * kFieldsPerLine};
  if (line.whole) {
    read_line_values(text, line.fields, file.n_digits, file.convert_fast, row + line.first_column,
                     site);
    return;
  }
  float fast[kMaxFastFields];
  FieldMask converted = 0;
  if (line.picks.size() > 1 && line.fields * file.n_digits <= text.size()) {
    converted =
        file.convert_fast(text.data(), text.size(), static_cast<std::size_t>(line.fields), fast);
  }
  for (const ColumnPlan::Pick& pick : line.picks) {
    row[pick.column] = (converted >> pick.field & 1) != 0
                           ? fast[pick.field]
                           : field_value(site, text, pick.field, file.n_digits);
  }
}

// A value line's text without its line end, checked as valid UTF-8.
std::string_view checked_line(std::string_view text, bool by_line_feed, std::uint64_t number,
                              FailurePolicy& policy) {
  if (by_line_feed && !text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (!is_valid_utf8(text)) {
    report_failure(
        policy,
        {.kind = FailureKind::InvalidUtf8, .line = number, .io_error = IoError::invalid_data()});
  }
  return text;
}

void read_rows(const IndexedFile& file, const StepSelection& steps, const ColumnPlan& plan,
               std::size_t begin, std::size_t end, float* out, FailurePolicy& policy,
               const std::atomic<bool>& stop) {
  if (begin >= end) return;
  if (plan.takes_all() && steps.stride == 1) {
    read_consecutive(file, steps, begin, end, out, policy, stop);
    return;
  }
  const bool close_together = lines_close_together(file.index, steps, plan);
  SelectiveReader reader(file, plan, close_together);
  if (!close_together && file.mapping != nullptr) {
    reader.read_gathered(steps, begin, end, out, policy, stop);
    return;
  }
  for (std::size_t row = begin; row < end; ++row) {
    if (stop.load(std::memory_order_relaxed)) return;
    reader.read_step(steps.step(row), out + row * plan.row_width(), policy);
  }
}

std::uint64_t cost_of_read(const BlockIndex& index, const StepSelection& steps,
                           const ColumnPlan& plan) noexcept {
  if (steps.count == 0 || index.steps() == 0) return 0;
  const std::uint64_t mean_step = (index.end(index.steps() - 1) - index.start(0)) / index.steps();
  if (plan.takes_all() || lines_close_together(index, steps, plan)) return mean_step * steps.count;
  // A line fetched on its own costs about what reading the bytes between close lines does.
  return steps.count * plan.lines().size() * kCloseTogether;
}

}  // namespace tarnex
