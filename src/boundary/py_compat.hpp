// The few C-API differences between CPython 3.11 and 3.15, behind one set of names, so that
// one source builds for every version and behaves the same from Python's side.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarnex::py {

// Takes the interpreter's current exception as one normalised exception object (with its
// traceback attached), clearing it; null when none is set.
inline PyObject* take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

// Makes `exception` (a reference that this call takes over) the interpreter's current
// exception, with the traceback it carries; a null `exception` clears the current one.
inline void restore_raised_exception(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception);
#else
  if (exception == nullptr) {
    PyErr_Clear();
    return;
  }
  PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

}  // namespace tarnex::py

// Interpreters before 3.13 have no Py_mod_gil slot: they always run extensions under their
// global lock, which is what the slot's absence means to them.
#ifdef Py_mod_gil
#define TARNEX_HAS_MOD_GIL_SLOT 1
#else
#define TARNEX_HAS_MOD_GIL_SLOT 0
#endif

namespace tarnex::py {

// Whether this thread holds the interpreter lock: has a thread state attached.
inline bool holds_interpreter_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked() != nullptr;
#else
  return _PyThreadState_UncheckedGet() != nullptr;
#endif
}

// Whether the interpreter has ended or is ending, when a thread that does not hold its lock can
// no longer take it.
inline bool interpreter_is_ending() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsInitialized() == 0 || Py_IsFinalizing() != 0;
#else
  return Py_IsInitialized() == 0 || _Py_IsFinalizing() != 0;
#endif
}

}  // namespace tarnex::py
