// The module's entry, its definitions, and the two ways in: the exec step and the call of
// rust_read_vormant.
#include <atomic>
#include <string>
#include <variant>

#include "boundary/call_boundary.hpp"
#include "boundary/fatal_failure_policy.hpp"
#include "boundary/fatal_error.hpp"
#include "boundary/py_compat.hpp"
#include "boundary/py_errors.hpp"
#include "lib/binding.hpp"
#include "lib/docstring.hpp"
#include "lib/py_text.hpp"
#include "lib/result.hpp"
#include "reader/read_plot_file.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kAppendFailed = "could not append __name__ to __all__";

// An interned str made on first use and kept for the rest of the process. Two threads that
// get here first at once both intern the same text and so get the same object.
PyObject* interned(std::atomic<PyObject*>& cell, const char* text) {
  if (PyObject* string = cell.load(std::memory_order_acquire)) return string;
  PyRef string = owned_or_fatal(PyUnicode_InternFromString(text));
  PyObject* expected = nullptr;
  if (cell.compare_exchange_strong(expected, string.get(), std::memory_order_acq_rel)) {
    return string.release();
  }
  return expected;
}

PyObject* all_string() {
  static std::atomic<PyObject*> cell{nullptr};
  return interned(cell, "__all__");
}

PyObject* name_string() {
  static std::atomic<PyObject*> cell{nullptr};
  return interned(cell, "__name__");
}

PyResult<PyRef> read_vormant(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyResult<PlotArguments> arguments = bind_arguments(args, nargs, kwnames);
  if (!arguments.ok()) return std::move(arguments.error());
  return to_python_result(read_plot_file(arguments.value().file_path, arguments.value().n_digits,
                                         fatal_failure_policy()));
}

// The interpreter calls this with a null self, since the method is static.
PyObject* read_vormant_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
  return call_boundary([&] { return read_vormant(args, nargs, kwnames); });
}

PyMethodDef read_vormant_def = {
    "rust_read_vormant",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read_vormant_entry)),
    METH_FASTCALL | METH_STATIC | METH_KEYWORDS,
    kReadVormantDoc,
};

// The module's __all__ list, made and set when the module has none.
PyResult<PyRef> module_all(PyObject* module) {
  if (PyRef all = PyRef::steal(PyObject_GetAttr(module, all_string()))) {
    if (!PyList_Check(all.get())) return cast_error(all.get(), "list");
    return all;
  }
  PyError error = PyError::fetch();
  if (!error.matches(PyExc_AttributeError)) return error;
  PyRef all = owned_or_fatal(PyList_New(0));
  if (PyObject_SetAttr(module, all_string(), all.get()) != 0) return PyError::fetch();
  return all;
}

[[noreturn]] void append_failed(PyError error) {
  PyRef exception = std::move(error).into_exception();
  std::string message(kAppendFailed);
  message.append(": ").append(debug_text(exception.get()));
  fatal(std::move(message));
}

// Adds `function` to the module under its own __name__, and that name to __all__.
PyResult<std::monostate> add_function(PyObject* module, PyObject* function) {
  PyRef name = PyRef::steal(PyObject_GetAttr(function, name_string()));
  if (!name) return PyError::fetch();
  if (!PyUnicode_Check(name.get())) return cast_error(name.get(), "str");
  PyResult<PyRef> all = module_all(module);
  if (!all.ok()) return std::move(all.error());
  if (PyList_Append(all.value().get(), name.get()) != 0) append_failed(PyError::fetch());
  if (PyObject_SetAttr(module, name.get(), function) != 0) return PyError::fetch();
  return std::monostate{};
}

PyResult<std::monostate> exec_module(PyObject* module) {
  if (module == nullptr) return PyError::fetch();
  if (!PyModule_Check(module)) return cast_error(module, "module");
  PyRef function;
  {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return PyError::fetch();
    function = PyRef::steal(PyCMethod_New(&read_vormant_def, module, module_name.get(), nullptr));
  }
  if (!function) return PyError::fetch();
  return add_function(module, function.get());
}

int exec_entry(PyObject* module) noexcept {
  return exec_boundary([&] { return exec_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_entry)},
#if TARNEX_HAS_MOD_GIL_SLOT
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tarnex",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tarnex

PyMODINIT_FUNC PyInit_tarnex(void) { return PyModuleDef_Init(&tarnex::module_def); }
