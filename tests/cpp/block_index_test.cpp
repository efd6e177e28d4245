#include "reader/block_index.hpp"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <variant>

#include "plot_lines.hpp"
#include "reader/thread_split.hpp"
#include "test_support.hpp"
#include "text/line_source.hpp"
#include "vormant/plot_file_failure.hpp"

namespace tarnex {
namespace {

struct LayoutCase {
  std::uint64_t parameters;
  std::size_t steps;
  const char* eol;
};

// Files whose value lines are all alike but in steps 2 and 5, which have spare bytes, and, with
// several value lines, step 3, one line longer and the next shorter, the block as long as the
// others.
class Layout : public ::testing::TestWithParam<LayoutCase> {
 protected:
  void SetUp() override {
    plot_ = testing::make_plot(GetParam().parameters, GetParam().steps, 15, 7);
    plot_.line(plot_.value_line(2, 0)) += "  spare";
    plot_.line(plot_.value_line(5, plot_.value_lines() - 1)) += "x";
    if (plot_.value_lines() > 1) {
      plot_.line(plot_.value_line(3, 0)) += "y";
      plot_.line(plot_.value_line(3, 1)).pop_back();
    }
    offsets_ = plot_.line_offsets(eol_);
  }

  // The index of `text`, a file that the test may append to; the descriptor stays open.
  std::size_t index(const std::string& text, bool growing, ScanLevel level = best_scan_level(),
                    ScanSplit split = {}) {
    path_ = dir_.write("plot" + std::to_string(++files_), text);
    fd_.emplace(std::move(std::get<FileDescriptor>(open_read_only(path_))));
    index_ = BlockIndex(plot_.parameters, offsets_[plot_.parameters + 1], plot_.lead_line(0));
    return extend(growing, level, split);
  }
  std::size_t extend(bool growing, ScanLevel level = best_scan_level(), ScanSplit split = {}) {
    vormant::ThrowingFailurePolicy policy(names_);
    return index_.extend(fd_->get(), growing, policy, level, nullptr, SIZE_MAX, split);
  }
  std::uint64_t block_end(std::size_t step) const {
    return offsets_[plot_.value_line(step, plot_.value_lines() - 1)];
  }
  // The first `steps` blocks at their lead lines; the value lines of a regular block where the
  // index puts them, regular being all but steps 2, 5 and, with several value lines, 3.
  void expect_blocks(std::size_t steps) const {
    ASSERT_EQ(index_.steps(), steps);
    for (std::size_t step = 0; step < steps; ++step) {
      EXPECT_EQ(index_.start(step), offsets_[plot_.lead_line(step) - 1]) << step;
      const bool regular = step != 2 && step != 5 && (step != 3 || plot_.value_lines() == 1);
      EXPECT_EQ(index_.regular(step), regular) << step;
      for (std::uint64_t line = 0; index_.regular(step) && line < plot_.value_lines(); ++line) {
        const std::uint64_t number = plot_.value_line(step, line);
        EXPECT_EQ(index_.value_line_start(step, line), offsets_[number - 1]);
        EXPECT_EQ(index_.value_line_length(line), offsets_[number] - offsets_[number - 1] - 1);
      }
    }
  }

