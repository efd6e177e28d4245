// vormant._reader: read(path, n_digits, /) -> (names, n_digits, Values), the plot file read with
// the interpreter lock released; arrow_schema and arrow_stream, a plot's Arrow exports.
#include <cstring>
#include <optional>

#include "vormant/arrow_export.hpp"
#include "vormant/load_plot.hpp"
#include "vormant/raise_failure.hpp"
#include "vormant/values_type.hpp"

namespace tarnex::vormant {
namespace {

constexpr long kWidths[] = {12, 15};

struct ModuleState {
  PyObject* values_type;
};

ModuleState* state_of(PyObject* module) noexcept {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// Runs `body` with the interpreter lock released; `body` must not touch Python objects.
template <class Body>
auto without_interpreter_lock(Body&& body) noexcept {
  PyThreadState* saved = PyEval_SaveThread();
  auto outcome = body();
  PyEval_RestoreThread(saved);
  return outcome;
}

// n_digits: None, 12 or 15. False with an exception set when it is none of these.
bool width_argument(PyObject* object, std::optional<std::uint64_t>& width) noexcept {
  if (object == Py_None) return true;
  if (!PyLong_Check(object) || PyBool_Check(object)) {
    PyErr_Format(PyExc_TypeError, "read() argument 2 must be int or None, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  }
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred() != nullptr) return false;
  for (const long known : kWidths) {
    if (overflow == 0 && value == known) {
      width = static_cast<std::uint64_t>(value);
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError, "n_digits must be 12, 15 or None, not %R", object);
  return false;
}

// path: bytes without NUL. False with an exception set otherwise.
bool path_argument(PyObject* object, std::string_view& path) noexcept {
  if (!PyBytes_Check(object)) {
    PyErr_Format(PyExc_TypeError, "read() argument 1 must be bytes, not %.200s",
                 Py_TYPE(object)->tp_name);
    return false;
  }
  path = std::string_view(PyBytes_AS_STRING(object),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
  if (std::memchr(path.data(), '\0', path.size()) != nullptr) {
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    return false;
  }
  return true;
}

PyObject* names_tuple(const std::vector<std::string>& names) noexcept {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(names.size()));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    // Name lines are valid UTF-8: the reader refuses any other line.
    PyObject* name =
        PyUnicode_DecodeUTF8(names[i].data(), static_cast<Py_ssize_t>(names[i].size()), nullptr);
    if (name == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), name);
  }
  return tuple;
}

// (names, n_digits, values) for a file read; takes over its values.
PyObject* result_of(PyObject* module, LoadedPlot& plot) noexcept {
  std::unique_ptr<PlotData> data(new (std::nothrow) PlotData(std::move(plot.data)));
  if (data == nullptr) return PyErr_NoMemory();
  PyObject* values =
      new_values(reinterpret_cast<PyTypeObject*>(state_of(module)->values_type), std::move(data));
  if (values == nullptr) return nullptr;
  PyObject* names = names_tuple(plot.names);
  if (names == nullptr) {
    Py_DECREF(values);
    return nullptr;
  }
  return Py_BuildValue("(NKN)", names, static_cast<unsigned long long>(plot.n_digits), values);
}

PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 2) {
    return PyErr_Format(PyExc_TypeError, "read() takes exactly 2 arguments (%zd given)", nargs);
  }
  std::string_view path;
  std::optional<std::uint64_t> width;
  if (!path_argument(args[0], path) || !width_argument(args[1], width)) return nullptr;
  // The bytes object stays alive for the call: the caller holds it, and it cannot change.
  LoadOutcome outcome = without_interpreter_lock([&] { return load_plot(path, width); });
  if (auto* plot = std::get_if<LoadedPlot>(&outcome)) return result_of(module, *plot);
  if (auto* failure = std::get_if<PlotFileFailure>(&outcome)) {
    return raise_plot_file_failure(*failure, path);
  }
  if (auto* unexpected = std::get_if<UnexpectedFailure>(&outcome)) {
    return raise_unexpected(*unexpected);
  }
  return PyErr_NoMemory();
}

constexpr const char* kReadDoc =
    "read(path, n_digits, /)\n--\n\n"
    "Reads the plot file at `path` (bytes) with fields `n_digits` (12 or 15) bytes wide, or as\n"
    "wide as the first value line tells when it is None. Returns (names, n_digits, values).";

PyMethodDef methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read)), METH_FASTCALL,
     kReadDoc},
    {"arrow_schema", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_schema)),
     METH_FASTCALL, kArrowSchemaDoc},
    {"arrow_stream", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_stream)),
     METH_FASTCALL, kArrowStreamDoc},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) noexcept {
  PyObject* type = make_values_type(module);
  if (type == nullptr) return -1;
  state_of(module)->values_type = type;  // the state's reference
  return PyModule_AddObjectRef(module, "Values", type);
}

int traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  Py_VISIT(state_of(module)->values_type);
  return 0;
}

int clear(PyObject* module) noexcept {
  Py_CLEAR(state_of(module)->values_type);
  return 0;
}

void free_module(void* module) noexcept { clear(static_cast<PyObject*>(module)); }

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

PyMODINIT_FUNC PyInit__reader(void) { return PyModuleDef_Init(&tarnex::vormant::module_def); }
