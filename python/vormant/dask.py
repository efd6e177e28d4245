"""Plot files as one Dask DataFrame, a big file split into partitions of whole time steps.

Needs the `dask` extra: pip install "tarnex[dask]".

The client reads the headers alone. Where a file's partitions begin is found on the workers:
each counts the line feeds of a byte range, and the native reader tells from the counts which
time steps begin in every range. The time at each partition's first step, one field each, gives
the frame's divisions.
"""

from __future__ import annotations

import math
import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from . import _reader
from ._arguments import PathArgument, check_n_digits, path_list
from ._columns import ColumnArgument, check_columns, resolve_columns
from ._errors import PlotFileError
from ._open import read
from ._optional import require
from ._plot import Plot

if TYPE_CHECKING:
    import dask.dataframe as _dask_dataframe  # type: ignore[import-not-found, import-untyped, unused-ignore]
    import pandas as _pandas  # type: ignore[import-not-found, import-untyped, unused-ignore]

FILE_COLUMN = "file"
DEFAULT_BLOCKSIZE = "128 MiB"
_FEATURE = "vormant.dask.read_frame"


@dataclass(frozen=True)
class Part:
    """The time steps of one partition: `steps` steps from `first_step`, found after
    `feeds_before` line feeds between the file's first step and byte `begin`; `steps` None for
    a whole file read in one go."""

    path: str
    begin: int = 0
    feeds_before: int = 0
    first_step: int = 0
    steps: int | None = None
    checks_end: bool = True


def read_frame(paths: Iterable[PathArgument], n_digits: int | None = None, *,
               columns: Iterable[ColumnArgument] | None = None,
               blocksize: int | str | None = DEFAULT_BLOCKSIZE) -> _dask_dataframe.DataFrame:
    """A Dask DataFrame of the files at `paths`, in their order, in partitions of whole time
    steps of about `blocksize` bytes of file each (an int, or a size such as "64 MiB"); None
    makes one partition per file.

    Indexed by the time (named by its name line), with a categorical column `file` (the path,
    categories all the paths) and a float32 column per further parameter, or per parameter of
    `columns` (names or indices, as `vormant.read` takes them). Selecting columns of the frame
    reads and converts only those on the workers. Every file must have the same names, else
    PlotFileError naming the file. The divisions are the times at the partitions' first steps
    when those increase through the files, else unknown.
    """
    dataframe: Any = require("dask.dataframe", _FEATURE, "dask")
    pandas_module: Any = require("pandas", _FEATURE, "dask")
    width = check_n_digits(n_digits)
    size = _blocksize(blocksize)
    files = path_list(paths, _FEATURE)
    columns = check_columns(columns)
    if not files:
        raise ValueError("read_frame needs at least one plot file")
    names = _common_names(files)
    chosen = resolve_columns(names, columns, files[0])
    frame_names = names if chosen is None else (names[0], *(names[c] for c in chosen))
    # Ordered as the paths are given, so that the frame has a maximum and a minimum like any
    # other column.
    file_type = pandas_module.CategoricalDtype(list(dict.fromkeys(files)), ordered=True)
    meta = _empty_frame(pandas_module, frame_names, file_type)
    if size is None:
        parts, divisions = [Part(path) for path in files], None
    else:
        parts, divisions = _split(files, len(names), size, width)
    frame: _dask_dataframe.DataFrame = dataframe.from_map(
        read_partition, parts, n_digits=width, names=names, chosen=chosen, file_type=file_type,
        meta=meta, divisions=divisions, label="read-plot-file", enforce_metadata=False,
    )
    return frame


def read_partition(part: Part, *, n_digits: int | None, names: tuple[str, ...],
                   chosen: tuple[int, ...] | None, file_type: _pandas.CategoricalDtype,
                   columns: Sequence[str] | None = None) -> _pandas.DataFrame:
    """One partition; runs on the workers. `columns`, when Dask passes it, narrows the frame to
    those of its columns, and only they are read."""
    wanted = list(range(1, len(names))) if chosen is None else list(chosen)
    if columns is not None:
        wanted = [column for column in wanted if names[column] in columns]
    plot = _read_part(part, n_digits, None if columns is None and chosen is None else wanted)
    expected = (names[0], *(names[column] for column in wanted))
    if plot.names != expected:
        raise _names_differ(part.path, plot.names, expected)
    frame = _with_file_column(plot.to_pandas(), part.path, file_type)
    return frame if columns is None else frame[list(columns)]


