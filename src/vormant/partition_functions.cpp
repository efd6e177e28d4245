#include "vormant/partition_functions.hpp"

#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "vormant/guarded.hpp"
#include "vormant/module_support.hpp"
#include "vormant/partition_plan.hpp"
#include "vormant/partition_read.hpp"
#include "vormant/plot_file_type.hpp"

namespace tarnex::vormant {
namespace {

// The largest count or offset: a file's size and offsets fit an off_t.
constexpr std::uint64_t kLargestOffset = std::numeric_limits<std::int64_t>::max();

// A count or an offset in a file: an int from 0 to kLargestOffset.
bool offset_argument(PyObject* object, const char* name, std::uint64_t& value) noexcept {
  return integer_argument(object, name, value, std::uint64_t{0}, kLargestOffset);
}

// One range of plan_parts' arguments: its begin and end, and the (line feeds, whether the last
// byte is one) count_feeds gave for it. False with an exception set when they are not that.
bool counted_range(PyObject* begin, PyObject* end, PyObject* counted,
                   CountedRange& range) noexcept {
  if (!PyTuple_Check(counted) || PyTuple_GET_SIZE(counted) != 2) {
    PyErr_SetString(PyExc_TypeError,
                    "counts must hold pairs (line feeds, whether the last byte is one)");
    return false;
  }
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t feeds = 0;
  if (!offset_argument(begin, "begin", first) || !offset_argument(end, "end", last) ||
      !offset_argument(PyTuple_GET_ITEM(counted, 0), "line feeds", feeds)) {
    return false;
  }
  const int ends_with_feed = PyObject_IsTrue(PyTuple_GET_ITEM(counted, 1));
  if (ends_with_feed < 0) return false;
  range = {.bytes = {first, last}, .feeds = {feeds, ends_with_feed != 0}};
  return true;
}

// begins, ends, counts: tuples as long as each other, of the ranges of one file and their
// counts. False with an exception set when they are not that.
bool counted_ranges(PyObject* const* args, std::vector<CountedRange>& ranges) noexcept {
  for (int i = 0; i < 3; ++i) {
    if (!PyTuple_Check(args[i])) {
      PyErr_Format(PyExc_TypeError, "plan_parts() argument %d must be a tuple, not %.200s", i + 1,
                   Py_TYPE(args[i])->tp_name);
      return false;
    }
  }
  const Py_ssize_t count = PyTuple_GET_SIZE(args[0]);
  if (PyTuple_GET_SIZE(args[1]) != count || PyTuple_GET_SIZE(args[2]) != count) {
    PyErr_SetString(PyExc_ValueError, "begins, ends and counts must be as long as each other");
    return false;
  }
  try {
    ranges.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!counted_range(PyTuple_GET_ITEM(args[0], i), PyTuple_GET_ITEM(args[1], i),
                       PyTuple_GET_ITEM(args[2], i), ranges[static_cast<std::size_t>(i)])) {
      return false;
    }
  }
  return true;
}

// (begin, feeds_before, first_step, steps, checks_end), read_part's arguments of the same names.
PyObject* partition_tuple(const Partition& part) noexcept {
  return Py_BuildValue("(KKKKO)", static_cast<unsigned long long>(part.begin),
                       static_cast<unsigned long long>(part.feeds_before),
                       static_cast<unsigned long long>(part.first_step),
                       static_cast<unsigned long long>(part.steps),
                       part.checks_end ? Py_True : Py_False);
}

// (parts, last): a tuple of partition_tuple, and one or None.
PyObject* plan_tuple(const PartPlan& plan) noexcept {
  PyObject* parts = tuple_of(plan.parts, partition_tuple);
  if (parts == nullptr) return nullptr;
  PyObject* last = plan.last ? partition_tuple(*plan.last) : Py_NewRef(Py_None);
  if (last == nullptr) {
    Py_DECREF(parts);
    return nullptr;
  }
  return Py_BuildValue("(NN)", parts, last);
}

// (begins, ends) of `ranges`.
PyObject* ranges_tuple(const std::vector<ByteRange>& ranges) noexcept {
  PyObject* begins = tuple_of(
      ranges, [](const ByteRange& range) { return PyLong_FromUnsignedLongLong(range.begin); });
  if (begins == nullptr) return nullptr;
  PyObject* ends = tuple_of(
      ranges, [](const ByteRange& range) { return PyLong_FromUnsignedLongLong(range.end); });
  if (ends == nullptr) {
    Py_DECREF(begins);
    return nullptr;
  }
  return Py_BuildValue("(NN)", begins, ends);
}

// layout(path, /) -> (names, offset of the first step)
PyObject* layout(PyObject*, PyObject* arg) noexcept {
  std::string_view path;
  if (!path_argument(arg, path)) return nullptr;
  auto outcome =
      without_interpreter_lock([&] { return guarded([&] { return read_layout(path); }); });
  auto* read = std::get_if<FileLayout>(&outcome);
  if (read == nullptr) return raise_outcome(outcome, path);
  PyObject* names = names_tuple(read->names);
  if (names == nullptr) return nullptr;
  return Py_BuildValue("(NK)", names, static_cast<unsigned long long>(read->data_start));
}

// count_feeds(path, begin, end, /) -> (line feeds, whether the last byte is one)
PyObject* count_line_feeds(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  if (!arity("count_feeds", nargs, 3) || !path_argument(args[0], path) ||
      !offset_argument(args[1], "begin", begin) || !offset_argument(args[2], "end", end)) {
    return nullptr;
  }
  if (begin > end) {
    return PyErr_Format(PyExc_ValueError, "begin (%llu) is after end (%llu)",
                        static_cast<unsigned long long>(begin),
                        static_cast<unsigned long long>(end));
  }
  auto outcome = without_interpreter_lock(
      [&] { return guarded([&] { return count_feeds(path, begin, end); }); });
  auto* feeds = std::get_if<LineFeeds>(&outcome);
  if (feeds == nullptr) return raise_outcome(outcome, path);
  return Py_BuildValue("(KO)", static_cast<unsigned long long>(feeds->count),
                       feeds->ends_with_feed ? Py_True : Py_False);
}

// part_ranges(path, size, /) -> (begins, ends) of the ranges of `size` bytes of the steps
PyObject* ranges_of_parts(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::uint64_t size = 0;
  if (!arity("part_ranges", nargs, 2) || !path_argument(args[0], path) ||
      !offset_argument(args[1], "size", size)) {
    return nullptr;
  }
  auto outcome =
      without_interpreter_lock([&] { return guarded([&] { return part_ranges(path, size); }); });
  auto* ranges = std::get_if<std::vector<ByteRange>>(&outcome);
  if (ranges == nullptr) return raise_outcome(outcome, path);
  return ranges_tuple(*ranges);
}

// plan_parts(begins, ends, counts, parameters, /) -> (parts, last)
PyObject* parts_of_ranges(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::vector<CountedRange> ranges;
  std::uint64_t parameters = 0;
  if (!arity("plan_parts", nargs, 4) || !counted_ranges(args, ranges) ||
      !offset_argument(args[3], "parameters", parameters)) {
    return nullptr;
  }
  auto outcome = guarded([&] { return plan_parts(ranges, parameters); });
  auto* plan = std::get_if<PartPlan>(&outcome);
  if (plan == nullptr) return raise_outcome(outcome, {});
  return plan_tuple(*plan);
}

// read_part(path, n_digits, columns, begin, feeds_before, first_step, steps, checks_end, /)
//   -> (names, n_digits, values)
PyObject* read_part(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  std::optional<std::vector<std::uint64_t>> columns;
  Partition part{};
  if (!arity("read_part", nargs, 8) || !path_argument(args[0], path) ||
      !width_argument(args[1], width) || !columns_argument(args[2], columns) ||
      !offset_argument(args[3], "begin", part.begin) ||
      !offset_argument(args[4], "feeds_before", part.feeds_before) ||
      !offset_argument(args[5], "first_step", part.first_step) ||
      !offset_argument(args[6], "steps", part.steps)) {
    return nullptr;
  }
  const int checks_end = PyObject_IsTrue(args[7]);
  if (checks_end < 0) return nullptr;
  part.checks_end = checks_end != 0;
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
  std::uint64_t begin = 0;
  std::uint64_t feeds_before = 0;
  std::uint64_t step = 0;
  if (!arity("time_of_step", nargs, 5) || !path_argument(args[0], path) ||
      !width_argument(args[1], width) || !offset_argument(args[2], "begin", begin) ||
      !offset_argument(args[3], "feeds_before", feeds_before) ||
      !offset_argument(args[4], "step", step)) {
    return nullptr;
  }
  auto outcome = without_interpreter_lock([&] {
    return guarded([&] { return time_of_step(path, width, begin, feeds_before, step); });
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
    {"part_ranges", fastcall(&ranges_of_parts), METH_FASTCALL,
     "part_ranges(path, size, /): (begins, ends) of the byte ranges of the steps to count."},
    {"plan_parts", fastcall(&parts_of_ranges), METH_FASTCALL,
     "plan_parts(begins, ends, counts, parameters, /): (parts, part of the last step or None)."},
    {"read_part", fastcall(&read_part), METH_FASTCALL,
     "read_part(path, n_digits, columns, begin, feeds_before, first_step, steps, checks_end, /)"},
    {"time_of_step", fastcall(&step_time), METH_FASTCALL,
     "time_of_step(path, n_digits, begin, feeds_before, step, /): the step's time."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarnex::vormant
