// The call boundary: stands between the interpreter and every entry into the module, so that
// a fatal error reaches Python as PanicException and no C++ exception ever reaches the
// interpreter.
#pragma once

#include <exception>
#include <new>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "boundary/fatal_error.hpp"
#include "boundary/py_errors.hpp"

namespace tarnex {

// Armed for the whole of an entry. Should the exception for a failed call itself fail to be
// made or raised, there is nothing left that could tell the caller: it fires, reports
// "uncaught panic at ffi boundary" and aborts the process.
class PanicTrap {
 public:
  static constexpr std::string_view kMessage = "uncaught panic at ffi boundary";

  PanicTrap() noexcept { claim_thread_storage(); }
  PanicTrap(const PanicTrap&) = delete;
  PanicTrap& operator=(const PanicTrap&) = delete;
  ~PanicTrap() {
    if (armed_) fire();
  }

  void disarm() noexcept { armed_ = false; }
  [[noreturn]] void fire(
      std::source_location where = std::source_location::current()) const noexcept;

 private:
  // The module's thread-local storage (the report's and the C++ runtime's) is given to a thread
  // on its first use. Arming makes that happen now, while memory is there: storage that a
  // fatal error found missing after memory ran out would end the process.
  static void claim_thread_storage() noexcept;

  bool armed_ = true;
};

// How a body ended when it did not hand back its result: an interpreter error to raise as it
// is, a fatal error's message to raise as PanicException, or memory refused (MemoryError).
class Escape {
 public:
  static Escape error(PyError error) noexcept;
  static Escape fatal(const FatalError& error) noexcept;
  static Escape out_of_memory() noexcept;
  // A C++ exception from outside the module's own failure handling: reported and raised like
  // a fatal error with its text.
  static Escape unexpected(const char* what,
                           std::source_location where = std::source_location::current()) noexcept;

  // Makes the interpreter's current exception for this ending. A fatal error or a C++
  // exception from here on is the panic trap's to handle.
  void raise() &&;

 private:
  struct OutOfMemory {};
  using Payload = std::variant<PyError, std::string, OutOfMemory>;
  explicit Escape(Payload payload) noexcept : payload_(std::move(payload)) {}

  Payload payload_;
};

namespace detail {

// Raises `escape`; anything that goes wrong while doing so fires `trap`.
void raise_escape(Escape&& escape, const PanicTrap& trap) noexcept;

// Runs `body` (which returns PyResult<T>) with every C++ exception caught; on success its
// value goes to `out`.
template <class T, class Body>
std::optional<Escape> run_caught(Body& body, T& out) noexcept {
  try {
    PyResult<T> outcome = body();
    if (!outcome.ok()) return Escape::error(std::move(outcome.error()));
    out = std::move(outcome.value());
    return std::nullopt;
  } catch (const FatalError& error) {
    return Escape::fatal(error);
  } catch (const std::bad_alloc&) {
    return Escape::out_of_memory();
  } catch (const std::exception& error) {
    return Escape::unexpected(error.what());
  } catch (...) {
    return Escape::unexpected(nullptr);
  }
}

// The boundary for a body that returns PyResult<T>: true with its value in `out`, or false
// with the interpreter's exception set.
template <class T, class Body>
bool run_at_boundary(Body& body, T& out) noexcept {
  PanicTrap trap;
  std::optional<Escape> escape = run_caught(body, out);
  if (escape) raise_escape(std::move(*escape), trap);
  trap.disarm();
  return !escape;
}

}  // namespace detail

// For the function's entry: the body's new reference, or null with an exception set.
template <class Body>
PyObject* call_boundary(Body&& body) noexcept {
  PyRef result;
  return detail::run_at_boundary(body, result) ? result.release() : nullptr;
}

// For the module's exec step: 0, or -1 with an exception set.
template <class Body>
int exec_boundary(Body&& body) noexcept {
  std::monostate done;
  return detail::run_at_boundary(body, done) ? 0 : -1;
}

}  // namespace tarnex
