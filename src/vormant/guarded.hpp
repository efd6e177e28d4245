// Running reader code from the interpreter: without its lock, and with every way the code can
// end made the matching Python exception.
#pragma once

#include <exception>
#include <new>
#include <string_view>
#include <type_traits>
#include <variant>

#include "boundary/py_compat.hpp"
#include "vormant/outcome.hpp"
#include "vormant/raise_failure.hpp"

namespace tarnex::vormant {

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
  if (auto* fault = std::get_if<ArgumentFault>(&outcome)) return raise_argument_fault(*fault);
  return PyErr_NoMemory();
}

}  // namespace tarnex::vormant
