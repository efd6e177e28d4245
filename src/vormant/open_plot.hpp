// A plot file held open for vormant: its header, its block index and the reads of any part of
// it, none of which touches the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/block_index.hpp"
#include "reader/column_plan.hpp"
#include "reader/file_mapping.hpp"
#include "vormant/plot_preamble.hpp"
#include "reader/plot_data.hpp"
#include "reader/range_reader.hpp"
#include "text/line_source.hpp"
#include "text/simd/fast_fields.hpp"

namespace tarnex::vormant {

// A read chooses a thread per this many bytes of the file (or the same work on fewer bytes), up
// to the processors it may use: a smaller share is over before a thread pays for itself.
inline constexpr std::uint64_t kBytesPerThread = std::uint64_t{4} << 20;

class OpenPlot {
 public:
  // Opens the file at `path` (bytes, no NUL), reads its header and indexes its blocks. Without
  // `n_digits` the first value line tells the width; a growing file without a complete block
  // leaves it unknown until one arrives. Failures are thrown as PlotFileFailure.
  OpenPlot(std::string_view path, std::optional<std::uint64_t> n_digits, bool growing);
  // The same, for a file already opened and its header read (its name lines `names`).
  OpenPlot(OpenedPlot opened, std::vector<std::string> names, std::optional<std::uint64_t> n_digits,
           bool growing);

  const std::vector<std::string>& names() const noexcept { return names_; }
  std::optional<std::uint64_t> n_digits() const noexcept { return n_digits_; }
  std::size_t steps() const noexcept { return index_.steps(); }

  // Indexes the blocks completed since the last look; returns how many.
  std::size_t refresh();
  // Throws the failure of a block the file ends inside, unless the file is growing.
  void check_complete() const;
  // The selected steps and columns as rows of a block, read by `threads` threads (0 chooses).
  PlotData read(const StepSelection& steps, const ColumnPlan& plan, std::size_t threads) const;
  // Steps first .. first + count - 1, all indexed, copied as text to `target` (see copy_steps).
  // Returns 0, or the errno of the write that failed.
  int copy_steps(std::size_t first, std::size_t count, int target,
                 std::uint64_t first_number) const;

 private:
  // Indexes the blocks of the file opened, learns its width and maps the bytes indexed.
  void index_opened(OpenedPlot opened, FailurePolicy& policy);
  void learn_width();
  void map_indexed_bytes();

  std::vector<std::string> names_;  // first: the failures of opening name what is read
  FileDescriptor file_{-1};
  bool growing_;
  std::uint64_t parameters_ = 0;
  std::optional<std::uint64_t> n_digits_;
  BlockIndex index_{1, 0, 1};             // replaced once the header is read
  std::unique_ptr<FileMapping> mapping_;  // of the bytes indexed
};

}  // namespace tarnex::vormant
