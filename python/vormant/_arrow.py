"""A plot in Arrow's terms, and the tables of pyarrow, polars and xarray made from it.

The Arrow stream itself is native (`_reader.arrow_stream`): any library that reads the Arrow
PyCapsule interface takes a Plot as it is, without pyarrow.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any

from ._optional import require

if TYPE_CHECKING:
    import polars as _polars  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import pyarrow as _pyarrow  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import xarray as _xarray  # type: ignore[import-not-found, import-untyped, unused-ignore]

    from ._plot import Plot

# Keys of the key-value metadata of a plot's Arrow schema and of its Parquet file.
N_DIGITS_KEY = b"vormant.n_digits"
SOURCE_KEY = b"vormant.source"

# The dimension and coordinate of an xarray Dataset: the time of each step.
TIME = "time"


def schema_metadata(n_digits: int, path: str) -> dict[bytes, bytes]:
    return {N_DIGITS_KEY: str(n_digits).encode(), SOURCE_KEY: os.fsencode(path)}


def to_arrow(plot: Plot) -> _pyarrow.Table:
    pyarrow: Any = require("pyarrow", "Plot.to_arrow", "arrow")
    # pyarrow.table(plot) takes a stream from pyarrow 15 on; the capsule's import from 14 on.
    reader = pyarrow.RecordBatchReader._import_from_c_capsule(plot.__arrow_c_stream__())
    table: _pyarrow.Table = reader.read_all()
    return table


def to_polars(plot: Plot) -> _polars.DataFrame:
    polars: Any = require("polars", "Plot.to_polars", "polars")
    frame: _polars.DataFrame = polars.DataFrame(plot)
    return frame


def variable_names(plot: Plot) -> tuple[str, ...]:
    """The names of the parameters after the time, each a variable of its own."""
    names = plot.names[1:]
    if len(set(names)) < len(names) or TIME in names:
        raise ValueError(f"{plot.path}: an xarray Dataset needs a name of its own for every "
                         f"parameter, and none called {TIME!r}")
    return names


def to_xarray(plot: Plot) -> _xarray.Dataset:
    xarray: Any = require("xarray", "Plot.to_xarray", "xarray")
    numpy: Any = require("numpy", "Plot.to_xarray", "xarray")
    names = variable_names(plot)
    values = numpy.asarray(plot.values)
    # Each variable is a contiguous copy of its column, free of the plot's memory.
    variables = {name: (TIME, numpy.ascontiguousarray(values[:, column]))
                 for column, name in enumerate(names, start=1)}
    dataset: _xarray.Dataset = xarray.Dataset(
        variables, coords={TIME: numpy.ascontiguousarray(values[:, 0])},
        attrs={"n_digits": plot.n_digits, "source": plot.path})
    return dataset
