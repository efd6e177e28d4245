#include "vormant/module_support.hpp"

#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "reader/field_width.hpp"
#include "vormant/plot_file_type.hpp"
#include "vormant/values_type.hpp"

namespace tarnex::vormant {
namespace {

// Whether `object` is an int, a bool not counting as one; TypeError set if not.
bool is_int(PyObject* object, const char* name) noexcept {
  if (PyLong_Check(object) && !PyBool_Check(object)) return true;
  PyErr_Format(PyExc_TypeError, "%s must be an int, not %.200s", name, Py_TYPE(object)->tp_name);
  return false;
}

// The int `object` as a Wide, and in `fits` whether a Wide holds it. False with an exception
// set when it cannot be read at all.
template <class Wide>
bool read_int(PyObject* object, Wide& value, bool& fits) noexcept {
  int overflow = 0;
  const long long read = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (read == -1 && overflow == 0 && PyErr_Occurred() != nullptr) return false;
  if constexpr (std::is_signed_v<Wide>) {
    fits = overflow == 0;
    value = read;
  } else if (overflow > 0) {
    value = PyLong_AsUnsignedLongLong(object);
    fits = !(value == static_cast<Wide>(-1) && PyErr_Occurred() != nullptr);
    if (!fits && !PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
    if (!fits) PyErr_Clear();
  } else {
    fits = overflow == 0 && read >= 0;
    value = static_cast<Wide>(read);
  }
  return true;
}

template <class Wide>
bool within(PyObject* object, const char* name, Wide least, Wide most, Wide& value) noexcept {
  constexpr bool kSigned = std::is_signed_v<Wide>;
  bool fits = false;
  if (!is_int(object, name) || !read_int(object, value, fits)) return false;
  if (fits && value >= least && value <= most) return true;
  if (fits && value < least) {
    PyErr_Format(PyExc_ValueError,
                 kSigned ? "%s must be at least %lld, not %R" : "%s must be at least %llu, not %R",
                 name, least, object);
  } else {
    PyErr_Format(
        PyExc_OverflowError,
        kSigned ? "%s must be from %lld to %lld, not %R" : "%s must be from %llu to %llu, not %R",
        name, least, most, object);
  }
  return false;
}

}  // namespace

namespace detail {

bool int_within(PyObject* object, const char* name, long long least, long long most,
                long long& value) noexcept {
  return within(object, name, least, most, value);
}

bool int_within(PyObject* object, const char* name, unsigned long long least,
                unsigned long long most, unsigned long long& value) noexcept {
  return within(object, name, least, most, value);
}

}  // namespace detail

ModuleState* state_of(PyObject* module) noexcept {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

bool width_argument(PyObject* object, std::optional<std::uint64_t>& width, bool fixed) noexcept {
  if (object == Py_None) {
    if (!fixed) return true;
  } else if (!PyLong_Check(object) || PyBool_Check(object)) {
    PyErr_Format(PyExc_TypeError,
                 fixed ? "n_digits must be an int, not %.200s"
                       : "n_digits must be an int or None, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  } else {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (value == -1 && overflow == 0 && PyErr_Occurred() != nullptr) return false;
    for (const std::uint64_t known : kFieldWidths) {
      if (overflow == 0 && value == static_cast<long long>(known)) {
        width = known;
        return true;
      }
    }
  }
  PyErr_Format(PyExc_ValueError,
               fixed ? "n_digits must be %llu or %llu, not %R"
                     : "n_digits must be %llu, %llu or None, not %R",
               static_cast<unsigned long long>(kFieldWidths[0]),
               static_cast<unsigned long long>(kFieldWidths[1]), object);
  return false;
}

bool path_argument(PyObject* object, std::string_view& path) noexcept {
  if (!PyBytes_Check(object)) {
    PyErr_Format(PyExc_TypeError, "path must be bytes, not %.200s", Py_TYPE(object)->tp_name);
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
    PyErr_Format(PyExc_TypeError, "columns must be a tuple or None, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  }
  try {
    columns.emplace();
    columns->reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(object)));
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i) {
    std::uint64_t column = 0;
    if (!integer_argument(PyTuple_GET_ITEM(object, i), "a column", column, std::uint64_t{1})) {
      return false;
    }
    columns->push_back(column);  // within the room reserved
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
