#include "lib/result.hpp"

#include <vector>

namespace tarnex {
namespace {

Py_ssize_t py_size(std::size_t size) { return static_cast<Py_ssize_t>(size); }

// A list of exactly values.size() floats, filled slot by slot.
PyRef float_list(const std::vector<float>& values) {
  PyRef list = owned_or_fatal(PyList_New(py_size(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* value = owned_or_fatal(PyFloat_FromDouble(static_cast<double>(values[i]))).release();
    PyList_SET_ITEM(list.get(), py_size(i), value);
  }
  return list;
}

template <class T>
void free_storage(std::vector<T>& values) noexcept {
  std::vector<T>().swap(values);
}

}  // namespace

PyRef to_python_result(PlotData&& data) {
  PyRef time = float_list(data.time);
  free_storage(data.time);
  PyRef columns = owned_or_fatal(PyList_New(py_size(data.columns.size())));
  for (std::size_t i = 0; i < data.columns.size(); ++i) {
    PyRef column = float_list(data.columns[i]);
    free_storage(data.columns[i]);
    PyList_SET_ITEM(columns.get(), py_size(i), column.release());
  }
  free_storage(data.columns);
  PyRef result = owned_or_fatal(PyTuple_New(2));
  PyTuple_SET_ITEM(result.get(), 0, time.release());
  PyTuple_SET_ITEM(result.get(), 1, columns.release());
  return result;
}

}  // namespace tarnex
