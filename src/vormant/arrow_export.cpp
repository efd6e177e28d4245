#include "vormant/arrow_export.hpp"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vormant/arrow_schema.hpp"
#include "vormant/arrow_stream.hpp"
#include "vormant/float_block.hpp"
#include "vormant/module_support.hpp"

namespace tarnex::vormant {
namespace {

constexpr char kSchemaCapsule[] = "arrow_schema";
constexpr char kStreamCapsule[] = "arrow_array_stream";

constexpr const char* kNamesType = "names must be a tuple of at least one str";
constexpr const char* kNameWithNul = "a column name cannot hold a NUL character: %R";
constexpr const char* kMetadataType = "metadata must be a dict of bytes to bytes";
constexpr const char* kValuesLayout =
    "values must be a C-contiguous 2-dimensional buffer of format 'f'";
constexpr const char* kValuesWidth = "values have %zd columns for %zd names";
constexpr const char* kSchemaType =
    "requested_schema must be None or an \"arrow_schema\" PyCapsule, not %.200s";
constexpr const char* kSchemaUnmet =
    "requested_schema cannot be met: the plot gives its %zd parameters as float32 columns "
    "named by their name lines, the time first, and no other schema";

struct DecRef {
  void operator()(PyObject* object) const noexcept { Py_DECREF(object); }
};
using OwnedRef = std::unique_ptr<PyObject, DecRef>;

template <class Node>
constexpr const char* capsule_name = nullptr;
template <>
constexpr const char* capsule_name<ArrowSchema> = kSchemaCapsule;
template <>
constexpr const char* capsule_name<ArrowArrayStream> = kStreamCapsule;

// A node made here for a capsule: released, if its consumer has not moved it out, then freed.
template <class Node>
struct NodeDeleter {
  void operator()(Node* node) const noexcept {
    if (node->release != nullptr) node->release(node);
    delete node;
  }
};
template <class Node>
using OwnedNode = std::unique_ptr<Node, NodeDeleter<Node>>;

template <class Node>
void destroy_capsule(PyObject* capsule) noexcept {
  const OwnedNode<Node> node(static_cast<Node*>(PyCapsule_GetPointer(capsule, capsule_name<Node>)));
}

// A capsule that takes over `node`; null with an exception set, the node dropped.
template <class Node>
PyObject* capsule_of(OwnedNode<Node> node) noexcept {
  PyObject* capsule = PyCapsule_New(node.get(), capsule_name<Node>, &destroy_capsule<Node>);
  if (capsule != nullptr) node.release();
  return capsule;
}

// Lets go of a buffer view from any thread. A stream is released when its consumer is done,
// which may be on a thread of the consumer's own that does not hold the interpreter lock.
void release_view(Py_buffer& view) noexcept {
  if (py::holds_interpreter_lock()) {
    PyBuffer_Release(&view);
    return;
  }
  // The lock of an ending interpreter cannot be taken; the buffer's memory ends with it.
  if (py::interpreter_is_ending()) return;
  const PyGILState_STATE state = PyGILState_Ensure();
  PyBuffer_Release(&view);
  PyGILState_Release(state);
}

struct ViewRelease {
  void operator()(Py_buffer* view) const noexcept {
    release_view(*view);
    delete view;
  }
};

bool names_argument(PyObject* object, std::vector<std::string>& names) {
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) == 0) {
    PyErr_SetString(PyExc_TypeError, kNamesType);
    return false;
  }
  names.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(object)));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i) {
    PyObject* name = PyTuple_GET_ITEM(object, i);
    if (!PyUnicode_Check(name)) {
      PyErr_SetString(PyExc_TypeError, kNamesType);
      return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) return false;
    // An Arrow name ends at its first NUL.
    if (std::memchr(text, '\0', static_cast<std::size_t>(size)) != nullptr) {
      PyErr_Format(PyExc_ValueError, kNameWithNul, name);
      return false;
    }
    names.emplace_back(text, static_cast<std::size_t>(size));
  }
  return true;
}

