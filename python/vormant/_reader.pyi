"""The native reader: one plot file into a float32 block, without the interpreter lock."""

import sys
from typing import final

from typing_extensions import Buffer

@final
class Values:
    """The (steps, parameters) float32 block of a file, exported through the buffer protocol."""

    if sys.version_info >= (3, 12):
        def __buffer__(self, flags: int, /) -> memoryview: ...

# The block is typed as what it is used for: a buffer (Values is one from Python 3.12 on).
def read(path: bytes, n_digits: int | None, /) -> tuple[tuple[str, ...], int, Buffer]: ...

# Capsules of the Arrow PyCapsule interface: "arrow_schema" and "arrow_array_stream".
def arrow_schema(names: tuple[str, ...], metadata: dict[bytes, bytes], /) -> object: ...
def arrow_stream(values: Buffer, names: tuple[str, ...], metadata: dict[bytes, bytes],
                 requested_schema: object | None, /) -> object: ...
