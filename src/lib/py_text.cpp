#include "lib/py_text.hpp"

#include <string_view>

#include "boundary/py_errors.hpp"
#include "text/utf8_lossy.hpp"

namespace tarnex {
namespace {

constexpr std::string_view kUnprintableStart = "<unprintable ";
constexpr std::string_view kUnprintableEnd = " object>";
constexpr std::string_view kUnprintableObject = "<unprintable object>";
constexpr std::string_view kNoTypeName = "<failed to extract type name>";
constexpr std::string_view kNoRepr = "<repr failed>";

std::string_view bytes_view(PyObject* bytes) {
  return std::string_view(PyBytes_AS_STRING(bytes),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
}

// repr() of `object` for a debug text; a repr that fails is named as such.
std::string repr_text(PyObject* object) {
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (!repr) {
    PyErr_Clear();
    return std::string(kNoRepr);
  }
  return utf8_text(repr.get());
}

}  // namespace

std::string utf8_text(PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
    return std::string(utf8, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  PyRef bytes = owned_or_fatal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  return utf8_lossy(bytes_view(bytes.get()));
}

std::string display_text(PyObject* object) {
  if (PyRef text = PyRef::steal(PyObject_Str(object))) return utf8_text(text.get());
  PyErr_WriteUnraisable(object);
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    return std::string(kUnprintableObject);
  }
  std::string result(kUnprintableStart);
  result.append(utf8_text(name.get())).append(kUnprintableEnd);
  return result;
}

std::string type_qualname_text(PyObject* object) {
  PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return std::string(kNoTypeName);
  }
  return utf8_text(name.get());
}

std::string debug_text(PyObject* exception) {
  PyRef traceback = PyRef::steal(PyException_GetTraceback(exception));
  std::string text = "{type: ";
  text.append(repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception))));
  text.append(", value: ").append(repr_text(exception));
  text.append(", traceback: ").append(traceback ? repr_text(traceback.get()) : "None");
  text.append("}");
  return text;
}

}  // namespace tarnex