std::string bytes_text(PyObject* bytes) {
  return std::string(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
}

bool metadata_argument(PyObject* object, std::string& encoded) {
  if (!PyDict_Check(object)) {
    PyErr_SetString(PyExc_TypeError, kMetadataType);
    return false;
  }
  const OwnedRef items(PyDict_Items(object));  // a list of its own, whatever the dict does
  if (items == nullptr) return false;
  std::vector<std::pair<std::string, std::string>> pairs;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* key = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 0);
    PyObject* value = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 1);
    if (!PyBytes_Check(key) || !PyBytes_Check(value)) {
      PyErr_SetString(PyExc_TypeError, kMetadataType);
      return false;
    }
    pairs.emplace_back(bytes_text(key), bytes_text(value));
  }
  encoded = encode_metadata(pairs);
  return true;
}

bool layout_arguments(PyObject* names, PyObject* metadata, ColumnLayout& layout) {
  return names_argument(names, layout.names) && metadata_argument(metadata, layout.metadata);
}

bool schema_met(PyObject* requested, const ColumnLayout& layout) noexcept {
  if (requested == Py_None) return true;
  if (!PyCapsule_IsValid(requested, kSchemaCapsule)) {
    PyErr_Format(PyExc_TypeError, kSchemaType, Py_TYPE(requested)->tp_name);
    return false;
  }
  const auto* schema =
      static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, kSchemaCapsule));
  if (same_columns(*schema, layout)) return true;
  PyErr_Format(PyExc_ValueError, kSchemaUnmet, layout.names.size());
  return false;
}

// The rows of `object`'s buffer, which the stream holds until it is released.
bool rows_argument(PyObject* object, std::size_t parameters, RowBlock& rows) {
  auto taken = std::make_unique<Py_buffer>();
  if (PyObject_GetBuffer(object, taken.get(), PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
    return false;
  }
  const std::shared_ptr<Py_buffer> view(taken.release(), ViewRelease{});
  if (!is_float_block(*view)) {
    PyErr_SetString(PyExc_TypeError, kValuesLayout);
    return false;
  }
  const auto columns = static_cast<std::size_t>(view->shape[1]);
  if (columns != parameters) {
    PyErr_Format(PyExc_ValueError, kValuesWidth, view->shape[1], parameters);
    return false;
  }
  rows = RowBlock{static_cast<const float*>(view->buf), static_cast<std::size_t>(view->shape[0]),
                  columns, view};
  return true;
}

PyObject* new_schema(PyObject* const* args) {
  ColumnLayout layout;
  if (!layout_arguments(args[0], args[1], layout)) return nullptr;
  OwnedNode<ArrowSchema> schema(new ArrowSchema{});
  export_schema(layout, *schema);
  return capsule_of(std::move(schema));
}

PyObject* new_stream(PyObject* const* args) {
  ColumnLayout layout;
  RowBlock rows{};
  if (!layout_arguments(args[1], args[2], layout) || !schema_met(args[3], layout) ||
      !rows_argument(args[0], layout.names.size(), rows)) {
    return nullptr;
  }
  OwnedNode<ArrowArrayStream> stream(new ArrowArrayStream{});
  export_stream(std::move(rows), std::move(layout), *stream);
  return capsule_of(std::move(stream));
}

// `body`'s result, or what it threw raised: allocations are all that throw in an export.
template <class Body>
PyObject* exported(Body&& body) noexcept {
  auto outcome = guarded(body);
  if (auto* result = std::get_if<PyObject*>(&outcome)) return *result;
  return raise_outcome(outcome, {});
}

}  // namespace

PyObject* arrow_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("arrow_schema", nargs, 2)) return nullptr;
  return exported([&] { return new_schema(args); });
}

PyObject* arrow_stream(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("arrow_stream", nargs, 4)) return nullptr;
  return exported([&] { return new_stream(args); });
}

PyObject* arrow_batch_steps(PyObject*, PyObject* arg) noexcept {
  std::size_t parameters = 0;
  if (!integer_argument(arg, "parameters", parameters, std::size_t{1},
                        std::numeric_limits<std::size_t>::max() / sizeof(float))) {
    return nullptr;
  }
  return PyLong_FromSize_t(batch_steps(parameters));
}

}  // namespace tarnex::vormant
