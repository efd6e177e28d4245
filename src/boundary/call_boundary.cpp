#include "boundary/call_boundary.hpp"

#include "boundary/fatal_report.hpp"
#include "boundary/panic_exception.hpp"
#include "text/utf8_lossy.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kNoMessage =
    "the native code of the extension failed with an error that carries no message";

// Volatile: the store is made for its side effect of claiming the storage, never read back.
thread_local volatile bool thread_storage_claimed = false;

}  // namespace

void PanicTrap::claim_thread_storage() noexcept { thread_storage_claimed = true; }

void PanicTrap::fire(std::source_location where) const noexcept {
  abort_with_report(kMessage, where);
}

Escape Escape::error(PyError error) noexcept { return Escape(std::move(error)); }

Escape Escape::fatal(const FatalError& error) noexcept {
  try {
    return Escape(error.message());
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Escape Escape::out_of_memory() noexcept { return Escape(OutOfMemory{}); }

Escape Escape::unexpected(const char* what, std::source_location where) noexcept {
  try {
    // The text is the interpreter's to show, which takes UTF-8 only.
    std::string message = what == nullptr ? std::string(kNoMessage) : utf8_lossy(what);
    write_fatal_report(message, where);
    return Escape(std::move(message));
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

void Escape::raise() && {
  if (auto* error = std::get_if<PyError>(&payload_)) {
    std::move(*error).restore();
  } else if (auto* message = std::get_if<std::string>(&payload_)) {
    raise_panic_exception(*message);
  } else {
    PyErr_NoMemory();
  }
}

namespace detail {

void raise_escape(Escape&& escape, const PanicTrap& trap) noexcept {
  try {
    std::move(escape).raise();
  } catch (...) {
    trap.fire();
  }
}

}  // namespace detail
}  // namespace tarnex
