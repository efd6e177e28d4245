#include "vormant/plot_file_type.hpp"

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "reader/thread_split.hpp"
#include "vormant/envelope_result.hpp"
#include "vormant/guarded.hpp"
#include "vormant/module_support.hpp"
#include "vormant/open_plot.hpp"
#include "vormant/plot_envelope.hpp"
#include "vormant/values_type.hpp"

namespace tarnex::vormant {
namespace {

struct PlotFileObject {
  PyObject_HEAD OpenPlot* plot;  // owned; null once closed
  // Reads share the file; refreshing and closing it wait for them and keep them out.
  std::shared_mutex* lock;  // owned
  std::string* path;        // owned: the bytes it was opened by, for its failures
  PyTypeObject* values_type;
};

PlotFileObject* as_plot_file(PyObject* self) noexcept {
  return reinterpret_cast<PlotFileObject*>(self);
}

PyObject* raise_closed() noexcept {
  PyErr_SetString(PyExc_ValueError, "I/O operation on a closed plot file");
  return nullptr;
}

// first, stride, count: steps first, first + stride, ..., all within [0, steps).
bool steps_argument(PyObject* const* args, std::size_t steps, StepSelection& selection) noexcept {
  long long first = 0;
  long long stride = 0;
  long long count = 0;
  if (!integer_argument(args[0], "first", first) ||
      !integer_argument(args[1], "stride", stride, LLONG_MIN + 1) ||
      !integer_argument(args[2], "count", count)) {
    return false;
  }
  if (count > 0) {
    long long last = 0;  // first + (count - 1) * stride, the last step, when it is a long long
    if (stride == 0 || static_cast<unsigned long long>(first) >= steps ||
        __builtin_mul_overflow(count - 1, stride, &last) ||
        __builtin_add_overflow(first, last, &last) || last < 0 ||
        static_cast<unsigned long long>(last) >= steps) {
      PyErr_SetString(PyExc_IndexError, "time steps out of range");
      return false;
    }
  }
  selection = {.first = static_cast<std::size_t>(first),
               .stride = static_cast<std::ptrdiff_t>(stride),
               .count = static_cast<std::size_t>(count)};
  return true;
}

// Runs `work(plot)` without the interpreter lock, holding the file's lock shared or alone.
template <bool kAlone, class Work>
auto with_plot(PlotFileObject* self, Work&& work) noexcept {
  return without_interpreter_lock([&] {
    if constexpr (kAlone) {
      std::unique_lock hold(*self->lock);
      return guarded([&] { return work(self->plot); });
    } else {
      std::shared_lock hold(*self->lock);
      return guarded([&] { return work(self->plot); });
    }
  });
}

// The columns and steps a read or an envelope takes, checked against the open file.
struct Selection {
  std::size_t parameters = 0;
  std::optional<std::vector<std::uint64_t>> columns;  // none: every parameter
  StepSelection steps;

