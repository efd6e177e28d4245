#include "vormant/envelope_result.hpp"

#include <memory>
#include <new>

#include "vormant/values_type.hpp"

namespace tarnex::vormant {

PyObject* envelope_tuple(PyTypeObject* values_type, Envelope& envelope) noexcept {
  PlotData* blocks[] = {&envelope.time_first, &envelope.time_last, &envelope.first,
                        &envelope.last,       &envelope.min,       &envelope.max};
  constexpr Py_ssize_t kItems = 1 + std::size(blocks);
  PyObject* tuple = PyTuple_New(kItems);
  if (tuple == nullptr) return nullptr;
  PyObject* start = PyBytes_FromStringAndSize(
      reinterpret_cast<const char*>(envelope.start.data()),
      static_cast<Py_ssize_t>(envelope.start.size() * sizeof(std::int64_t)));
  if (start == nullptr) {
    Py_DECREF(tuple);
    return nullptr;
  }
  PyTuple_SET_ITEM(tuple, 0, start);
  for (Py_ssize_t item = 1; item < kItems; ++item) {
    std::unique_ptr<PlotData> data(new (std::nothrow) PlotData(std::move(*blocks[item - 1])));
    PyObject* values =
        data == nullptr ? PyErr_NoMemory() : new_values(values_type, std::move(data));
    if (values == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, item, values);
  }
  return tuple;
}

}  // namespace tarnex::vormant
