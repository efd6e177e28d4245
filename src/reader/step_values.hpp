// The value lines of a time step, read a run of lines per kernel call where they are regular.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/read_failure.hpp"
#include "text/line_source.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex {

// The fields at start + offsets[0 .. count) (count at least kBlockMinimumFields, 16 bytes
// readable from each) as binary32 into out: the block kernel, then the exact path for each
// field it refused. False when one of them is no number or holds a line feed: where fields
// cover their lines, a refused field is the one place a stray line feed can hide. `refused`
// has room for refused_group_capacity(count).
bool convert_block_exactly(const FastFieldConverter& convert_fast, const char* start,
                           const std::uint32_t* offsets, std::size_t count, std::size_t width,
                           float* out, RefusedGroup* refused);

// Reads the value lines of the time steps of one file. Where the lines of a step lie whole in
// the chunk at hand and have their regular lengths (ten fields of the width to a line, the
// last line the rest), their fields are converted in one call over the run, at offsets computed
// once per file. The fields the kernel refuses are settled after it, each by the exact path;
// a run holding a field that is no number is read again line by line, so that every failure,
// and its order, is the one the line-by-line reader meets.
class StepValues {
 public:
  StepValues(std::uint64_t parameters, std::uint64_t width, const FastFieldConverter& convert_fast);

  // The values of the time step whose lead line, line `step_line`, was just taken, into
  // row[0 .. parameters).
  void read(LineSource& source, std::uint64_t step_line, float* row, FailurePolicy& policy);

  // How many of the next time steps, up to `most`, lie whole and regular in the chunk at hand
  // and can be read at once: 0 where the next one cannot, or where steps are too long to
  // gather. Steps are gathered only for files of few parameters, where the calls per step
  // would cost as much as the values.
  std::size_t whole_steps_ahead(LineSource& source, std::size_t most);
  // Reads the steps whole_steps_ahead() just found, lead lines included, into
  // rows[0 .. steps * parameters); false, having taken nothing, when a field is no number: the
  // steps are then to be read one by one, which meets the failures in order.
  bool read_whole_steps(LineSource& source, float* rows);

 private:
  // The fields of `run`, which begins a step's value line, into out[0 .. count); false when one
  // of them is no number.
  bool convert_run(const LineRun& run, std::size_t count, float* out);
  // Makes gathered_offsets_ hold the offsets of the gathered steps' fields.
  void lay_out_gathered_fields();
  // Value line `line` (0-based) of the step, the next line of `source`, through the exact path.
  void read_line(LineSource& source, std::uint64_t step_line, std::uint64_t line, float* row,
                 FailurePolicy& policy) const;

  std::uint64_t parameters_;
  std::uint64_t width_;
  const FastFieldConverter& convert_fast_;
  std::uint64_t lines_;  // value lines per step
  bool blocks_ = false;  // whether runs go through the block kernel
  std::size_t full_length_ = 0;
  std::size_t last_length_ = 0;
  // The offset of each field from the start of the run's first line, for runs whose lines end
  // in LF ([0]) or CR LF ([1]); a run always starts at a line's start.
  std::vector<std::uint32_t> offsets_[2];
  std::vector<RefusedGroup> refused_;  // room for a run or for the gathered steps
  // The steps whole_steps_ahead() found: their lines, where each step's values start, and the
  // offsets of all their fields from the run's start.
  std::size_t most_gathered_ = 0;
  LineRun gathered_;
  std::size_t gathered_steps_ = 0;
  std::vector<std::uint32_t> value_starts_;
  std::vector<std::uint32_t> gathered_offsets_;
  // What gathered_offsets_ holds: the steps' first value start, their stride and line end,
  // for laid_out_steps_ steps (none when the last steps were not evenly spaced).
  struct LaidOut {
    std::uint32_t first = 0;
    std::uint32_t stride = 0;
    std::size_t terminator = 0;
    bool operator==(const LaidOut&) const = default;
  };
  LaidOut laid_out_;
  std::size_t laid_out_steps_ = 0;
};

}  // namespace tarnex
