// vormant._reader's Arrow exports, as PyCapsules of the Arrow PyCapsule interface:
//   arrow_schema(names, metadata, /) -> "arrow_schema" capsule
//   arrow_stream(values, names, metadata, requested_schema, /) -> "arrow_array_stream" capsule
//   batch_steps(parameters, /) -> the time steps in each record batch of such a stream
// `values` is any C-contiguous (steps, parameters) buffer of format 'f'; `names` a tuple of one
// str per parameter; `metadata` a dict of bytes to bytes for the schema.
#pragma once

#include "boundary/py_compat.hpp"

namespace tarnex::vormant {

PyObject* arrow_schema(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;
PyObject* arrow_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;
PyObject* arrow_batch_steps(PyObject* module, PyObject* arg) noexcept;

inline constexpr const char* kArrowSchemaDoc =
    "arrow_schema(names, metadata, /)\n--\n\n"
    "An \"arrow_schema\" PyCapsule: a struct of one float32 field per name, with `metadata`\n"
    "(a dict of bytes to bytes).";

inline constexpr const char* kArrowStreamDoc =
    "arrow_stream(values, names, metadata, requested_schema, /)\n--\n\n"
    "An \"arrow_array_stream\" PyCapsule of record batches of `values` (a C-contiguous\n"
    "(steps, parameters) buffer of format 'f'), a float32 column per name. The stream holds\n"
    "the buffer until it is released. `requested_schema`: None or an \"arrow_schema\" capsule\n"
    "of the same columns.";

inline constexpr const char* kBatchStepsDoc =
    "batch_steps(parameters, /)\n--\n\n"
    "The time steps in each record batch (the last may have fewer) of a stream of `parameters`\n"
    "columns.";

}  // namespace tarnex::vormant
