// Texts taken from interpreter objects for the module's messages.
#pragma once

#include <string>

#include "boundary/py_compat.hpp"

namespace tarnex {

// The UTF-8 text of the str `text`. A str holding lone surrogates, which has no UTF-8 form,
// gives its surrogate-passing bytes with every ill-formed sequence replaced by U+FFFD.
std::string utf8_text(PyObject* text);

// str() of `object` as UTF-8. When str() fails, the failure goes to the unraisable hook and
// the text is "<unprintable {type name} object>" (or "<unprintable object>").
std::string display_text(PyObject* object);

// The qualified name of the type of `object`, or "<failed to extract type name>".
std::string type_qualname_text(PyObject* object);

// The type, value and traceback of the exception object `exception`, for fatal messages.
std::string debug_text(PyObject* exception);

}  // namespace tarnex
