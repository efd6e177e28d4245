"""A consumer of the Arrow C stream interface in ctypes, with no Arrow library: it reads what a
PyCapsule holds and calls the release callbacks itself, so the tests can watch them.

ctypes calls the callbacks with the interpreter lock released, as a consumer's own thread would.
"""

import ctypes
import struct
from ctypes import POINTER, c_char_p, c_int, c_int64, c_void_p


class ArrowSchema(ctypes.Structure):
    pass


ArrowSchema._fields_ = [
    ("format", c_char_p), ("name", c_char_p), ("metadata", c_void_p), ("flags", c_int64),
    ("n_children", c_int64), ("children", POINTER(POINTER(ArrowSchema))),
    ("dictionary", c_void_p), ("release", c_void_p), ("private_data", c_void_p),
]


class ArrowArray(ctypes.Structure):
    pass


ArrowArray._fields_ = [
    ("length", c_int64), ("null_count", c_int64), ("offset", c_int64), ("n_buffers", c_int64),
    ("n_children", c_int64), ("buffers", POINTER(c_void_p)),
    ("children", POINTER(POINTER(ArrowArray))), ("dictionary", c_void_p),
    ("release", c_void_p), ("private_data", c_void_p),
]


class ArrowArrayStream(ctypes.Structure):
    _fields_ = [("get_schema", c_void_p), ("get_next", c_void_p), ("get_last_error", c_void_p),
                ("release", c_void_p), ("private_data", c_void_p)]


_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = c_void_p
_get_pointer.argtypes = [ctypes.py_object, c_char_p]


def in_capsule(capsule, kind, name):
    """The struct a capsule holds, in place; it keeps the capsule alive."""
    node = kind.from_address(_get_pointer(capsule, name))
    node.capsule = capsule
    return node


def stream_in(capsule):
    return in_capsule(capsule, ArrowArrayStream, b"arrow_array_stream")


def schema_in(capsule):
    return in_capsule(capsule, ArrowSchema, b"arrow_schema")


def release(node):
    """Calls a node's release callback; it must mark the node released."""
    assert node.release, "released twice"
    ctypes.CFUNCTYPE(None, POINTER(type(node)))(node.release)(ctypes.byref(node))
    assert not node.release


def move(node):
    """Moves a node out of where it is, as a consumer takes over a producer's struct."""
    moved = type(node)()
    ctypes.pointer(moved)[0] = node
    node.release = None
    return moved


def decode_metadata(address):
    """Key-value metadata: a count, then each key and value after its length (int32 each)."""
    if not address:
        return {}

    def take(size):
        nonlocal address
        data = ctypes.string_at(address, size)
        address += size
        return data

    def sized():
        return take(struct.unpack("=i", take(4))[0])

    return dict((sized(), sized()) for _ in range(struct.unpack("=i", take(4))[0]))


def read_schema(schema):
    """(names, metadata) of a struct of float32 fields; releases the schema."""
    assert schema.format == b"+s"
    fields = [schema.children[i].contents for i in range(schema.n_children)]
    assert all(field.format == b"f" and field.n_children == 0 for field in fields)
    names = [field.name.decode() for field in fields]
    metadata = decode_metadata(schema.metadata)
    release(schema)
    return names, metadata


def get_schema(stream):
    schema = ArrowSchema()
    call = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
    assert call(stream.get_schema)(ctypes.byref(stream), ctypes.byref(schema)) == 0
    return schema


def last_error(stream):
    return ctypes.CFUNCTYPE(c_char_p, POINTER(ArrowArrayStream))(stream.get_last_error)(
        ctypes.byref(stream))


def next_batch(stream):
    """The stream's next batch, or None at its end."""
    batch = ArrowArray()
    call = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
    assert call(stream.get_next)(ctypes.byref(stream), ctypes.byref(batch)) == 0
    return batch if batch.release else None


def column_bytes(column):
    """The float32 values of a column without nulls, as bytes."""
    assert (column.n_buffers, column.null_count, column.buffers[0]) == (2, 0, None)
    return ctypes.string_at(column.buffers[1] + 4 * column.offset, 4 * column.length)


def batch_columns(batch):
    return [column_bytes(batch.children[i].contents) for i in range(batch.n_children)]


def read_stream(stream):
    """(names, metadata, the bytes of each column) of a whole stream; releases it all."""
    names, metadata = read_schema(get_schema(stream))
    columns = [b""] * len(names)
    while (batch := next_batch(stream)) is not None:
        assert batch.n_children == len(names)
        columns = [done + more for done, more in zip(columns, batch_columns(batch))]
        release(batch)
    assert last_error(stream) is None
    release(stream)
    return names, metadata, columns
