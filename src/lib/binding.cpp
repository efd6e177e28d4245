#include "lib/binding.hpp"

#include <array>
#include <cstddef>
#include <string>

#include "lib/py_text.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kFunctionName = "rust_read_vormant()";
constexpr std::size_t kParameterCount = 2;
constexpr std::array<std::string_view, kParameterCount> kParameterNames = {"file_path", "n_digits"};
constexpr std::size_t kFilePath = 0;
constexpr std::size_t kNDigits = 1;

using Slots = std::array<PyObject*, kParameterCount>;

PyError type_error(std::string message) {
  return PyError::with_message(PyExc_TypeError, std::move(message));
}

// "rust_read_vormant() takes 2 positional arguments but {nargs} were given"
PyError too_many_positional(Py_ssize_t nargs) {
  std::string message(kFunctionName);
  message.append(" takes ")
      .append(std::to_string(kParameterCount))
      .append(" positional arguments but ")
      .append(std::to_string(nargs))
      .append(" were given");
  return type_error(std::move(message));
}

// "rust_read_vormant() got an unexpected keyword argument '{name}'"
PyError unexpected_keyword(PyObject* name) {
  std::string message(kFunctionName);
  message.append(" got an unexpected keyword argument '").append(display_text(name)).append("'");
  return type_error(std::move(message));
}

// "rust_read_vormant() got multiple values for argument '{parameter}'"
PyError multiple_values(std::string_view parameter) {
  std::string message(kFunctionName);
  message.append(" got multiple values for argument '").append(parameter).append("'");
  return type_error(std::move(message));
}

// "rust_read_vormant() missing {count} required positional argument(s): 'a' and 'b'"
PyError missing_arguments(const Slots& slots) {
  std::string names;
  std::size_t count = 0;
  for (std::size_t i = 0; i < kParameterCount; ++i) {
    if (slots[i] != nullptr) continue;
    if (count > 0) names.append(" and ");
    names.append("'").append(kParameterNames[i]).append("'");
    ++count;
  }
  std::string message(kFunctionName);
  message.append(" missing ")
      .append(std::to_string(count))
      .append(count == 1 ? " required positional argument: " : " required positional arguments: ")
      .append(names);
  return type_error(std::move(message));
}

// "argument '{name}': {message}"
std::string argument_error_text(std::string_view name, std::string_view message) {
  std::string text = "argument '";
  text.append(name).append("': ").append(message);
  return text;
}

// The slot that a keyword names, or kParameterCount when it names none (or has no UTF-8 form).
std::size_t keyword_slot(PyObject* name) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return kParameterCount;
  }
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < kParameterCount; ++i) {
    if (text == kParameterNames[i]) return i;
  }
  return kParameterCount;
}

// Fills the slots from positions and keywords; the error of the first argument that does not
// fit, with later arguments left unlooked at.
PyResult<Slots> fill_slots(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > static_cast<Py_ssize_t>(kParameterCount)) return too_many_positional(nargs);
  Slots slots{};
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < keyword_count; ++i) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, i);
    const std::size_t slot = keyword_slot(name);
    if (slot == kParameterCount) return unexpected_keyword(name);
    if (slots[slot] != nullptr) return multiple_values(kParameterNames[slot]);
    slots[slot] = args[nargs + i];
  }
  for (PyObject* value : slots) {
    if (value == nullptr) return missing_arguments(slots);
  }
  return slots;
}

PyResult<std::string_view> convert_file_path(PyObject* object) {
  if (!PyUnicode_Check(object)) return cast_error(object, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return PyError::fetch();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

PyResult<std::uint64_t> unsigned_value(PyObject* integer) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
  // All bits set is a value of its own unless an error came with it.
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    return PyError::fetch();
  }
  return static_cast<std::uint64_t>(value);
}

PyResult<std::uint64_t> convert_n_digits(PyObject* object) {
  if (PyLong_Check(object)) return unsigned_value(object);
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return PyError::fetch();
  return unsigned_value(index.get());
}

// A conversion's TypeError (exactly that type) becomes a new TypeError that names the
// argument and carries the old one's cause; any other error goes on as it is.
PyError argument_error(std::string_view name, PyError error) {
  if (!error.is_exactly(PyExc_TypeError)) return error;
  PyRef exception = std::move(error).into_exception();
  std::string message = argument_error_text(name, display_text(exception.get()));
  PyRef cause = PyRef::steal(PyException_GetCause(exception.get()));
  PyRef remapped = PyError::with_message(PyExc_TypeError, std::move(message)).into_exception();
  PyException_SetCause(remapped.get(), cause.release());
  return PyError::from_exception(std::move(remapped));
}

}  // namespace

PyError cast_error(PyObject* object, std::string_view target) {
  std::string message;
  if (object == Py_None) {
    message.append("'None' is not an instance of '");
  } else {
    message.append("'").append(type_qualname_text(object));
    message.append("' object is not an instance of '");
  }
  message.append(target).append("'");
  return type_error(std::move(message));
}

PyResult<PlotArguments> bind_arguments(PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  PyResult<Slots> slots = fill_slots(args, nargs, kwnames);
  if (!slots.ok()) return std::move(slots.error());
  PyResult<std::string_view> file_path = convert_file_path(slots.value()[kFilePath]);
  if (!file_path.ok()) {
    return argument_error(kParameterNames[kFilePath], std::move(file_path.error()));
  }
  PyResult<std::uint64_t> n_digits = convert_n_digits(slots.value()[kNDigits]);
  if (!n_digits.ok()) {
    return argument_error(kParameterNames[kNDigits], std::move(n_digits.error()));
  }
  return PlotArguments{file_path.value(), n_digits.value()};
}

}  // namespace tarnex
