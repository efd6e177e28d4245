// Micro-benchmarks of the reader's pieces: the binary32 conversion of plot file fields (against
// fast_float's from_chars and strtof), the UTF-8 check and the line source in bytes per second,
// and whole plot files read into PlotData without an interpreter.
//
//   tarnex_micro_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <fast_float/fast_float.h>
#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_data.hpp"
#include "reader/read_plot_file.hpp"
#include "text/line_source.hpp"
#include "text/numbers.hpp"
#include "text/simd/fast_fields.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace tarnex::bench {
namespace {

constexpr std::size_t kFieldCount = 4096;

// A set of fields of one width, as the reader meets them (padded) and trimmed.
struct FieldSet {
  std::string block;
  std::vector<std::string_view> padded;
  std::vector<std::string_view> trimmed;
  std::vector<std::string> terminated;  // for strtof

  FieldSet(int width, Magnitudes magnitudes)
      : block(field_block(width, kFieldCount, magnitudes, 7)) {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      padded.push_back(std::string_view(block).substr(i * width, width));
      trimmed.push_back(trim_whitespace(padded.back()));
      terminated.emplace_back(trimmed.back());
    }
  }
};

const FieldSet& fields(int width, Magnitudes magnitudes) {
  static const FieldSet typical12(12, Magnitudes::Typical);
  static const FieldSet typical15(15, Magnitudes::Typical);
  static const FieldSet wide12(12, Magnitudes::Wide);
  static const FieldSet wide15(15, Magnitudes::Wide);
  if (magnitudes == Magnitudes::Typical) return width == 12 ? typical12 : typical15;
  return width == 12 ? wide12 : wide15;
}

Magnitudes magnitudes_of(const benchmark::State& state) {
  return state.range(1) == 0 ? Magnitudes::Typical : Magnitudes::Wide;
}

void label(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFieldCount);
  state.SetLabel(std::to_string(state.range(0)) + "-char " +
                 (state.range(1) == 0 ? "typical" : "wide-range"));
}

// The reader's own entry: a padded field, trimmed and converted.
void BM_Binary32_Tarnex(benchmark::State& state) {
  const FieldSet& set = fields(static_cast<int>(state.range(0)), magnitudes_of(state));
  for (auto _ : state) {
    for (const std::string_view field : set.padded) {
      benchmark::DoNotOptimize(parse_binary32_field(field));
    }
  }
  label(state);
}

// fast_float's from_chars on the trimmed text (its own fast path for small exponents included).
void BM_Binary32_FastFloat(benchmark::State& state) {
  const FieldSet& set = fields(static_cast<int>(state.range(0)), magnitudes_of(state));
  for (auto _ : state) {
    for (const std::string_view text : set.trimmed) {
      float value;
      benchmark::DoNotOptimize(
          fast_float::from_chars(text.data(), text.data() + text.size(), value));
      benchmark::DoNotOptimize(value);
    }
  }
  label(state);
}

void BM_Binary32_Strtof(benchmark::State& state) {
  const FieldSet& set = fields(static_cast<int>(state.range(0)), magnitudes_of(state));
  for (auto _ : state) {
    for (const std::string& text : set.terminated) {
      benchmark::DoNotOptimize(std::strtof(text.c_str(), nullptr));
    }
  }
  label(state);
}

void field_arguments(benchmark::internal::Benchmark* benchmark) {
  for (const int width : {12, 15}) {
    for (const int wide : {0, 1}) benchmark->Args({width, wide});
  }
}

BENCHMARK(BM_Binary32_Tarnex)->Apply(field_arguments);
BENCHMARK(BM_Binary32_FastFloat)->Apply(field_arguments);
BENCHMARK(BM_Binary32_Strtof)->Apply(field_arguments);

// Whole lines of ten fields at once by the fast conversion at one kernel level (argument 2:
// the index in supported_simd_levels(); levels this processor lacks are skipped).
void BM_FastFields(benchmark::State& state) {
  const FieldSet& set = fields(static_cast<int>(state.range(0)), magnitudes_of(state));
  const std::span<const SimdLevel> levels = supported_simd_levels();
  const auto index = static_cast<std::size_t>(state.range(2));
  if (index >= levels.size()) {
    state.SkipWithError("level not supported here");
    return;
  }
  const SimdLevel level = levels[index];
  const auto width = static_cast<std::size_t>(state.range(0));
  constexpr std::size_t kPerLine = 10;
  const std::size_t line_length = kPerLine * width;
  float values[kPerLine];
  std::size_t taken = 0;
  for (auto _ : state) {
    for (std::size_t start = 0; start + line_length <= set.block.size(); start += line_length) {
      taken += static_cast<std::size_t>(std::popcount(convert_fast_fields_at(
          level, set.block.data() + start, line_length, kPerLine, width, values)));
      benchmark::DoNotOptimize(values);
    }
  }
  benchmark::DoNotOptimize(taken);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(set.block.size() / line_length * kPerLine));
  state.SetLabel(std::to_string(width) + "-char " +
                 (state.range(1) == 0 ? "typical " : "wide-range ") +
                 std::string(simd_level_name(level)));
}

