// Running reader code from the interpreter: every way it can end becomes a value, so that no
// C++ exception reaches Python, and the failures become the matching Python exceptions.
#pragma once

#include <exception>
#include <new>
#include <string_view>
#include <type_traits>
#include <variant>

#include "boundary/py_compat.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/raise_failure.hpp"

namespace tarnex::vormant {

template <class Result>
using Outcome = std::variant<Result, PlotFileFailure, OutOfMemory, UnexpectedFailure>;

struct Done {};  // the result of work that returns nothing

// Runs `work` and catches whatever it throws.
template <class Work>
auto guarded(Work&& work) noexcept {
  using Returned = std::invoke_result_t<Work&>;
  using Result = std::conditional_t<std::is_void_v<Returned>, Done, Returned>;
  try {
    if constexpr (std::is_void_v<Returned>) {
      work();
      return Outcome<Result>(Done{});
    } else {
      return Outcome<Result>(work());
    }
  } catch (PlotFileFailure& failure) {
    return Outcome<Result>(std::move(failure));
  } catch (const std::bad_alloc&) {
    return Outcome<Result>(OutOfMemory{});
  } catch (const std::exception& error) {
    return Outcome<Result>(UnexpectedFailure{error.what()});
  } catch (...) {
    return Outcome<Result>(UnexpectedFailure{"unknown exception"});
  }
}

// Runs `body` with the interpreter lock released; `body` must not touch Python objects.
template <class Body>
auto without_interpreter_lock(Body&& body) noexcept {
  PyThreadState* saved = PyEval_SaveThread();
  auto outcome = body();
  PyEval_RestoreThread(saved);
  return outcome;
}

// Raises the failure an outcome holds (which must not be its result), for the file at `path`.
template <class Result>
PyObject* raise_outcome(const Outcome<Result>& outcome, std::string_view path) noexcept {
  if (auto* failure = std::get_if<PlotFileFailure>(&outcome)) {
    return raise_plot_file_failure(*failure, path);
  }
  if (auto* unexpected = std::get_if<UnexpectedFailure>(&outcome)) {
    return raise_unexpected(*unexpected);
  }
  return PyErr_NoMemory();
}

}  // namespace tarnex::vormant
