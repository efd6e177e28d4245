"""One plot file in memory: its names and its values as one float32 block."""

from __future__ import annotations

import contextlib
import html
import os
from collections.abc import Iterator
from typing import TYPE_CHECKING, Any

from . import _arrow, _reader
from ._arguments import PathArgument
from ._optional import require

if TYPE_CHECKING:
    import numpy as _numpy  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import numpy.typing as _numpy_typing  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import pandas as _pandas  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import polars as _polars  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import pyarrow as _pyarrow  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import xarray as _xarray  # type: ignore[import-not-found, import-untyped, unused-ignore]


class Plot:
    """The content of a plot file: `names` (the time's first) and `values`, a row per time step.

    `values` is a memoryview of format 'f' and shape (steps, parameters), the time in column 0;
    every value is the binary32 number of its field.
    """

    __slots__ = ("_names", "_values", "_n_digits", "_path")

    def __init__(self, names: tuple[str, ...], values: memoryview, n_digits: int,
                 path: str) -> None:
        self._names = names
        self._values = values
        self._n_digits = n_digits
        self._path = path

    @property
    def names(self) -> tuple[str, ...]:
        """The parameter name lines, surrounding whitespace removed, the time's first."""
        return self._names

    @property
    def values(self) -> memoryview:
        return self._values

    @property
    def n_digits(self) -> int:
        """The field width in bytes the file was read with: 12 or 15 (0 only for a plot of no
        steps from a growing file whose width is not known yet)."""
        return self._n_digits

    @property
    def path(self) -> str:
        return self._path

    @property
    def steps(self) -> int:
        return len(self._values)

    @property
    def parameters(self) -> int:
        return len(self._names)

    def index(self, name: str) -> int:
        """The column of the parameter called `name` (its whole name line, trimmed)."""
        try:
            return self._names.index(name)
        except ValueError:
            raise KeyError(f"{self._path} has no parameter {name!r}") from None

    def to_numpy(self) -> _numpy_typing.NDArray[_numpy.float32]:
        """The values as a (steps, parameters) float32 array sharing their memory."""
        numpy_module: Any = require("numpy", "Plot.to_numpy", "numpy")
        array: _numpy_typing.NDArray[_numpy.float32] = numpy_module.asarray(self._values)
        return array

    def to_pandas(self) -> _pandas.DataFrame:
        """A DataFrame indexed by the time, a float32 column per further parameter.

        The frame holds a copy of the values, so it can be changed like any other.
        """
        pandas_module: Any = require("pandas", "Plot.to_pandas", "pandas")
        array = self.to_numpy()
        index = pandas_module.Index(array[:, 0], name=self._names[0], copy=True)
        frame: _pandas.DataFrame = pandas_module.DataFrame(
            array[:, 1:], index=index, columns=list(self._names[1:]), copy=True
        )
        return frame

    # The values travel as their bytes; the copy that arrives owns them, writable as before.
    def __reduce__(self) -> tuple[Any, tuple[tuple[str, ...], bytes, int, int, str]]:
        return _rebuild, (self._names, self._values.tobytes(), self.steps, self._n_digits,
                          self._path)

    def __arrow_c_schema__(self) -> object:
        """The Arrow schema, an "arrow_schema" PyCapsule: a float32 field per name, the time
        first, and `vormant.n_digits` and `vormant.source` in its metadata."""
        return _reader.arrow_schema(self._names, self._schema_metadata())

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """The values as an Arrow stream of record batches, an "arrow_array_stream" PyCapsule.

        Each batch is a copy, by column, of the rows it holds; the stream keeps the values
        until its consumer releases it. `requested_schema` (an "arrow_schema" PyCapsule) must
        be the plot's own columns: a float32 column per name, in order.
        """
        return _reader.arrow_stream(self._values, self._names, self._schema_metadata(),
                                    requested_schema)

    def to_arrow(self) -> _pyarrow.Table:
        """A pyarrow Table of a float32 column per name, the schema's metadata included."""
        return _arrow.to_arrow(self)

    def to_polars(self) -> _polars.DataFrame:
        """A polars DataFrame of a float32 column per name, the time first."""
        return _arrow.to_polars(self)

    def to_xarray(self) -> _xarray.Dataset:
        """An xarray Dataset: a float32 variable per parameter over the coordinate `time`,
        `n_digits` and `source` (the path) in its attributes."""
        return _arrow.to_xarray(self)

    def _schema_metadata(self) -> dict[bytes, bytes]:
        return _arrow.schema_metadata(self._n_digits, self._path)

    def _repr_html_(self) -> str:
        return summary_table("vormant.Plot", self._path, self._names,
                             [("steps", self.steps), ("n_digits", self._n_digits)])

    def __repr__(self) -> str:
        return (f"<vormant.Plot {self._path!r}: {self.parameters} parameters, "
                f"{self.steps} steps, n_digits={self._n_digits}>")


# A notebook shows this many parameter names; the rest are counted.
SUMMARY_NAMES = 8


def summary_table(kind: str, path: str, names: tuple[str, ...],
                  rows: list[tuple[str, object]]) -> str:
    """A short HTML table for a notebook: what it is, its path, its figures and its first
    names; never a value of the file."""
    shown = ", ".join(html.escape(name) for name in names[:SUMMARY_NAMES])
    if len(names) > SUMMARY_NAMES:
        shown += f", ... ({len(names) - SUMMARY_NAMES} more)"
    cells = [("path", html.escape(path)), ("parameters", str(len(names))),
             *((label, html.escape(str(value))) for label, value in rows), ("names", shown)]
    body = "".join(f"<tr><th>{label}</th><td>{value}</td></tr>" for label, value in cells)
    return f"<table><caption>{kind}</caption>{body}</table>"


@contextlib.contextmanager
def named_as_given(path: PathArgument, encoded: bytes) -> Iterator[None]:
    """An OSError raised inside names the file as the caller did, the way open() does
    (bytes stay bytes), not as the reader was handed it."""
    try:
        yield
    except OSError as error:
        if error.filename == os.fsdecode(encoded):
            error.filename = os.fspath(path)
        raise


def _rebuild(names: tuple[str, ...], block: bytes, steps: int, n_digits: int,
             path: str) -> Plot:
    values: Any = memoryview(bytearray(block)).cast("B").cast("f", (steps, len(names)))
    return Plot(names, values, n_digits, path)
