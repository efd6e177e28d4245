#include "vormant/step_copy.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "reader/field_width.hpp"
#include "reader/step_guess.hpp"
#include "reader/step_values.hpp"
#include "reader/timestep_blocks.hpp"
#include "text/line_source.hpp"
#include "text/positioned_read.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/step_text.hpp"
#include "vormant/step_writer.hpp"

namespace tarnex::vormant {
namespace {

// The steps are read, checked and copied a piece at a time: this many bytes of the source, or
// one step where a step is longer. Few system calls for the many short blocks of a long run,
// little memory whatever the run's length.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// A piece that is read again, to check it as a read checks it, is read this many values at a
// time.
constexpr std::size_t kPieceValues = std::size_t{1} << 18;
// The vector kernel reads up to 16 bytes from a field's start: the piece's bytes are followed by
// this many more, whatever they hold.
constexpr std::size_t kKernelPadding = 16;

// The text of the copy, gathered until a piece is full and then written.
class CopyText {
 public:
  explicit CopyText(int target) : target_(target), buffer_(new char[kPieceBytes]) {}

  // Appends [data, data + size); false once a write has failed.
  bool append(const char* data, std::size_t size) noexcept {
    while (size > 0 && failure_ == 0) {
      const std::size_t taken = std::min(size, kPieceBytes - used_);
      std::memcpy(buffer_.get() + used_, data, taken);
      used_ += taken;
      data += taken;
      size -= taken;
      if (used_ == kPieceBytes) flush();
    }
    return failure_ == 0;
  }

  bool append_lead_line(std::uint64_t number) noexcept {
    char line[kLeadLineBound];
    const char* end = write_lead_line(line, number);
    return append(line, static_cast<std::size_t>(end - line));
  }

  // Writes what is gathered; returns 0 or the errno of the write that failed.
  int flush() noexcept {
    if (failure_ == 0) failure_ = write_all(target_, buffer_.get(), used_);
    used_ = 0;
    return failure_;
  }

 private:
  int target_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  int failure_ = 0;
};

bool is_ascii(const char* bytes, std::size_t size) noexcept {
  unsigned char seen = 0;  // no early exit: the loop runs as wide vector ORs
  for (std::size_t i = 0; i < size; ++i) seen |= static_cast<unsigned char>(bytes[i]);
  return seen < 0x80;
}

// The check of a piece of steps whose lines a read would take whole: steps the index found
// regular, every value line at least as long as its fields and every byte ASCII, so that each
// field is the bytes at a fixed offset from its step's first value line, as a read cuts it.
// Their fields go through the vector kernel in one call, and the exact path takes those it
// refuses, as a read converts them. Any other piece is read as a read reads it.
class PieceCheck {
 public:
  explicit PieceCheck(const CopySource& source)
      : source_(source), convert_fast_(static_cast<std::size_t>(source.n_digits)) {
    const BlockIndex& index = source.index;
    const StepShape shape = StepShape::of(source.parameters, source.n_digits);
    const std::uint64_t lines = value_lines_per_step(source.parameters);
    const std::uint64_t full = lines > 1 ? index.value_line_length(0) : shape.full_length;
    const std::uint64_t last = index.value_line_length(lines - 1);
    usable_ =
        convert_fast_.converts_blocks() && full >= shape.full_length && last >= shape.last_length;
    if (!usable_) return;
    // A line exactly as long as its fields must not end in a carriage return, which a read
    // drops with the line feed after it: the last field would then lack a byte.
    full_exact_ = full == shape.full_length;
    last_exact_ = last == shape.last_length;
    const auto parameters = static_cast<std::size_t>(source.parameters);
    field_offsets_.resize(parameters);
    for (std::size_t i = 0; i < parameters; ++i) {
      field_offsets_[i] = static_cast<std::uint32_t>(i / kFieldsPerLine * (full + 1) +
                                                     i % kFieldsPerLine * source.n_digits);
    }
  }

  // Whether steps [begin, end), whose bytes `bytes` holds from the start of `begin` on (and
  // kKernelPadding bytes more), pass this check. False says nothing about the steps: they are
  // then to be read.
  bool passes(const char* bytes, std::size_t size, std::size_t begin, std::size_t end) {
    if (!usable_ || size > std::numeric_limits<std::uint32_t>::max() - kKernelPadding ||
        !is_ascii(bytes, size)) {
      return false;
    }
    const BlockIndex& index = source_.index;
    const std::uint64_t offset = index.start(begin);
    const std::size_t parameters = field_offsets_.size();
    offsets_.resize((end - begin) * parameters);
    std::uint32_t* field = offsets_.data();
    for (std::size_t step = begin; step < end; ++step) {
      if (!index.regular(step) || !lines_keep_fields(bytes, step, offset)) return false;
      const auto values = static_cast<std::uint32_t>(index.value_line_start(step, 0) - offset);
      for (const std::uint32_t within : field_offsets_) *field++ = values + within;
    }
    const std::size_t count = offsets_.size();
    if (count < kBlockMinimumFields) return false;
    values_.resize(count);
    refused_.resize(refused_group_capacity(count));
    return convert_block_exactly(convert_fast_, bytes, offsets_.data(), count,
                                 static_cast<std::size_t>(source_.n_digits), values_.data(),
                                 refused_.data());
  }