  ColumnPlan plan() const {
    return columns ? ColumnPlan::chosen(parameters, *columns) : ColumnPlan::all(parameters);
  }
};

// The columns of `selection` the file has; false with an exception set when it lacks one.
bool columns_present(const Selection& selection) noexcept {
  if (!selection.columns) return true;
  const auto checked = guarded([&] { check_columns(*selection.columns, selection.parameters); });
  if (std::holds_alternative<Done>(checked)) return true;
  raise_outcome(checked, {});
  return false;
}

// columns, first, stride, count: false with an exception set when unusable or closed.
bool selection_arguments(PlotFileObject* self, PyObject* const* args,
                         Selection& selection) noexcept {
  std::shared_lock hold(*self->lock);  // see read_open
  if (self->plot == nullptr) {
    raise_closed();
    return false;
  }
  selection.parameters = self->plot->names().size();
  return columns_argument(args[0], selection.columns) && columns_present(selection) &&
         steps_argument(args + 1, self->plot->steps(), selection.steps);
}

// read(columns, first, stride, count, threads, /) -> Values
PyObject* read(PyObject* object, PyObject* const* args, Py_ssize_t nargs) noexcept {
  PlotFileObject* self = as_plot_file(object);
  Selection selection;
  long long threads = 0;
  if (!arity("read", nargs, 5) || !selection_arguments(self, args, selection) ||
      !integer_argument(args[4], "threads", threads)) {
    return nullptr;
  }
  auto outcome = with_plot<false>(self, [&](OpenPlot* plot) -> std::unique_ptr<PlotData> {
    if (plot == nullptr) return nullptr;  // closed meanwhile
    // The index only grows, so the steps checked above are still there.
    return std::make_unique<PlotData>(plot->read(
        selection.steps, selection.plan(), at_most_usable(static_cast<std::uint64_t>(threads))));
  });
  if (auto* data = std::get_if<std::unique_ptr<PlotData>>(&outcome)) {
    if (*data == nullptr) return raise_closed();
    return new_values(self->values_type, std::move(*data));
  }
  return raise_outcome(outcome, *self->path);
}

// envelope(columns, first, stride, count, buckets, threads, /) -> (start, time_first, ...)
PyObject* envelope(PyObject* object, PyObject* const* args, Py_ssize_t nargs) noexcept {
  PlotFileObject* self = as_plot_file(object);
  Selection selection;
  long long buckets = 0;
  long long threads = 0;
  if (!arity("envelope", nargs, 6) || !selection_arguments(self, args, selection) ||
      !integer_argument(args[4], "buckets", buckets, 1LL) ||
      !integer_argument(args[5], "threads", threads)) {
    return nullptr;
  }
  if (selection.columns ? selection.columns->empty() : selection.parameters < 2) {
    return PyErr_Format(PyExc_ValueError, "an envelope needs at least one parameter");
  }
  auto outcome = with_plot<false>(self, [&](OpenPlot* plot) -> std::unique_ptr<Envelope> {
    if (plot == nullptr) return nullptr;  // closed meanwhile
    return std::make_unique<Envelope>(
        envelope_of(*plot, selection.steps, selection.plan(), static_cast<std::size_t>(buckets),
                    at_most_usable(static_cast<std::uint64_t>(threads))));
  });
  if (auto* result = std::get_if<std::unique_ptr<Envelope>>(&outcome)) {
    if (*result == nullptr) return raise_closed();
    return envelope_tuple(self->values_type, **result);
  }
  return raise_outcome(outcome, *self->path);
}

// first, count: steps first .. first + count - 1 of the file's, checked under its lock.
bool copied_steps_arguments(PlotFileObject* self, PyObject* const* args, std::size_t& first,
                            std::size_t& count) noexcept {
  long long from = 0;
  long long many = 0;
  if (!integer_argument(args[0], "first", from) || !integer_argument(args[1], "count", many)) {
    return false;
  }
  std::shared_lock hold(*self->lock);  // see read_open
  if (self->plot == nullptr) {
    raise_closed();
    return false;
  }
  const std::size_t steps = self->plot->steps();
  if (many > 0 &&
      (static_cast<unsigned long long>(from) >= steps ||
       static_cast<unsigned long long>(many) > steps - static_cast<std::size_t>(from))) {
    PyErr_SetString(PyExc_IndexError, "time steps out of range");
    return false;
  }
  first = static_cast<std::size_t>(from);
  count = static_cast<std::size_t>(many);
  return true;
}

// copy_steps(fd, first, count, first_number, /) -> 0 or the errno of the write that failed
PyObject* copy_steps(PyObject* object, PyObject* const* args, Py_ssize_t nargs) noexcept {
  PlotFileObject* self = as_plot_file(object);
  int fd = -1;
  std::size_t first = 0;
  std::size_t count = 0;
  long long first_number = 0;
  if (!arity("copy_steps", nargs, 4) || !fd_argument(args[0], fd) ||
      !copied_steps_arguments(self, args + 1, first, count) ||
      !integer_argument(args[3], "first_number", first_number)) {
    return nullptr;
  }
  auto outcome = with_plot<false>(self, [&](OpenPlot* plot) -> int {
    if (plot == nullptr) return -1;  // closed meanwhile
    // The index only grows, so the steps checked above are still there.
    return plot->copy_steps(first, count, fd, static_cast<std::uint64_t>(first_number));
  });
  if (const int* failure = std::get_if<int>(&outcome)) {
    return *failure < 0 ? raise_closed() : PyLong_FromLong(*failure);
  }
  return raise_outcome(outcome, *self->path);
}

PyObject* refresh(PyObject* object, PyObject*) noexcept {
  PlotFileObject* self = as_plot_file(object);
  auto outcome = with_plot<true>(self, [](OpenPlot* plot) -> long long {
    return plot == nullptr ? -1 : static_cast<long long>(plot->refresh());
  });
  if (auto* added = std::get_if<long long>(&outcome)) {
    return *added < 0 ? raise_closed() : PyLong_FromLongLong(*added);
  }
  return raise_outcome(outcome, *self->path);
}

PyObject* check_complete(PyObject* object, PyObject*) noexcept {
  PlotFileObject* self = as_plot_file(object);
  auto outcome = with_plot<false>(self, [](OpenPlot* plot) {
    if (plot != nullptr) plot->check_complete();
  });
  if (std::holds_alternative<Done>(outcome)) Py_RETURN_NONE;
  return raise_outcome(outcome, *self->path);
}

PyObject* close(PyObject* object, PyObject*) noexcept {
  PlotFileObject* self = as_plot_file(object);
  // Waits for the reads under way; the descriptor is closed once they are done.
  std::unique_ptr<OpenPlot> closing;
  Py_BEGIN_ALLOW_THREADS {
    std::unique_lock hold(*self->lock);
    closing.reset(std::exchange(self->plot, nullptr));
  }
  closing.reset();
  Py_END_ALLOW_THREADS Py_RETURN_NONE;
}

// What a getter reads of the open file, under its lock. Taken with the interpreter lock held:
// whoever holds the file's lock never waits for the interpreter's.
template <class Read>
PyObject* read_open(PyObject* object, Read&& read_value) noexcept {
  PlotFileObject* self = as_plot_file(object);
  std::shared_lock hold(*self->lock);
  if (self->plot == nullptr) return raise_closed();
  return read_value(*self->plot);
}

PyObject* get_names(PyObject* object, void*) noexcept {
  return read_open(object, [](const OpenPlot& plot) { return names_tuple(plot.names()); });
}

PyObject* get_steps(PyObject* object, void*) noexcept {
  return read_open(object, [](const OpenPlot& plot) { return PyLong_FromSize_t(plot.steps()); });
}

PyObject* get_n_digits(PyObject* object, void*) noexcept {
  return read_open(object, [](const OpenPlot& plot) -> PyObject* {
    const std::optional<std::uint64_t> width = plot.n_digits();
    if (!width) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(*width);
  });
}

PyObject* get_closed(PyObject* object, void*) noexcept {
  return PyBool_FromLong(as_plot_file(object)->plot == nullptr);
}

void dealloc(PyObject* object) noexcept {
  PlotFileObject* self = as_plot_file(object);
  PyTypeObject* type = Py_TYPE(object);
  delete self->plot;
  delete self->lock;
  delete self->path;
  Py_XDECREF(self->values_type);
  type->tp_free(object);
  Py_DECREF(type);
}

PyMethodDef methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read)), METH_FASTCALL,
     "read(columns, first, stride, count, threads, /): the chosen columns (None: all) of steps "
     "first, first + stride, ... (count of them) as a Values block."},
    {"envelope", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&envelope)),
     METH_FASTCALL,
     "envelope(columns, first, stride, count, buckets, threads, /): the steps read() would "
     "select cut into min(buckets, count) groups; (start, time_first, time_last, first, last, "
     "min, max) of the groups."},
    {"copy_steps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&copy_steps)),
     METH_FASTCALL,
     "copy_steps(fd, first, count, first_number, /): steps first .. first + count - 1 written "
     "to the file descriptor fd as they are in the file, their lead lines numbered anew from "
     "first_number on; returns 0, or the errno of the write that failed."},
    {"refresh", &refresh, METH_NOARGS, "Indexes the steps completed since; returns how many."},
    {"check_complete", &check_complete, METH_NOARGS,
     "Raises the failure of a time step the file ends inside, unless it is growing."},
    {"close", &close, METH_NOARGS, "Closes the file; later reads raise ValueError."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"names", &get_names, nullptr, "The trimmed name lines, the time's first.", nullptr},
    {"steps", &get_steps, nullptr, "The complete time steps indexed.", nullptr},
    {"n_digits", &get_n_digits, nullptr, "The field width, None while unknown.", nullptr},
    {"closed", &get_closed, nullptr, "Whether the file is closed.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>("A plot file held open with its block index.")},
    {0, nullptr},
};

