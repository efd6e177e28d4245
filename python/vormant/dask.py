"""Many plot files as one Dask DataFrame, a partition per file.

Needs the `dask` extra: pip install "tarnex[dask]".
"""

from __future__ import annotations

import os
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any

from ._arguments import PathArgument, check_n_digits
from ._errors import PlotFileError
from ._header import read_names
from ._optional import require
from ._open import read

if TYPE_CHECKING:
    import dask.dataframe as _dask_dataframe  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import pandas as _pandas  # type: ignore[import-not-found, import-untyped, unused-ignore]

FILE_COLUMN = "file"
_FEATURE = "vormant.dask.read_frame"


def read_frame(paths: Iterable[PathArgument],
               n_digits: int | None = None) -> _dask_dataframe.DataFrame:
    """A Dask DataFrame of the files at `paths`, one partition per file, in their order.

    Indexed by the time (named by its name line), with a categorical column `file` (the path,
    categories all the paths) and a float32 column per further parameter, named by its name
    line. Every file must have the same names, else PlotFileError naming the file; the headers
    are checked here, the values are read when the partitions are computed.
    """
    dataframe: Any = require("dask.dataframe", _FEATURE, "dask")
    pandas_module: Any = require("pandas", _FEATURE, "dask")
    width = check_n_digits(n_digits)
    files = [os.fsdecode(os.fsencode(path)) for path in paths]
    if not files:
        raise ValueError("read_frame needs at least one plot file")
    names = _common_names(files, width)
    file_type = pandas_module.CategoricalDtype(list(dict.fromkeys(files)))
    meta = _empty_frame(pandas_module, names, file_type)
    frame: _dask_dataframe.DataFrame = dataframe.from_map(
        read_partition, files, n_digits=width, names=names, file_type=file_type, meta=meta,
        label="read-plot-file", enforce_metadata=False,
    )
    return frame


def read_partition(path: str, *, n_digits: int | None, names: tuple[str, ...],
                   file_type: _pandas.CategoricalDtype) -> _pandas.DataFrame:
    """One file as a partition; runs on the workers."""
    plot = read(path, n_digits)
    if plot.names != names:
        raise _names_differ(path, plot.names, names)
    return _with_file_column(plot.to_pandas(), path, file_type)


def _common_names(files: list[str], n_digits: int | None) -> tuple[str, ...]:
    names = _names_of(files[0], n_digits)
    for column in names[1:]:
        if column == FILE_COLUMN:
            raise PlotFileError(
                f"{files[0]}: a parameter is called {FILE_COLUMN!r}, the name of the column of "
                "paths", files[0], 2 + names.index(column))
    duplicates = sorted({name for name in names[1:] if names.count(name) > 1})
    if duplicates:
        raise PlotFileError(
            f"{files[0]}: parameter names must differ to name columns; repeated: "
            + ", ".join(map(repr, duplicates)), files[0], 2 + names.index(duplicates[0], 1))
    for path in files[1:]:
        other = _names_of(path, n_digits)
        if other != names:
            raise _names_differ(path, other, names)
    return names


def _names_of(path: str, n_digits: int | None) -> tuple[str, ...]:
    names = read_names(path)
    # A header that is not whole or well formed: the full read raises what is wrong.
    return names if names is not None else read(path, n_digits).names


def _names_differ(path: str, names: tuple[str, ...], expected: tuple[str, ...]) -> PlotFileError:
    if len(names) != len(expected):
        return PlotFileError(
            f"{path}, line 1: {len(names)} parameters where the other files have "
            f"{len(expected)}", path, 1)
    index = next(i for i, (got, wanted) in enumerate(zip(names, expected)) if got != wanted)
    return PlotFileError(
        f"{path}, line {index + 2}: parameter {index} is {names[index]!r} where the other "
        f"files have {expected[index]!r}", path, index + 2)


def _empty_frame(pandas_module: Any, names: tuple[str, ...],
                 file_type: _pandas.CategoricalDtype) -> _pandas.DataFrame:
    numpy_module: Any = require("numpy", _FEATURE, "dask")
    values = numpy_module.empty((0, len(names)), dtype=numpy_module.float32)
    index = pandas_module.Index(values[:, 0], name=names[0])
    frame = pandas_module.DataFrame(values[:, 1:], index=index, columns=list(names[1:]))
    return _with_file_column(frame, None, file_type)


def _with_file_column(frame: _pandas.DataFrame, path: str | None,
                      file_type: _pandas.CategoricalDtype) -> _pandas.DataFrame:
    pandas_module: Any = require("pandas", _FEATURE, "dask")
    numpy_module: Any = require("numpy", _FEATURE, "dask")
    code = -1 if path is None else file_type.categories.get_loc(path)
    codes = numpy_module.full(len(frame), code, dtype=numpy_module.int32)
    frame.insert(0, FILE_COLUMN, pandas_module.Categorical.from_codes(codes, dtype=file_type))
    return frame
