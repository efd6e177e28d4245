#include "vormant/values_type.hpp"

namespace tarnex::vormant {
namespace {

struct ValuesObject {
  PyObject_HEAD
  PlotData* data;  // owned
  // What the buffer's shape and strides point at, for as long as the object lives.
  Py_ssize_t shape[2];
  Py_ssize_t strides[2];
};

constexpr char kFormat[] = "f";
constexpr const char* kDoc =
    "The (steps, parameters) float32 block of a plot file, exported through the buffer "
    "protocol.";

// The address a buffer of no values points at: a valid one, never dereferenced.
float empty_block[1];

ValuesObject* as_values(PyObject* self) noexcept { return reinterpret_cast<ValuesObject*>(self); }

// A C-contiguous block is also Fortran-contiguous only when it has at most one row or column.
bool is_fortran_contiguous(const ValuesObject& values) noexcept {
  return values.shape[0] <= 1 || values.shape[1] <= 1;
}

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
  ValuesObject* values = as_values(self);
  if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && !is_fortran_contiguous(*values)) {
    view->obj = nullptr;
    PyErr_SetString(PyExc_BufferError, "Values is C-contiguous, not Fortran-contiguous");
    return -1;
  }
  float* data = values->data->values.data();
  view->buf = data != nullptr ? data : empty_block;
  view->obj = Py_NewRef(self);
  view->len = values->shape[0] * values->strides[0];
  view->readonly = 0;
  view->itemsize = sizeof(float);
  view->format = (flags & PyBUF_FORMAT) != 0 ? const_cast<char*>(kFormat) : nullptr;
  const bool with_shape = (flags & PyBUF_ND) == PyBUF_ND;
  view->ndim = with_shape ? 2 : 1;
  view->shape = with_shape ? values->shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? values->strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete as_values(self)->data;
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot values_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {0, nullptr},
};

PyType_Spec values_type_definition = {
    "vormant._reader.Values",
    sizeof(ValuesObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    values_slots,
};

}  // namespace

PyObject* make_values_type(PyObject* module) noexcept {
  return PyType_FromModuleAndSpec(module, &values_type_definition, nullptr);
}

PyObject* new_values(PyTypeObject* type, std::unique_ptr<PlotData> data) noexcept {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  ValuesObject* values = as_values(self);
  // Every value is in memory, so both dimensions and the block's size fit Py_ssize_t.
  const auto columns = static_cast<Py_ssize_t>(data->parameters);
  values->shape[0] = static_cast<Py_ssize_t>(data->steps());
  values->shape[1] = columns;
  values->strides[0] = columns * static_cast<Py_ssize_t>(sizeof(float));
  values->strides[1] = sizeof(float);
  values->data = data.release();
  return self;
}

}  // namespace tarnex::vormant
