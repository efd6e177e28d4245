#include "vormant/step_copy.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "text/positioned_read.hpp"
#include "text/step_text.hpp"
#include "vormant/step_writer.hpp"

namespace tarnex::vormant {
namespace {

// The source is read, and the copy written, this many bytes at a time: few system calls for
// the many short blocks of a long run, little memory whatever the run's length.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// The text of the copy, gathered until a piece is full and then written.
class CopyText {
 public:
  explicit CopyText(int target) : target_(target), buffer_(new char[kPieceBytes]) {}

  // Appends [data, data + size); false once a write has failed.
  bool append(const char* data, std::size_t size) noexcept {
    if (size > 0) last_ = data[size - 1];
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

  bool ends_line() const noexcept { return last_ == '\n'; }

 private:
  int target_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  char last_ = '\n';
  int failure_ = 0;
};

// Where the copy stands: the next step whose lead line is still to come, and whether the bytes
// at hand belong to a lead line being left out.
struct CopyPlace {
  std::size_t step;
  std::size_t end_step;
  std::uint64_t number;
  bool in_lead_line = false;
};

// Copies bytes [offset, offset + size) of the source, held at `bytes`: a lead line is left out
// for the writer's own, every other byte is kept. False once a write has failed.
bool copy_piece(const char* bytes, std::size_t size, std::uint64_t offset, const BlockIndex& index,
                CopyPlace& place, CopyText& text) {
  std::size_t at = 0;
  while (at < size) {
    if (!place.in_lead_line && place.step < place.end_step &&
        offset + at == index.start(place.step)) {
      if (!text.append_lead_line(place.number++)) return false;
      ++place.step;
      place.in_lead_line = true;
    }
    if (place.in_lead_line) {
      const void* feed = std::memchr(bytes + at, '\n', size - at);
      place.in_lead_line = feed == nullptr;
      at = feed == nullptr ? size
                           : static_cast<std::size_t>(static_cast<const char*>(feed) - bytes) + 1;
      continue;
    }
    // The value lines run to the next block or to the end of the piece.
    std::size_t stop = size;
    if (place.step < place.end_step) {
      stop =
          static_cast<std::size_t>(std::min<std::uint64_t>(index.start(place.step) - offset, size));
    }
    if (!text.append(bytes + at, stop - at)) return false;
    at = stop;
  }
  return true;
}

[[noreturn]] void report_short_source(const BlockIndex& index, std::size_t step, int code,
                                      FailurePolicy& policy) {
  if (code != 0) {
    report_failure(policy, {.kind = FailureKind::ReadError,
                            .line = index.lead_line(step),
                            .io_error = IoError::system(code)});
  }
  // The file was cut shorter since it was indexed.
  report_failure(policy, {.kind = FailureKind::EndsInsideTimeStep,
                          .line = index.lead_line(step) + 1,
                          .step_line = index.lead_line(step)});
}

}  // namespace

int copy_steps(int source, const BlockIndex& index, std::size_t first, std::size_t count,
               int target, std::uint64_t first_number, FailurePolicy& policy) {
  if (count == 0) return 0;
  CopyText text(target);
  std::unique_ptr<char[]> bytes(new char[kPieceBytes]);
  CopyPlace place{.step = first, .end_step = first + count, .number = first_number};
  const std::uint64_t end = index.end(first + count - 1);
  for (std::uint64_t offset = index.start(first); offset < end;) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, end - offset));
    const ssize_t got = read_at(source, bytes.get(), wanted, offset, wanted);
    if (got < 0 || static_cast<std::size_t>(got) < wanted) {
      report_short_source(index, place.step == first ? first : place.step - 1, got < 0 ? errno : 0,
                          policy);
    }
    if (!copy_piece(bytes.get(), wanted, offset, index, place, text)) break;
    offset += wanted;
  }
  if (!text.ends_line()) text.append("\n", 1);
  return text.flush();
}

}  // namespace tarnex::vormant
