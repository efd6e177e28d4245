#include "vormant/partition_functions.hpp"

#include <cstdint>
#include <limits>
#include <vector>

#include "vormant/guarded.hpp"
#include "vormant/module_support.hpp"
#include "vormant/partition_read.hpp"
#include "vormant/plot_file_type.hpp"

namespace tarnex::vormant {
namespace {

// The largest count or offset: a file's size and offsets fit an off_t.
constexpr std::uint64_t kLargestOffset = std::numeric_limits<std::int64_t>::max();

// Counts and offsets: ints from 0 to kLargestOffset. False with an exception set otherwise.
bool unsigned_arguments(PyObject* const* args, Py_ssize_t count, std::uint64_t* values) noexcept {
  for (Py_ssize_t i = 0; i < count; ++i) {
    values[i] = PyLong_AsUnsignedLongLong(args[i]);
    if (values[i] == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr) return false;
    if (values[i] > kLargestOffset) {
      PyErr_Format(PyExc_OverflowError, "%R is too large for a count or an offset in a file",
                   args[i]);
      return false;
    }
  }
  return true;
}

// layout(path, /) -> (names, offset of the first step)
PyObject* layout(PyObject*, PyObject* arg) noexcept {
  std::string_view path;
  if (!path_argument(arg, path)) return nullptr;
  auto outcome = without_interpreter_lock([&] { return guarded([&] { return read_layout(path); }); });
  auto* read = std::get_if<FileLayout>(&outcome);
  if (read == nullptr) return raise_outcome(outcome, path);
  PyObject* names = names_tuple(read->names);
  if (names == nullptr) return nullptr;
  return Py_BuildValue("(NK)", names, static_cast<unsigned long long>(read->data_start));
}

// count_feeds(path, begin, end, /) -> (line feeds, whether the last byte is one)
PyObject* count_line_feeds(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::uint64_t range[2];
  if (!arity("count_feeds", nargs, 3) || !path_argument(args[0], path) ||
      !unsigned_arguments(args + 1, 2, range)) {
    return nullptr;
  }
  if (range[0] > range[1]) {
    return PyErr_Format(PyExc_ValueError, "begin (%llu) is after end (%llu)",
                        static_cast<unsigned long long>(range[0]),
                        static_cast<unsigned long long>(range[1]));
  }
  auto outcome = without_interpreter_lock(
      [&] { return guarded([&] { return count_feeds(path, range[0], range[1]); }); });
  auto* feeds = std::get_if<LineFeeds>(&outcome);
  if (feeds == nullptr) return raise_outcome(outcome, path);
  return Py_BuildValue("(KO)", static_cast<unsigned long long>(feeds->count),
                       feeds->ends_with_feed ? Py_True : Py_False);
}

// read_part(path, n_digits, columns, begin, feeds_before, first_step, steps, checks_end, /)
//   -> (names, n_digits, values)
PyObject* read_part(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  std::optional<std::vector<std::uint64_t>> columns;
  std::uint64_t numbers[4];
  if (!arity("read_part", nargs, 8) || !path_argument(args[0], path) ||
      !width_argument(args[1], width) || !columns_argument(args[2], columns) ||
      !unsigned_arguments(args + 3, 4, numbers)) {
    return nullptr;
  }
  const int checks_end = PyObject_IsTrue(args[7]);
  if (checks_end < 0) return nullptr;
  const Partition part{.begin = numbers[0],
                       .feeds_before = numbers[1],
                       .first_step = numbers[2],
                       .steps = numbers[3],
                       .checks_end = checks_end != 0};
  auto outcome = without_interpreter_lock([&] {
    return guarded([&] {
      std::optional<std::span<const std::uint64_t>> chosen;
      if (columns) chosen = *columns;
      return read_partition(path, width, chosen, part);
    });
  });
  auto* plot = std::get_if<LoadedPlot>(&outcome);
  if (plot == nullptr) return raise_outcome(outcome, path);
  return result_of(module, *plot);
}

// time_of_step(path, n_digits, begin, feeds_before, step, /) -> float
PyObject* step_time(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  std::uint64_t numbers[3];
  if (!arity("time_of_step", nargs, 5) || !path_argument(args[0], path) ||
      !width_argument(args[1], width) || !unsigned_arguments(args + 2, 3, numbers)) {
    return nullptr;
  }
  auto outcome = without_interpreter_lock([&] {
    return guarded([&] { return time_of_step(path, width, numbers[0], numbers[1], numbers[2]); });
  });
  auto* time = std::get_if<float>(&outcome);
  if (time == nullptr) return raise_outcome(outcome, path);
  return PyFloat_FromDouble(*time);
}

template <class Function>
PyCFunction fastcall(Function function) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

PyMethodDef partition_methods[] = {
    {"layout", &layout, METH_O, "layout(path, /): (names, offset of the first step)."},
    {"count_feeds", fastcall(&count_line_feeds), METH_FASTCALL,
     "count_feeds(path, begin, end, /): (line feeds, whether the last byte is one)."},
    {"read_part", fastcall(&read_part), METH_FASTCALL,
     "read_part(path, n_digits, columns, begin, feeds_before, first_step, steps, checks_end, /)"},
    {"time_of_step", fastcall(&step_time), METH_FASTCALL,
     "time_of_step(path, n_digits, begin, feeds_before, step, /): the step's time."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarnex::vormant