 private:
  // Whether no value line of `step` that is exactly as long as its fields ends in a carriage
  // return.
  bool lines_keep_fields(const char* bytes, std::size_t step, std::uint64_t offset) const {
    const BlockIndex& index = source_.index;
    const std::uint64_t lines = index.value_lines();
    for (std::uint64_t line = 0; line < lines; ++line) {
      if (line + 1 < lines ? !full_exact_ : !last_exact_) continue;
      const std::uint64_t end =
          index.value_line_start(step, line) + index.value_line_length(line) - offset;
      if (bytes[end - 1] == '\r') return false;
    }
    return true;
  }

  const CopySource& source_;
  FastFieldConverter convert_fast_;
  bool usable_ = false;
  bool full_exact_ = false;
  bool last_exact_ = false;
  std::vector<std::uint32_t> field_offsets_;  // of a step's fields from its first value line
  std::vector<std::uint32_t> offsets_;        // of a piece's fields from its start
  std::vector<float> values_;
  std::vector<RefusedGroup> refused_;
};

// Reads steps [begin, end) as a read of the file reads them, at most kPieceValues values at a
// time: every line and every field is checked, and the first fault goes to `policy` as a read
// reports it.
void read_steps_of(const CopySource& source, std::size_t begin, std::size_t end,
                   FailurePolicy& policy) {
  const BlockIndex& index = source.index;
  const auto parameters = static_cast<std::size_t>(source.parameters);
  const std::size_t most = std::max<std::size_t>(1, kPieceValues / parameters);
  std::vector<float> rows(std::min(end - begin, most) * parameters);
  const FastFieldConverter convert_fast(static_cast<std::size_t>(source.n_digits));
  LineSource lines =
      LineSource::over_range(source.fd, index.start(begin), index.end(end - 1),
                             index.lead_line(begin), best_scan_level(), LineSource::kBulkReadSize);
  const std::atomic<bool> never{false};
  for (std::size_t step = begin; step < end; step += most) {
    read_steps(lines, source.parameters, source.n_digits, convert_fast, std::min(most, end - step),
               rows.data(), policy, never);
  }
}

// The steps [begin, end) that make one piece: those from `begin` on whose bytes fit
// kPieceBytes, at least one.
std::size_t piece_end(const BlockIndex& index, std::size_t begin, std::size_t end) noexcept {
  const std::uint64_t start = index.start(begin);
  std::size_t stop = begin + 1;
  while (stop < end && index.end(stop) - start <= kPieceBytes) ++stop;
  return stop;
}

[[noreturn]] void report_short_source(const BlockIndex& index, std::size_t step, int code,
                                      FailurePolicy& policy) {
  if (code != 0) {
    report_failure(policy, {.kind = FailureKind::ReadError,
                            .line = index.lead_line(step),
                            .io_error = IoError::system(code)});
  }
  // The file was cut shorter, or rewritten, since it was indexed.
  report_failure(policy, {.kind = FailureKind::EndsInsideTimeStep,
                          .line = index.lead_line(step) + 1,
                          .step_line = index.lead_line(step)});
}

// Appends steps [begin, end), whose bytes `bytes` holds from the start of `begin` on, each lead
// line written anew, the value lines as they stand. False once a write has failed.
bool copy_piece(const char* bytes, const BlockIndex& index, std::size_t begin, std::size_t end,
                std::uint64_t number, CopyText& text, FailurePolicy& policy) {
  const std::uint64_t offset = index.start(begin);
  for (std::size_t step = begin; step < end; ++step) {
    const char* const start = bytes + (index.start(step) - offset);
    const auto size = static_cast<std::size_t>(index.end(step) - index.start(step));
    // A step as it was checked has a line feed after its lead line.
    const void* const feed = std::memchr(start, '\n', size);
    if (feed == nullptr) report_short_source(index, step, 0, policy);  // rewritten since
    const char* const values = static_cast<const char*>(feed) + 1;
    if (!text.append_lead_line(number++) ||
        !text.append(values, static_cast<std::size_t>(start + size - values))) {
      return false;
    }
  }
  return true;
}

// The end of the file, where it ends the last value line, stands for a line end: the copy
// writes one that a read drops, so that the line reads back as it read. A carriage return at
// the end of the file is part of the line; one before a line feed is dropped with it.
void end_last_line(char last, CopyText& text) noexcept {
  if (last == '\r') {
    text.append("\r\n", 2);
  } else if (last != '\n') {
    text.append("\n", 1);
  }
}

}  // namespace

int copy_steps(const CopySource& source, std::size_t first, std::size_t count, int target,
               std::uint64_t first_number, FailurePolicy& policy) {
  if (count == 0) return 0;
  const BlockIndex& index = source.index;
  PieceCheck check(source);
  CopyText text(target);
  std::vector<char> bytes;
  char last = '\n';
  for (std::size_t begin = first; begin < first + count;) {
    const std::size_t end = piece_end(index, begin, first + count);
    const std::uint64_t start = index.start(begin);
    const auto size = static_cast<std::size_t>(index.end(end - 1) - start);
    if (bytes.size() < size + kKernelPadding) bytes.resize(size + kKernelPadding);
    const ssize_t got = read_at(source.fd, bytes.data(), size, start, size);
    if (got < 0 || static_cast<std::size_t>(got) < size) {
      report_short_source(index, begin, got < 0 ? errno : 0, policy);
    }
    if (!check.passes(bytes.data(), size, begin, end)) read_steps_of(source, begin, end, policy);
    if (!copy_piece(bytes.data(), index, begin, end, first_number + (begin - first), text,
                    policy)) {
      return text.flush();
    }
    last = bytes[size - 1];
    begin = end;
  }
  end_last_line(last, text);
  return text.flush();
}

}  // namespace tarnex::vormant
