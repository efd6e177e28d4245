#include "boundary/py_errors.hpp"

#include "boundary/fatal_error.hpp"
#include "boundary/fatal_report.hpp"
#include "boundary/panic_exception.hpp"
#include "lib/py_text.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kNoExceptionSet = "attempted to fetch exception but none was set";
constexpr std::string_view kNullObject = "PyObject pointer is null";
constexpr const char* kNotAnExceptionClass = "exceptions must derive from BaseException";
constexpr std::string_view kUnwrappedPanic = "Unwrapped panic from Python code";
constexpr std::string_view kResumeHeader =
    "--- A PanicException was fetched from Python code; its fatal error resumes here ---\n"
    "Python stack trace below:\n";

// The message of a PanicException that Python code raised, with lone surrogates replaced.
std::string returned_panic_text(PyObject* exception) {
  PyRef text = PyRef::steal(PyObject_Str(exception));
  if (!text) {
    PyErr_Clear();
    return std::string(kUnwrappedPanic);
  }
  return utf8_text(text.get());
}

// A PanicException raised by Python code that the module called (an `__index__`): its story is
// told on descriptor 2 and by the interpreter's own print-out, then its fatal error goes on
// without a second report.
[[noreturn]] void resume_returned_panic(PyRef exception) {
  std::string text = returned_panic_text(exception.get());
  write_to_stderr(kResumeHeader);
  py::restore_raised_exception(exception.release());
  PyErr_PrintEx(0);
  resume_fatal(std::move(text));
}

}  // namespace

PyError PyError::from_exception(PyRef exception) noexcept {
  PyError error;
  error.exception_ = std::move(exception);
  return error;
}

PyError PyError::with_message(PyObject* type, std::string message) noexcept {
  PyError error;
  error.type_ = PyRef::borrow(type);
  error.message_ = std::move(message);
  return error;
}

PyError PyError::fetch_unchecked() {
  PyRef exception = PyRef::steal(py::take_raised_exception());
  if (!exception) return with_message(PyExc_SystemError, std::string(kNoExceptionSet));
  return from_exception(std::move(exception));
}

PyError PyError::fetch() {
  PyError error = fetch_unchecked();
  if (error.exception_ && error.is_exactly(panic_exception_type())) {
    resume_returned_panic(std::move(error.exception_));
  }
  return error;
}

PyObject* PyError::type() const noexcept {
  if (exception_) return reinterpret_cast<PyObject*>(Py_TYPE(exception_.get()));
  return type_.get();
}

bool PyError::matches(PyObject* type) const noexcept {
  return PyErr_GivenExceptionMatches(this->type(), type) != 0;
}

PyRef PyError::into_exception() && {
  if (exception_) return std::move(exception_);
  std::move(*this).restore();
  PyRef exception = PyRef::steal(py::take_raised_exception());
  if (!exception) null_result();
  return exception;
}

void PyError::restore() && {
  if (exception_) {
    py::restore_raised_exception(exception_.release());
    return;
  }
  raise_with_message(type_.get(), message_);
}

void null_result(std::source_location where) {
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  fatal(std::string(kNullObject), where);
}

void raise_with_message(PyObject* type, std::string_view message) {
  if (type == nullptr || !PyExceptionClass_Check(type)) {
    PyErr_SetString(PyExc_TypeError, kNotAnExceptionClass);
    return;
  }
  PyRef text = owned_or_fatal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  PyRef args = owned_or_fatal(PyTuple_New(1));
  PyTuple_SET_ITEM(args.get(), 0, text.release());
  PyErr_SetObject(type, args.get());
}

}  // namespace tarnex
