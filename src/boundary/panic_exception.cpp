#include "boundary/panic_exception.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "boundary/fatal_error.hpp"
#include "boundary/py_errors.hpp"
#include "lib/py_text.hpp"

namespace tarnex {
namespace {

constexpr const char* kQualifiedName = "pyo3_runtime.PanicException";
constexpr const char* kDoc =
    "\n"
    "The exception raised when the native code of an extension module called from Python\n"
    "fails fatally.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so it will\n"
    "typically propagate all the way through the stack and cause the Python interpreter\n"
    "to exit.\n";
constexpr std::string_view kCreationFailed = "Failed to initialize new exception type.";

// Gives up the interpreter lock for its scope, so that the thread that creates the type, which
// needs the lock to do so, can get on while this one waits.
class InterpreterLockReleased {
 public:
  InterpreterLockReleased() noexcept : saved_(PyEval_SaveThread()) {}
  InterpreterLockReleased(const InterpreterLockReleased&) = delete;
  InterpreterLockReleased& operator=(const InterpreterLockReleased&) = delete;
  ~InterpreterLockReleased() { PyEval_RestoreThread(saved_); }

 private:
  PyThreadState* saved_;
};

// The once-only cell that holds the type: empty, being created, or created. Once created, the
// type is read without any lock.
class PanicExceptionCell {
 public:
  PyObject* get() {
    if (PyObject* type = created_.load(std::memory_order_acquire)) return type;
    return create_or_wait();
  }

 private:
  enum class State { kEmpty, kCreating, kCreated };

  // Resets the cell to empty and wakes its waiters when a creation does not get to the end.
  class CreationGuard {
   public:
    explicit CreationGuard(PanicExceptionCell& cell) noexcept : cell_(cell) {}
    CreationGuard(const CreationGuard&) = delete;
    CreationGuard& operator=(const CreationGuard&) = delete;
    ~CreationGuard() {
      if (!committed_) cell_.finish(State::kEmpty, nullptr);
    }
    void commit(PyObject* type) {
      cell_.finish(State::kCreated, type);
      committed_ = true;
    }

   private:
    PanicExceptionCell& cell_;
    bool committed_ = false;
  };

  PyObject* create_or_wait() {
    if (!claim_creation()) return created_.load(std::memory_order_acquire);
    CreationGuard guard(*this);
    PyObject* type =
        PyErr_NewExceptionWithDoc(kQualifiedName, kDoc, PyExc_BaseException, nullptr);
    if (type == nullptr) {
      PyRef error = PyError::fetch_unchecked().into_exception();
      std::string message(kCreationFailed);
      message.append(": ").append(debug_text(error.get()));
      fatal(std::move(message));
    }
    // The cell keeps this reference until the process ends.
    guard.commit(type);
    return type;
  }

  // True when this thread is to create the type; false when another one has created it.
  bool claim_creation() {
    InterpreterLockReleased unlocked;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return state_ != State::kCreating; });
    if (state_ == State::kCreated) return false;
    state_ = State::kCreating;
    return true;
  }

  void finish(State state, PyObject* type) noexcept {
    {
      std::lock_guard lock(mutex_);
      state_ = state;
      created_.store(type, std::memory_order_release);
    }
    changed_.notify_all();
  }

  std::atomic<PyObject*> created_{nullptr};
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kEmpty;
};

PanicExceptionCell& panic_exception_cell() {
  // Never destroyed: the type outlives every thread that might still raise it at exit.
  static auto* cell = new PanicExceptionCell;
  return *cell;
}

}  // namespace

PyObject* panic_exception_type() { return panic_exception_cell().get(); }

void raise_panic_exception(std::string_view message) {
  raise_with_message(panic_exception_type(), message);
}

}  // namespace tarnex
