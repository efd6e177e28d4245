// vormant._reader: the module, its reads of a whole file, of some of its columns or of its header
// alone, and open(); the other functions come from their own files (partition_functions,
// compare_function, write_function, arrow_export). Every read releases the interpreter lock.
#include <optional>
#include <vector>

#include "reader/thread_split.hpp"
#include "vormant/arrow_export.hpp"
#include "vormant/compare_function.hpp"
#include "vormant/guarded.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/module_support.hpp"
#include "vormant/partition_functions.hpp"
#include "vormant/plot_file_type.hpp"
#include "vormant/values_type.hpp"
#include "vormant/write_function.hpp"

namespace tarnex::vormant {
namespace {

// read_split(path, n_digits, threads, /): the whole file, read by `threads` threads at once
// (0 chooses).
PyObject* read_split(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  long long threads = 0;
  if (!arity("read_split", nargs, 3) || !path_argument(args[0], path) ||
      !width_argument(args[1], width) || !integer_argument(args[2], "threads", threads)) {
    return nullptr;
  }
  // The bytes object stays alive for the call: the caller holds it, and it cannot change.
  return plot_result(module, path, [&] {
    const std::size_t parts = whole_read_threads(path, static_cast<std::size_t>(threads));
    return parts == 1 ? load_plot(path, width) : load_plot_split(path, width, parts);
  });
}

// names(path, /): the name lines of the file, its header alone read.
PyObject* names(PyObject*, PyObject* arg) noexcept {
  std::string_view path;
  if (!path_argument(arg, path)) return nullptr;
  LoadOutcome outcome = without_interpreter_lock([&] { return load_names(path); });
  if (auto* plot = std::get_if<LoadedPlot>(&outcome)) return names_tuple(plot->names);
  return raise_outcome(outcome, path);
}

// The columns `resolve` chooses among the name lines of `header`, a tuple of parameter
// indices. False with an exception set when it raises or returns anything else.
bool resolved_columns(PyObject* resolve, const OpenedHeader& header,
                      std::optional<std::vector<std::uint64_t>>& columns) noexcept {
  PyObject* names = names_tuple(header.names);
  if (names == nullptr) return false;
  PyObject* chosen = PyObject_CallOneArg(resolve, names);
  Py_DECREF(names);
  if (chosen == nullptr) return false;
  const bool taken = chosen != Py_None && columns_argument(chosen, columns);
  if (chosen == Py_None) PyErr_SetString(PyExc_TypeError, "the columns chosen must be a tuple");
  Py_DECREF(chosen);
  return taken;
}

// read_columns(path, n_digits, columns, threads, /): the time and `columns` of every step, by
// `threads` threads (0 chooses). `columns` is a tuple of parameter indices, or a callable that
// is given the file's name lines once its header is read and returns them: the names are
// resolved against the very file whose values are read.
PyObject* read_columns(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  std::optional<std::vector<std::uint64_t>> columns;
  long long threads = 0;
  if (!arity("read_columns", nargs, 4) || !path_argument(args[0], path) ||
      !width_argument(args[1], width)) {
    return nullptr;
  }
  const bool resolves = PyCallable_Check(args[2]) != 0;
  if (!resolves && !columns_argument(args[2], columns)) return nullptr;
  if (!resolves && !columns) return PyErr_Format(PyExc_TypeError, "columns must be a tuple");
  if (!integer_argument(args[3], "threads", threads)) return nullptr;
  const std::size_t usable = at_most_usable(static_cast<std::uint64_t>(threads));
  if (!resolves) {
    return plot_result(module, path,
                       [&] { return load_plot_columns(path, width, *columns, usable); });
  }
  Outcome<OpenedHeader> opened = without_interpreter_lock([&] { return open_header(path); });
  auto* header = std::get_if<OpenedHeader>(&opened);
  if (header == nullptr) return raise_outcome(opened, path);
  if (!resolved_columns(args[2], *header, columns)) return nullptr;
  return plot_result(
      module, path, [&] { return load_plot_columns(std::move(*header), width, *columns, usable); });
}

// open(path, n_digits, growing, /) -> PlotFile
PyObject* open(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  std::string_view path;
  std::optional<std::uint64_t> width;
  if (!arity("open", nargs, 3) || !path_argument(args[0], path) ||
      !width_argument(args[1], width)) {
    return nullptr;
  }
  const int growing = PyObject_IsTrue(args[2]);
  if (growing < 0) return nullptr;
  ModuleState* state = state_of(module);
  return new_plot_file(reinterpret_cast<PyTypeObject*>(state->plot_file_type),
                       reinterpret_cast<PyTypeObject*>(state->values_type), path, width,
                       growing != 0);
}

constexpr const char* kOpenDoc =
    "open(path, n_digits, growing, /)\n--\n\n"
    "Opens the plot file at `path` (bytes): reads its header and indexes its time steps.";

constexpr const char* kReadSplitDoc =
    "read_split(path, n_digits, threads, /)\n--\n\n"
    "Reads the plot file at `path` (bytes) with fields `n_digits` (12 or 15) bytes wide, or as\n"
    "wide as the first value line tells when it is None, by `threads` threads at once (0\n"
    "chooses). Returns (names, n_digits, values).";

PyMethodDef methods[] = {
    {"read_split", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read_split)),
     METH_FASTCALL, kReadSplitDoc},
    {"names", &names, METH_O, "names(path, /)\n--\n\nThe name lines, the header alone read."},
    {"read_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read_columns)),
     METH_FASTCALL,
     "read_columns(path, n_digits, columns, threads, /)\n--\n\nThe time and `columns` of every "
     "step."},
    {"open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&open)), METH_FASTCALL,
     kOpenDoc},
    {"arrow_schema", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_schema)),
     METH_FASTCALL, kArrowSchemaDoc},
    {"arrow_stream", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_stream)),
     METH_FASTCALL, kArrowStreamDoc},
    {"batch_steps", &arrow_batch_steps, METH_O, kBatchStepsDoc},
    {"write_steps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&write_steps)),
     METH_FASTCALL, kWriteStepsDoc},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) noexcept {
  PyObject* type = make_values_type(module);
  if (type == nullptr) return -1;
  state_of(module)->values_type = type;  // the state's reference
  if (PyModule_AddObjectRef(module, "Values", type) < 0) return -1;
  PyObject* plot_file = make_plot_file_type(module);
  if (plot_file == nullptr) return -1;
  state_of(module)->plot_file_type = plot_file;
  if (PyModule_AddObjectRef(module, "PlotFile", plot_file) < 0) return -1;
  if (PyModule_AddFunctions(module, partition_methods) < 0) return -1;
  return PyModule_AddFunctions(module, compare_methods);
}

int traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  Py_VISIT(state_of(module)->values_type);
  Py_VISIT(state_of(module)->plot_file_type);
  return 0;
}

int clear(PyObject* module) noexcept {
  Py_CLEAR(state_of(module)->values_type);
  Py_CLEAR(state_of(module)->plot_file_type);
  return 0;
}

void free_module(void* module) noexcept {
  clear(static_cast<PyObject*>(module));
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#if TARNEX_HAS_MOD_GIL_SLOT
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vormant._reader",
    "The native reader of vormant: one plot file into a float32 block.",
    sizeof(ModuleState),
    methods,
    slots,
    traverse,
    clear,
    free_module,
};

}  // namespace
}  // namespace tarnex::vormant

PyMODINIT_FUNC PyInit__reader(void) {
  return PyModuleDef_Init(&tarnex::vormant::module_def);
}