def _read_part(part: Part, n_digits: int | None, columns: list[int] | None) -> Plot:
    if part.steps is None:
        return read(part.path, n_digits, columns=columns, threads=1)
    encoded = os.fsencode(part.path)
    names, used, values = _reader.read_part(
        encoded, n_digits, None if columns is None else tuple(columns), part.begin,
        part.feeds_before, part.first_step, part.steps, part.checks_end)
    if columns is not None:
        names = (names[0], *(names[column] for column in columns))
    return Plot(names, memoryview(values), used, part.path)


def _blocksize(blocksize: object) -> int | None:
    if blocksize is None:
        return None
    if isinstance(blocksize, str):
        utils: Any = require("dask.utils", _FEATURE, "dask")
        blocksize = utils.parse_bytes(blocksize)
    if isinstance(blocksize, bool) or not isinstance(blocksize, int):
        raise TypeError(f"blocksize must be an int, a size such as '64 MiB' or None, not "
                        f"{type(blocksize).__name__}")
    if blocksize < 1:
        raise ValueError(f"blocksize must be at least 1 byte, not {blocksize}")
    return blocksize


def _split(files: list[str], parameters: int, size: int, n_digits: int | None
           ) -> tuple[list[Part], tuple[float, ...] | None]:
    """The partitions of every file, and the divisions they give, from counts made by the
    workers."""
    dask: Any = require("dask", _FEATURE, "dask")
    ranges = [_reader.part_ranges(os.fsencode(path), size) for path in files]
    counts = dask.compute(*[dask.delayed(_reader.count_feeds)(os.fsencode(path), begin, end)
                            for path, (begins, ends) in zip(files, ranges)
                            for begin, end in zip(begins, ends)])
    parts: list[Part] = []
    lasts: list[Part] = []  # a part at the last step of each file, for its time
    counted = 0
    for path, (begins, ends) in zip(files, ranges):
        file_parts, last = _parts_of(path, begins, ends,
                                     counts[counted:counted + len(begins)], parameters)
        counted += len(begins)
        parts += file_parts
        if last is not None:
            lasts.append(last)
    if len(lasts) < len(files):
        return parts, None  # a file without steps: nothing to divide by
    times = dask.compute(*[dask.delayed(_first_time)(part, n_digits) for part in parts + lasts])
    return parts, _divisions(parts, list(times))


def _first_time(part: Part, n_digits: int | None) -> float:
    """The time at the part's first step; NaN when it cannot be read, which leaves the
    divisions unknown and the fault to the partition's own read."""
    try:
        time: float = _reader.time_of_step(os.fsencode(part.path), n_digits, part.begin,
                                           part.feeds_before, part.first_step)
    except (ValueError, OSError):
        return math.nan
    return time


def _parts_of(path: str, begins: tuple[int, ...], ends: tuple[int, ...],
              counts: tuple[tuple[int, bool], ...], parameters: int
              ) -> tuple[list[Part], Part | None]:
    """A file's partitions, and a part at its last step, from the line feeds counted in its
    byte ranges."""
    found, last = _reader.plan_parts(begins, ends, counts, parameters)
    return [Part(path, *part) for part in found], None if last is None else Part(path, *last)


def _divisions(parts: list[Part], times: list[float]) -> tuple[float, ...] | None:
    """The first times of the partitions and the last time, when they increase through the
    files; None (unknown) otherwise."""
    firsts, lasts = times[:len(parts)], times[len(parts):]
    if any(math.isnan(time) for time in times):
        return None
    bounds: list[float] = []
    file_lasts = iter(lasts)
    for index, (part, first) in enumerate(zip(parts, firsts)):
        if bounds and not first > bounds[-1]:
            return None
        bounds.append(first)
        if index + 1 == len(parts) or parts[index + 1].first_step == 0:
            # The file's last partition: its last time must come before the next file's first.
            last = next(file_lasts)
            if not last >= first or (index + 1 < len(parts) and not firsts[index + 1] > last):
                return None
    return (*bounds, lasts[-1])


def _common_names(files: list[str]) -> tuple[str, ...]:
    names = _names_of(files[0])
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
        other = _names_of(path)
        if other != names:
            raise _names_differ(path, other, names)
    return names


def _names_of(path: str) -> tuple[str, ...]:
    """The name lines, the header alone read; a fault in it raised as a full read raises it."""
    names: tuple[str, ...] = _reader.names(os.fsencode(path))
    return names


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
