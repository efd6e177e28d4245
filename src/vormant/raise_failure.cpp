#include "vormant/raise_failure.hpp"

#include <cerrno>

namespace tarnex::vormant {
namespace {

constexpr const char* kErrorsModule = "vormant._errors";
constexpr const char* kErrorType = "PlotFileError";

// The path as Python code names it: os.fsdecode of its bytes.
PyObject* path_text(std::string_view path) noexcept {
  return PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
}

PyObject* raise_os_error(const IoError& error, PyObject* path) noexcept {
  errno = error.code();
  return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
}

// "<path><detail>": the detail's field texts are the file's own, valid UTF-8 that may hold
// NUL, so they are decoded by length.
PyObject* message_of(const PlotFileFailure& failure, PyObject* path) noexcept {
  const std::string& detail = failure.detail();
  PyObject* tail =
      PyUnicode_DecodeUTF8(detail.data(), static_cast<Py_ssize_t>(detail.size()), "replace");
  if (tail == nullptr) return nullptr;
  PyObject* message = PyUnicode_Concat(path, tail);
  Py_DECREF(tail);
  return message;
}

PyObject* plot_file_error_type() noexcept {
  PyObject* module = PyImport_ImportModule(kErrorsModule);
  if (module == nullptr) return nullptr;
  PyObject* type = PyObject_GetAttrString(module, kErrorType);
  Py_DECREF(module);
  return type;
}

PyObject* raise_plot_file_error(const PlotFileFailure& failure, PyObject* path) noexcept {
  PyObject* type = plot_file_error_type();
  if (type == nullptr) return nullptr;
  PyObject* error = nullptr;
  if (PyObject* message = message_of(failure, path)) {
    error = PyObject_CallFunction(type, "OOK", message, path,
                                  static_cast<unsigned long long>(failure.line()));
    Py_DECREF(message);
  }
  if (error != nullptr) {
    PyErr_SetObject(type, error);
    Py_DECREF(error);
  }
  Py_DECREF(type);
  return nullptr;
}

}  // namespace

PyObject* raise_plot_file_failure(const PlotFileFailure& failure, std::string_view path) noexcept {
  PyObject* text = path_text(path);
  if (text == nullptr) return nullptr;
  if (failure.is_system_error()) {
    raise_os_error(*failure.io_error(), text);
  } else {
    raise_plot_file_error(failure, text);
  }
  Py_DECREF(text);
  return nullptr;
}

PyObject* raise_argument_fault(const ArgumentFault& fault) noexcept {
  PyObject* type = PyExc_ValueError;
  if (fault.kind == ArgumentFault::Kind::Index) type = PyExc_IndexError;
  if (fault.kind == ArgumentFault::Kind::Overflow) type = PyExc_OverflowError;
  PyErr_SetString(type, fault.message.c_str());
  return nullptr;
}

PyObject* raise_unexpected(const UnexpectedFailure& failure) noexcept {
  PyErr_Format(PyExc_SystemError, "vormant._reader: %s", failure.what.c_str());
  return nullptr;
}

}  // namespace tarnex::vormant