void fast_field_arguments(benchmark::internal::Benchmark* benchmark) {
  for (const int width : {12, 15}) {
    for (const int wide : {0, 1}) {
      for (const int level : {0, 1, 2}) benchmark->Args({width, wide, level});
    }
  }
}
BENCHMARK(BM_FastFields)->Apply(fast_field_arguments);

// The trim of a padded field alone.
void BM_TrimField(benchmark::State& state) {
  const FieldSet& set = fields(static_cast<int>(state.range(0)), Magnitudes::Typical);
  for (auto _ : state) {
    for (const std::string_view field : set.padded) {
      benchmark::DoNotOptimize(trim_whitespace(field));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFieldCount);
}
BENCHMARK(BM_TrimField)->Arg(12)->Arg(15);

// The UTF-8 check over ASCII text: value lines of 121 bytes one by one, and a whole megabyte
// (argument 0).
void BM_Utf8Check(benchmark::State& state) {
  const std::string text = field_block(12, (1 << 20) / 12, Magnitudes::Typical, 3);
  const std::string_view all(text);
  const std::size_t line_length =
      state.range(0) == 0 ? all.size() : static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    for (std::size_t start = 0; start + line_length <= all.size(); start += line_length) {
      benchmark::DoNotOptimize(is_valid_utf8(all.substr(start, line_length)));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(all.size() / line_length * line_length));
}
BENCHMARK(BM_Utf8Check)->Arg(121)->Arg(0);

// A scratch directory with the plot files of the whole-file benchmarks, removed at exit.
class PlotFiles {
 public:
  PlotFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnex-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
  }
  ~PlotFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The path of a plot file of this shape, written on first use.
  std::string path(int parameters, int steps, int width) {
    std::string name = "p";
    name.append(std::to_string(parameters)).append("_t").append(std::to_string(steps));
    name.append("_n").append(std::to_string(width)).append(".plt");
    const std::filesystem::path file = dir_ / name;
    if (!std::filesystem::exists(file)) {
      write_file(file.string(), plot_file_text(parameters, steps, width, 11));
    }
    return file.string();
  }

 private:
  std::filesystem::path dir_;
};

PlotFiles& plot_files() {
  static PlotFiles files;
  return files;
}

// Lines delivered by the line source, UTF-8 check included, in bytes of the file per second;
// the argument is the level of the chunk scan (0 portable, 1 SSE2, 2 AVX2).
void BM_LineSource(benchmark::State& state) {
  const auto levels = supported_scan_levels();
  const auto level_index = static_cast<std::size_t>(state.range(0));
  if (level_index >= levels.size()) {
    state.SkipWithError("this processor does not run that level");
    return;
  }
  state.SetLabel(scan_level_name(levels[level_index]));
  const std::string path = plot_files().path(200, 2000, 15);
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
  for (auto _ : state) {
    auto opened = LineSource::open(path, levels[level_index]);
    LineSource& source = std::get<LineSource>(opened);
    std::string_view line;
    std::size_t lines = 0;
    while (source.next(line) == LineStatus::Line) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_LineSource)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Whole plot files into PlotData; items are values. The shapes of the Python benchmark, the
// last one with a tenth of its time steps.
void BM_ReadPlotFile(benchmark::State& state) {
  const int parameters = static_cast<int>(state.range(0));
  const int steps = static_cast<int>(state.range(1));
  const int width = static_cast<int>(state.range(2));
  const std::string path = plot_files().path(parameters, steps, width);
  for (auto _ : state) {
    PlotData data = read_plot_file(path, static_cast<std::uint64_t>(width));
    benchmark::DoNotOptimize(data.values.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * parameters * steps);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReadPlotFile)
    ->Args({12, 20000, 12})
    ->Args({200, 5000, 15})
    ->Args({2000, 500, 12})
    ->Args({100, 20000, 12})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnex::bench

BENCHMARK_MAIN();
