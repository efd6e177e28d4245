// Owned interpreter references, interpreter errors held until the call boundary raises them,
// and the rules for C-API calls that report failure.
#pragma once

#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "boundary/py_compat.hpp"

namespace tarnex {

// One strong reference to an interpreter object, or nothing. The reference is dropped on every
// way out of the owner's scope, a C++ exception unwinding through it included.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (null allowed).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Takes a new reference to a borrowed object (null allowed).
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef old(std::exchange(object_, other.release()));
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller, which now owns it.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

// An interpreter error that the module holds, not yet (or no longer) the interpreter's current
// exception: either an exception object, or an exception type with a message whose exception
// object is made only when the error is raised.
class PyError {
 public:
  PyError() noexcept = default;
  static PyError from_exception(PyRef exception) noexcept;
  static PyError with_message(PyObject* type, std::string message) noexcept;

  // The fetch rule, after a C-API call reported failure: the current exception, or SystemError
  // when none is set. A PanicException coming back from Python code is not fetched: it is
  // printed and its fatal error resumes (this then throws FatalError).
  static PyError fetch();
  // The current exception as it is, or SystemError when none is set.
  static PyError fetch_unchecked();

  // The exception's type (borrowed).
  PyObject* type() const noexcept;
  // Whether the type is `type` itself; a subclass does not count.
  bool is_exactly(PyObject* type) const noexcept { return this->type() == type; }
  // Whether the type is `type` or a subclass of it.
  bool matches(PyObject* type) const noexcept;

  // The exception object, made now if the error has none yet.
  PyRef into_exception() &&;
  // Makes the error the interpreter's current exception.
  void restore() &&;

 private:
  PyRef exception_;
  PyRef type_;
  std::string message_;
};

// A value, or the interpreter error that took its place.
template <class T>
class [[nodiscard]] PyResult {
 public:
  PyResult(T value) noexcept : outcome_(std::in_place_index<0>, std::move(value)) {}
  PyResult(PyError error) noexcept : outcome_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return outcome_.index() == 0; }
  T& value() noexcept { return *std::get_if<0>(&outcome_); }
  PyError& error() noexcept { return *std::get_if<1>(&outcome_); }

 private:
  std::variant<T, PyError> outcome_;
};

// For a C-API call that had to return a new object and returned null: reports the pending
// exception, if any, through the interpreter's unraisable hook, then raises the fatal error
// "PyObject pointer is null".
[[noreturn]] void null_result(std::source_location where = std::source_location::current());

// Owns the new reference that a C-API call returned, or ends the call by the null-result rule.
// Inline: the result lists make one float per value through it.
inline PyRef owned_or_fatal(PyObject* object,
                            std::source_location where = std::source_location::current()) {
  if (object == nullptr) [[unlikely]]
    null_result(where);
  return PyRef::steal(object);
}

// Raises `type` with `message` as its only argument. A `type` that is not an exception class
// raises TypeError "exceptions must derive from BaseException" instead.
void raise_with_message(PyObject* type, std::string_view message);

}  // namespace tarnex
