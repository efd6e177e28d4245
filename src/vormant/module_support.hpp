// What the functions of vormant._reader share: the module's state, their common arguments, and
// a file read turned into its Python result.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "boundary/py_compat.hpp"
#include "vormant/guarded.hpp"
#include "vormant/load_plot.hpp"

namespace tarnex::vormant {

struct ModuleState {
  PyObject* values_type;
  PyObject* plot_file_type;
};

ModuleState* state_of(PyObject* module) noexcept;

namespace detail {

// integer_argument for the two ints it reads: a long long, or an unsigned long long.
bool int_within(PyObject* object, const char* name, long long least, long long most,
                long long& value) noexcept;
bool int_within(PyObject* object, const char* name, unsigned long long least,
                unsigned long long most, unsigned long long& value) noexcept;

}  // namespace detail

// An int argument `name` from `least` to `most`, as an Integer. TypeError for anything else (a
// bool too), ValueError below `least`, OverflowError above `most` or outside what Integer holds
// (a negative int for an unsigned Integer). False with the exception set.
template <class Integer>
bool integer_argument(PyObject* object, const char* name, Integer& value, Integer least = 0,
                      Integer most = std::numeric_limits<Integer>::max()) noexcept {
  static_assert(std::is_integral_v<Integer> && sizeof(Integer) <= sizeof(long long));
  using Wide = std::conditional_t<std::is_signed_v<Integer>, long long, unsigned long long>;
  Wide wide = 0;
  if (!detail::int_within(object, name, static_cast<Wide>(least), static_cast<Wide>(most), wide)) {
    return false;
  }
  value = static_cast<Integer>(wide);
  return true;
}

// n_digits: one of the field widths (kFieldWidths), or None (the width the file tells) unless
// `fixed`. False with an exception set when it is none of these.
bool width_argument(PyObject* object, std::optional<std::uint64_t>& width,
                    bool fixed = false) noexcept;

// path: bytes without NUL. False with an exception set otherwise.
bool path_argument(PyObject* object, std::string_view& path) noexcept;

// fd: a file descriptor, or an object with fileno(). False with an exception set otherwise.
bool fd_argument(PyObject* object, int& fd) noexcept;

// columns: None (every column), or a tuple of parameter indices, each an int from 1 on (0 is
// the time). Whether the file has them is for the read to tell. False with an exception set
// otherwise.
bool columns_argument(PyObject* object,
                      std::optional<std::vector<std::uint64_t>>& columns) noexcept;

// Whether a function of `name` got the `wanted` number of arguments; TypeError set if not.
bool arity(const char* name, Py_ssize_t nargs, Py_ssize_t wanted) noexcept;

// A tuple of make(item) for each of `items`; null with an exception set when one fails.
template <class Items, class Make>
PyObject* tuple_of(const Items& items, Make make) noexcept {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = make(items[i]);
    if (item == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), item);
  }
  return tuple;
}

// (names, n_digits, values) for a file read; takes over its values.
PyObject* result_of(PyObject* module, LoadedPlot& plot) noexcept;

// `load()` run without the interpreter lock, its plot as result_of gives it or its failure
// raised for the file at `path`.
template <class Load>
PyObject* plot_result(PyObject* module, std::string_view path, Load&& load) noexcept {
  PyThreadState* saved = PyEval_SaveThread();
  LoadOutcome outcome = load();
  PyEval_RestoreThread(saved);
  if (auto* plot = std::get_if<LoadedPlot>(&outcome)) return result_of(module, *plot);
  return raise_outcome(outcome, path);
}

}  // namespace tarnex::vormant
