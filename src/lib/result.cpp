#include "lib/result.hpp"

#include <algorithm>
#include <cstddef>

namespace tarnex {
namespace {

// The rows converted before the storage behind them is given back: about this many bytes of
// values at a time, so that at its peak a call holds little more than its result.
constexpr std::size_t kTileBytes = std::size_t{256} << 10;

Py_ssize_t py_size(std::size_t size) { return static_cast<Py_ssize_t>(size); }

// The lists, made at their final length and filled by storing into their slots: one per
// parameter, the time's first.
class ResultLists {
 public:
  ResultLists(std::size_t parameters, std::size_t steps) {
    time_ = owned_or_fatal(PyList_New(py_size(steps)));
    columns_ = owned_or_fatal(PyList_New(py_size(parameters - 1)));
    for (std::size_t column = 0; column + 1 < parameters; ++column) {
      PyList_SET_ITEM(columns_.get(), py_size(column),
                      owned_or_fatal(PyList_New(py_size(steps))).release());
    }
  }

  PyObject* list_of(std::size_t parameter) const noexcept {
    return parameter == 0 ? time_.get() : PyList_GET_ITEM(columns_.get(), py_size(parameter - 1));
  }

  PyRef into_tuple() {
    PyRef result = owned_or_fatal(PyTuple_New(2));
    PyTuple_SET_ITEM(result.get(), 0, time_.release());
    PyTuple_SET_ITEM(result.get(), 1, columns_.release());
    return result;
  }

 private:
  PyRef time_;
  PyRef columns_;
};

// Floats for the values of `parameter` in rows first .. end - 1, each the exact widening of
// its binary32 value.
void fill_slots(PyObject* list, const float* values, std::size_t parameters,
                std::size_t parameter, std::size_t first, std::size_t end) {
  PyObject** const slots = reinterpret_cast<PyListObject*>(list)->ob_item;
  const float* value = values + first * parameters + parameter;
  for (std::size_t step = first; step < end; ++step, value += parameters) {
    slots[step] = owned_or_fatal(PyFloat_FromDouble(static_cast<double>(*value))).release();
  }
}

}  // namespace

PyRef to_python_result(PlotData&& data) {
  const auto parameters = static_cast<std::size_t>(data.parameters);
  const std::size_t steps = data.steps();
  ResultLists lists(parameters, steps);
  // A tile of rows at a time, parameter by parameter within it: each list's floats lie close
  // together, and the rows done are given back before the next tile.
  const std::size_t tile_rows = std::max<std::size_t>(1, kTileBytes / sizeof(float) / parameters);
  const float* const values = data.values.data();
  for (std::size_t first = 0; first < steps; first += tile_rows) {
    const std::size_t end = std::min(steps, first + tile_rows);
    for (std::size_t parameter = 0; parameter < parameters; ++parameter) {
      fill_slots(lists.list_of(parameter), values, parameters, parameter, first, end);
    }
    data.values.discard_before(end * parameters);
  }
  data.values = ValueStore();
  return lists.into_tuple();
}

}  // namespace tarnex
