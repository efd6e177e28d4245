// The block index of a plot file: where each time step's block starts, found from line ends
// alone. A block is a lead line and ceil(P / 10) value lines, whatever the lines hold, so
// counting line feeds finds every block exactly without reading a single value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/read_failure.hpp"
#include "text/chunk_scan.hpp"

namespace tarnex {

// The value lines of one time step of a file with `parameters` parameters.
constexpr std::uint64_t value_lines_per_step(std::uint64_t parameters) noexcept {
  return (parameters + 9) / 10;
}

// Told of every value line as the index passes it: for a read that converts while it indexes.
class LineVisitor {
 public:
  // Value line `line` of step `step` spans bytes [start, end) of the file, its line end after
  // them (none when `by_line_feed` is false: the file ends there). `text` holds the bytes when
  // they are at hand; it is null for a line that runs across the scan's reads.
  virtual void value_line(std::size_t step, std::uint64_t line, std::uint64_t start,
                          std::uint64_t end, const char* text, bool by_line_feed) = 0;

 protected:
  LineVisitor() = default;
  LineVisitor(const LineVisitor&) = default;
  LineVisitor& operator=(const LineVisitor&) = default;
  ~LineVisitor() = default;
};

// How a scan shares its bytes among threads: `ranges` threads at once, each taking `window`
// bytes at a time. Zero chooses for the machine and the file; tests force small ones.
struct ScanSplit {
  std::size_t ranges = 0;
  std::size_t window = 0;
};

class BlockIndex {
 public:
  // The blocks of a file with `parameters` parameters whose first lead line, line number
  // `first_line`, starts at byte `data_start`.
  BlockIndex(std::uint64_t parameters, std::uint64_t data_start, std::uint64_t first_line);

  // Reads `fd` from the end of the last complete block to the end of the file and indexes the
  // blocks completed there; returns how many. A block is complete when its last line ends in a
  // line feed, or, unless the file is `growing`, at the end of the file. A read error goes to
  // `policy`.
  // `visitor`, when given, is told of each value line on the way. The scan stops once `most`
  // blocks have been added, and reads no byte from `until` on, as if the file ended there.
  // Without a visitor or a limit, the bytes the file has when the scan starts are scanned by
  // several threads, as `split` shares them out.
  std::size_t extend(int fd, bool growing, FailurePolicy& policy,
                     ScanLevel level = best_scan_level(), LineVisitor* visitor = nullptr,
                     std::size_t most = SIZE_MAX, ScanSplit split = {},
                     std::uint64_t until = UINT64_MAX);

  std::size_t steps() const noexcept { return starts_.size(); }
  std::uint64_t value_lines() const noexcept { return value_lines_; }
  // Block `step`'s bytes: [start, end).
  std::uint64_t start(std::size_t step) const noexcept { return starts_[step] & kOffsetBits; }
  std::uint64_t end(std::size_t step) const noexcept {
    return step + 1 < starts_.size() ? start(step + 1) : complete_end_;
  }
  // The number of block `step`'s lead line in the file.
  std::uint64_t lead_line(std::size_t step) const noexcept {
    return first_line_ + static_cast<std::uint64_t>(step) * (value_lines_ + 1);
  }
  // Whether every value line of block `step` has the file's common length and ends in a line
  // feed, so that value line `line` lies at value_line_start(step, line), value_line_length(line)
  // bytes long (a carriage return included), a line feed after it.
  bool regular(std::size_t step) const noexcept { return (starts_[step] & kIrregular) == 0; }
  std::uint64_t value_line_start(std::size_t step, std::uint64_t line) const noexcept;
  std::uint64_t value_line_length(std::uint64_t line) const noexcept {
    return line + 1 < value_lines_ ? full_length_ : last_length_;
  }

  // The end of the last complete block, and of the bytes indexed: what lies between is the
  // start of a block not yet complete.
  std::uint64_t complete_end() const noexcept { return complete_end_; }
  bool has_partial_block() const noexcept { return scanned_end_ > complete_end_; }

 private:
  static constexpr std::uint64_t kIrregular = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kOffsetBits = kIrregular - 1;

  // A line of the block being indexed ends at `end` (its line feed, or the end of the file).
  void end_line(std::uint64_t end, bool by_line_feed);
  // Takes the last block, which the end of the file ended, out of the index, for the scan to
  // index it again from its start as the file now is.
  void reopen_last_block() noexcept;
  // Indexes the lines of bytes [offset, end of the file as it is now) on several threads;
  // returns the offset the scan has reached, `offset` itself when the bytes are too few to
  // share.
  std::uint64_t extend_shared(int fd, std::uint64_t offset, FailurePolicy& policy, ScanLevel level,
                              ScanSplit split);
  // A read of the file failed with `code` at the line the scan stands at.
  [[noreturn, gnu::cold]] void fail_to_read(FailurePolicy& policy, int code) const;
  bool has_common_length(std::uint64_t value_line, std::uint64_t length) noexcept;

  std::uint64_t value_lines_;
  std::uint64_t first_line_;
  std::vector<std::uint64_t> starts_;  // a block's start; the top bit marks an irregular one
  std::uint64_t complete_end_;
  std::uint64_t scanned_end_;
  // Whether the end of the file ended the last block's last line rather than a line feed: a
  // file that has grown since has that line feed, or more of the line, at complete_end_.
  bool ended_by_file_end_ = false;
  // The block being indexed: its start, the start of its line at hand, the lines it has ended.
  std::uint64_t block_start_;
  std::uint64_t line_start_;
  std::uint64_t lines_ended_ = 0;
  bool block_regular_ = true;
  // The value line lengths of the first block, which the later ones are held to: all but the
  // last line of a block, and the last one. Zero until the first block has been seen.
  std::uint64_t full_length_ = 0;
  std::uint64_t last_length_ = 0;
  bool lengths_known_ = false;
};

}  // namespace tarnex