  const std::string eol_ = GetParam().eol;
  const std::size_t steps_ = GetParam().steps;
  testing::PlotLines plot_;
  std::vector<std::uint64_t> offsets_;
  testing::TempDir dir_;
  std::vector<std::string> names_;
  std::string path_;
  int files_ = 0;
  std::optional<FileDescriptor> fd_;
  BlockIndex index_{1, 0, 1};
};

TEST_P(Layout, IndexesTheCompleteBlocksOfEveryEnding) {
  for (const ScanLevel level : supported_scan_levels()) {
    for (const bool growing : {false, true}) {
      EXPECT_EQ(index(plot_.text(eol_), growing, level), steps_) << scan_level_name(level);
      expect_blocks(steps_);
      EXPECT_EQ(index_.complete_end(), offsets_.back());
      EXPECT_FALSE(index_.has_partial_block());
      EXPECT_EQ(extend(growing, level), 0u);
    }
  }
  // A last line without its line feed ends a finished file's last block, not a growing one's.
  for (const bool growing : {false, true}) {
    EXPECT_EQ(index(plot_.text(eol_, false), growing), growing ? steps_ - 1 : steps_);
    EXPECT_EQ(index_.has_partial_block(), growing);
    if (!growing) EXPECT_FALSE(index_.regular(steps_ - 1));
  }
  // A file that ends inside a step: after an empty or a whole lead line, or inside or after
  // the first of several value lines.
  const std::string lead = " TIME STEP" + eol_;
  std::vector<std::string> partials = {eol_, lead};
  if (plot_.value_lines() > 1) {
    const std::string& first = plot_.line(plot_.value_line(0, 0));
    partials.insert(partials.end(), {lead + first.substr(0, 20), lead + first + eol_});
  }
  for (const std::string& partial : partials) {
    for (const bool growing : {false, true}) {
      EXPECT_EQ(index(plot_.text(eol_) + partial, growing), steps_);
      expect_blocks(steps_);
      EXPECT_EQ(index_.complete_end(), offsets_.back());
      EXPECT_TRUE(index_.has_partial_block());
    }
  }
}

void expect_same_index(const BlockIndex& shared, const BlockIndex& alone) {
  ASSERT_EQ(shared.steps(), alone.steps());
  for (std::size_t step = 0; step < alone.steps(); ++step) {
    EXPECT_EQ(shared.start(step), alone.start(step)) << step;
    EXPECT_EQ(shared.regular(step), alone.regular(step)) << step;
  }
  for (std::uint64_t line = 0; alone.steps() != 0 && line < alone.value_lines(); ++line) {
    EXPECT_EQ(shared.value_line_length(line), alone.value_line_length(line)) << line;
  }
  EXPECT_EQ(shared.complete_end(), alone.complete_end());
  EXPECT_EQ(shared.has_partial_block(), alone.has_partial_block());
}

// Threads that each scan a window of the file, the windows as small as a byte, so that window
// ends fall at every offset of the lines: the index is the one a single thread builds, for
// files with and without a final line feed, or ending inside a step, growing or finished.
TEST_P(Layout, SharedScanIndexesAsOneThreadDoes) {
  const std::string text = plot_.text(eol_);
  const std::string lead = " TIME STEP" + eol_;
  const std::vector<std::string> files = {text, plot_.text(eol_, false), text + lead,
                                          text + lead + "  1.0"};
  const bool large = text.size() > 100000;
  for (const std::string& file : files) {
    for (const bool growing : {false, true}) {
      index(file, growing, best_scan_level(), {.ranges = 1});
      const BlockIndex alone = index_;
      for (const std::size_t ranges : {2, 5}) {
        for (const std::size_t window : {1, 7, 4096, 1 << 20}) {
          // A window of a byte costs a round of threads per byte: on two threads, small files.
          if (window < 4096 && (large || (window == 1 && ranges != 2))) continue;
          index(file, growing, best_scan_level(), {.ranges = ranges, .window = window});
          SCOPED_TRACE(::testing::Message() << ranges << " ranges, window " << window);
          expect_same_index(index_, alone);
        }
      }
    }
  }
}

// A growing file written piece by piece, the pieces ending anywhere, around line ends too:
// each look indexes exactly the blocks whose last line feed has arrived since the last.
TEST_P(Layout, IndexesAGrowingFileBlockByBlock) {
  const std::string text = plot_.text(eol_);
  std::vector<std::uint64_t> cuts = {text.size()};
  const std::uint64_t spread = std::max<std::size_t>(97, text.size() / 300);
  for (std::uint64_t cut = offsets_[plot_.parameters + 1]; cut < text.size();
       cut += 1 + cut * 7919 % spread) {
    cuts.push_back(cut);
  }
  for (std::uint64_t cut = block_end(1) - 2; cut <= block_end(1) + 1; ++cut) cuts.push_back(cut);
  std::sort(cuts.begin(), cuts.end());
  index(text.substr(0, cuts[0]), true);
  std::size_t complete = 0;
  for (std::size_t i = 1; i < cuts.size(); ++i) {
    std::ofstream(path_, std::ios::binary | std::ios::app)
        << text.substr(cuts[i - 1], cuts[i] - cuts[i - 1]);
    const std::size_t before = complete;
    while (complete < steps_ && block_end(complete) <= cuts[i]) ++complete;
    ASSERT_EQ(extend(true), complete - before) << "written up to " << cuts[i];
  }
  expect_blocks(steps_);
}

// A finished file whose last line lacks its line feed, and which then grows by that line feed
// and more steps: indexed again, its blocks are those of the whole file, the first one too.
TEST_P(Layout, IndexesAgainALastBlockTheEndOfTheFileEnded) {
  const std::string text = plot_.text(eol_);
  for (const std::size_t kept : {std::size_t{1}, steps_ - 1}) {
    const std::uint64_t cut = block_end(kept - 1) - 1;  // its last line feed
    ASSERT_EQ(index(text.substr(0, cut), false), kept);
    EXPECT_EQ(extend(false), 0u);
    EXPECT_EQ(index_.complete_end(), cut);
    std::ofstream(path_, std::ios::binary | std::ios::app) << text.substr(cut);
    EXPECT_EQ(extend(false), steps_ - kept) << kept;
    expect_blocks(steps_);
    EXPECT_EQ(index_.complete_end(), offsets_.back());
  }
}

// 6000 steps of 11 parameters pass the megabyte the index reads at a time.
INSTANTIATE_TEST_SUITE_P(BlockIndex, Layout,
                         ::testing::Values(LayoutCase{1, 9, "\n"}, LayoutCase{10, 9, "\r\n"},
                                           LayoutCase{11, 7, "\n"}, LayoutCase{25, 8, "\r\n"},
                                           LayoutCase{11, 6000, "\n"}));

// Parts that finish later ones first, or earlier ones first, some failing: the rows are shared
// out in order, and the earliest failing part's exception is the one thrown.
TEST(ThreadSplit, EarliestFailingPartWinsWhateverTheOrderTheyFinishIn) {
  const std::vector<std::vector<std::size_t>> failing_sets = {
      {}, {0}, {3}, {1, 4}, {2, 5, 7}, {0, 1, 2, 3, 4, 5, 6, 7}};
  for (const std::size_t parts : {1, 2, 5, 8}) {
    for (const auto& failing : failing_sets) {
      for (const bool later_first : {true, false}) {
        std::atomic<std::size_t> finished = 0;
        std::mutex mutex;
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        auto fails = [&](std::size_t p) {
          return std::find(failing.begin(), failing.end(), p) != failing.end();
        };
        std::string thrown = "none";
        try {
          run_split(100, parts, [&](std::size_t begin, std::size_t end, const std::atomic<bool>&) {
            const std::size_t part = begin * parts / 100 + (begin * parts % 100 != 0);
            const std::size_t turn = later_first ? parts - 1 - part : part;
            for (std::size_t seen = finished; seen < turn; seen = finished) finished.wait(seen);
            {
              std::lock_guard hold(mutex);
              ranges.emplace_back(begin, end);
            }
            ++finished;
            finished.notify_all();
            if (fails(part)) throw std::runtime_error(std::to_string(part));
          });
        } catch (const std::runtime_error& error) {
          thrown = error.what();
        }
        std::size_t earliest = parts;
        for (std::size_t p = parts; p-- > 0;) earliest = fails(p) ? p : earliest;
        EXPECT_EQ(thrown, earliest < parts ? std::to_string(earliest) : "none");
        std::sort(ranges.begin(), ranges.end());
        ASSERT_EQ(ranges.size(), parts);
        for (std::size_t p = 0; p < parts; ++p) {
          EXPECT_EQ(ranges[p].first, p == 0 ? 0 : ranges[p - 1].second);
        }
        EXPECT_EQ(ranges.back().second, 100u);
      }
    }
  }
}

}  // namespace
}  // namespace tarnex
