#include "vormant/module_support.hpp"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "vormant/plot_file_type.hpp"
#include "vormant/values_type.hpp"

namespace tarnex::vormant {
namespace {

constexpr long kWidths[] = {12, 15};

}  // namespace

ModuleState* state_of(PyObject* module) noexcept {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

bool width_argument(PyObject* object, std::optional<std::uint64_t>& width) noexcept {
  if (object == Py_None) return true;
  if (!PyLong_Check(object) || PyBool_Check(object)) {
    PyErr_Format(PyExc_TypeError, "read() argument 2 must be int or None, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  }
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred() != nullptr) return false;
  for (const long known : kWidths) {
    if (overflow == 0 && value == known) {
      width = static_cast<std::uint64_t>(value);
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError, "n_digits must be 12, 15 or None, not %R", object);
  return false;
}

bool path_argument(PyObject* object, std::string_view& path) noexcept {
  if (!PyBytes_Check(object)) {
    PyErr_Format(PyExc_TypeError, "read() argument 1 must be bytes, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  }
  path = std::string_view(PyBytes_AS_STRING(object),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
  if (std::memchr(path.data(), '\0', path.size()) != nullptr) {
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    return false;
  }
  return true;
}

PyObject* result_of(PyObject* module, LoadedPlot& plot) noexcept {
  std::unique_ptr<PlotData> data(new (std::nothrow) PlotData(std::move(plot.data)));
  if (data == nullptr) return PyErr_NoMemory();
  PyObject* values =
      new_values(reinterpret_cast<PyTypeObject*>(state_of(module)->values_type), std::move(data));
  if (values == nullptr) return nullptr;
  PyObject* names = names_tuple(plot.names);
  if (names == nullptr) {
    Py_DECREF(values);
    return nullptr;
  }
  return Py_BuildValue("(NKN)", names, static_cast<unsigned long long>(plot.n_digits), values);
}

bool fd_argument(PyObject* object, int& fd) noexcept {
  // True and False are ints to the interpreter, but never a file descriptor anyone means.
  if (PyBool_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "a file descriptor is an int or has fileno(), not a bool");
    return false;
  }
  fd = PyObject_AsFileDescriptor(object);
  return fd >= 0;
}

bool columns_argument(PyObject* object,
                      std::optional<std::vector<std::uint64_t>>& columns) noexcept {
  if (object == Py_None) return true;
  if (!PyTuple_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "columns must be a tuple or None");
    return false;
  }
  try {
    columns.emplace();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i) {
      const std::uint64_t column = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(object, i));
      if (column == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr) return false;
      columns->push_back(column);
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

bool arity(const char* name, Py_ssize_t nargs, Py_ssize_t wanted) noexcept {
  if (nargs == wanted) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd arguments (%zd given)", name, wanted,
               nargs);
  return false;
}

}  // namespace tarnex::vormant
