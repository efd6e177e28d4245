#include "vormant/load_plot.hpp"

#include <new>

#include "reader/read_plot_file.hpp"

namespace tarnex::vormant {
namespace {

LoadedPlot read_rows(std::string_view path, std::optional<std::uint64_t> n_digits) {
  PlotFile file;
  ThrowingFailurePolicy policy(file.names);
  read_plot_file({.path = path, .n_digits = n_digits, .keep_names = true}, policy, file);
  return {std::move(file.names), file.n_digits, std::move(file.data)};
}

}  // namespace

LoadOutcome load_plot(std::string_view path, std::optional<std::uint64_t> n_digits) noexcept {
  try {
    return read_rows(path, n_digits);
  } catch (PlotFileFailure& failure) {
    return std::move(failure);
  } catch (const std::bad_alloc&) {
    return OutOfMemory{};
  } catch (const std::exception& error) {
    return UnexpectedFailure{error.what()};
  } catch (...) {
    return UnexpectedFailure{"unknown exception"};
  }
}

}  // namespace tarnex::vormant