PyType_Spec type_definition = {
    "vormant._reader.PlotFile",
    sizeof(PlotFileObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

PyObject* names_tuple(const std::vector<std::string>& names) noexcept {
  // Name lines are valid UTF-8: the reader refuses any other line.
  return tuple_of(names, [](const std::string& name) {
    return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr);
  });
}

PyObject* make_plot_file_type(PyObject* module) noexcept {
  return PyType_FromModuleAndSpec(module, &type_definition, nullptr);
}

PyObject* new_plot_file(PyTypeObject* type, PyTypeObject* values_type, std::string_view path,
                        std::optional<std::uint64_t> n_digits, bool growing) noexcept {
  auto outcome = without_interpreter_lock(
      [&] { return guarded([&] { return std::make_unique<OpenPlot>(path, n_digits, growing); }); });
  auto* opened = std::get_if<std::unique_ptr<OpenPlot>>(&outcome);
  if (opened == nullptr) return raise_outcome(outcome, path);
  std::unique_ptr<std::shared_mutex> lock(new (std::nothrow) std::shared_mutex);
  std::unique_ptr<std::string> kept_path;
  try {
    kept_path = std::make_unique<std::string>(path);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (lock == nullptr) return PyErr_NoMemory();
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) return nullptr;
  PlotFileObject* self = as_plot_file(object);
  self->plot = opened->release();
  self->lock = lock.release();
  self->path = kept_path.release();
  self->values_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(values_type));
  return object;
}

}  // namespace tarnex::vormant
