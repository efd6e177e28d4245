"""Plot files as one polars LazyFrame, read in batches of time steps as the query asks for them.

Needs the `polars` extra: pip install "tarnex[polars]".

The frame is a polars IO source. polars hands it the columns the query uses, the number of
leading rows it needs and the rows' condition; a batch reads and converts only those columns of
its time steps, and reading stops at the last row needed. A condition on parameters is tested
on its own columns first: the other columns are read only for the steps from the first to the
last one kept, so a batch that keeps nothing reads nothing more. A condition on the path alone
is settled once per file.
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from . import _reader
from ._arguments import PathArgument, check_n_digits, path_list
from ._errors import PlotFileError
from ._open import PlotFile
from ._optional import require
from .dask import FILE_COLUMN, _common_names

if TYPE_CHECKING:
    import polars as _polars  # type: ignore[import-not-found, import-untyped, unused-ignore]

_FEATURE = "vormant.polars.scan"


def scan(paths: Iterable[PathArgument], n_digits: int | None = None) -> _polars.LazyFrame:
    """A polars LazyFrame of the plot files at `paths` (a list of paths), in their order.

    Columns: `file`, the path, an Enum of all the paths; the time, named by its name line;
    a Float32 column per further parameter, named by its name line. Values are bit-identical
    to `vormant.read`. Every file must have the same names, else PlotFileError naming the
    file before any value is read.

    Only what a query needs is read: the columns it uses, the time steps up to the rows it
    takes (`head`, and a `slice` as far as polars passes it on), and under a `filter` the
    other columns only near the rows kept. A fault in a field the query does not need is not
    seen; one in a field it needs raises PlotFileError with its path and line on collect.
    """
    polars: Any = require("polars", _FEATURE, "polars")
    plugins: Any = require("polars.io.plugins", _FEATURE, "polars")
    width = check_n_digits(n_digits)
    files = _file_list(paths)
    names = _common_names(files)
    _check_time_name(names, files[0])
    source = _Files(files, width, names, polars.Enum(list(dict.fromkeys(files))))
    frame: _polars.LazyFrame = plugins.register_io_source(source.batches,
                                                          schema=source.schema(polars))
    return frame


def _file_list(paths: Iterable[PathArgument]) -> list[str]:
    files = path_list(paths, _FEATURE)
    if not files:
        raise ValueError(f"{_FEATURE} needs at least one plot file")
    return files


def _check_time_name(names: tuple[str, ...], path: str) -> None:
    """The time is a column beside the path here, not the index, so it needs another name."""
    if names[0] == FILE_COLUMN:
        raise PlotFileError(f"{path}: the time is called {FILE_COLUMN!r}, the name of the "
                            "column of paths", path, 2)


@dataclass(frozen=True)
class _Query:
    """What polars asks of one collect, in the files' terms: `wanted`, the output columns in
    polars' order; `tested` and `rest`, the parameter columns read for the row condition and
    then for the output; `row_test`, the condition rows must meet, or `file_test`, one on the
    path alone; `n_rows`, the leading rows polars takes, counted before the condition."""

    wanted: list[str]
    tested: list[int]
    rest: list[int]
    row_test: Any
    file_test: Any
    n_rows: int | None
    batch_steps: int


@dataclass(frozen=True)
class _Files:
    """The files of a scan, their shared names and the type of the file column."""

    paths: list[str]
    n_digits: int | None
    names: tuple[str, ...]
    file_type: Any

    def columns(self) -> list[str]:
        return [FILE_COLUMN, *self.names]

    def schema(self, polars: Any) -> dict[str, Any]:
        return {FILE_COLUMN: self.file_type, **{name: polars.Float32 for name in self.names}}

    def parameters(self, columns: Iterable[str]) -> list[int]:
        """The parameter indices of those `columns` that are parameters, in their order."""
        index = {name: column for column, name in enumerate(self.names)}
        return [index[name] for name in columns if index.get(name, 0) > 0]

    def batches(self, with_columns: list[str] | None, predicate: Any, n_rows: int | None,
                batch_size: int | None) -> Iterator[_polars.DataFrame]:
        """The IO source polars calls on collect: the frame in batches of time steps."""
        polars: Any = require("polars", _FEATURE, "polars")
        query = self._query(with_columns, predicate, n_rows, batch_size)
        left = query.n_rows
        for path in self.paths:
            if left == 0:
                return
            kept = query.file_test is None or _path_passes(polars, self, path, query.file_test)
            if not kept and left is None:
                continue  # rows of a file left out count only towards a limit
            with PlotFile(path, self.n_digits) as plot_file:
                rows = range(plot_file.steps if left is None else min(left, plot_file.steps))
                if left is not None:
                    left -= len(rows)
                if kept:
                    yield from _file_batches(polars, self, plot_file, rows, query)

    def _query(self, with_columns: list[str] | None, predicate: Any, n_rows: int | None,
               batch_size: int | None) -> _Query:
        wanted = self.columns() if with_columns is None else list(with_columns)
        roots: list[str] = [] if predicate is None else predicate.meta.root_names()
        on_path = predicate is not None and set(roots) <= {FILE_COLUMN}
        tested = self.parameters(roots)
        rest = [column for column in self.parameters(wanted) if column not in tested]
        return _Query(wanted, tested, rest, None if on_path else predicate,
                      predicate if on_path else None, n_rows,
                      _batch_steps(batch_size, 1 + len(tested) + len(rest)))


def _batch_steps(batch_size: int | None, columns: int) -> int:
    """Steps per batch: polars' size, else as many as the Arrow stream of a Plot puts in one."""
    if batch_size is not None and batch_size > 0:
        return batch_size
    return _reader.batch_steps(columns)


def _path_passes(polars: Any, files: _Files, path: str, file_test: Any) -> bool:
    alone = polars.DataFrame({FILE_COLUMN: polars.Series([path], dtype=files.file_type)})
    return bool(alone.filter(file_test).height)


def _file_batches(polars: Any, files: _Files, plot_file: PlotFile, rows: range,
                  query: _Query) -> Iterator[_polars.DataFrame]:
    for start in range(0, len(rows), query.batch_steps):
        steps = rows[start:start + query.batch_steps]
        if query.row_test is None:
            yield _read(polars, files, plot_file, query.rest, steps).select(query.wanted)
            continue
        kept = _kept_rows(polars, files, plot_file, steps, query)
        if kept is not None:
            yield kept.select(query.wanted)


def _kept_rows(polars: Any, files: _Files, plot_file: PlotFile, steps: range,
               query: _Query) -> _polars.DataFrame | None:
    """The rows of `steps` that meet the condition, None when none does. The columns it tests
    are read for every step; the others from the first step kept to the last."""
    tested = _read(polars, files, plot_file, query.tested, steps)
    keep = tested.select(query.row_test).to_series().fill_null(False)
    hits = keep.arg_true()
    if hits.is_empty():
        return None
    first, span = int(hits[0]), int(hits[-1]) - int(hits[0]) + 1
    frame = tested.slice(first, span)
    if query.rest:
        others = plot_file.read(query.rest, steps[first:first + span]).to_polars()
        frame = frame.hstack(others.drop(files.names[0]))
    filtered: _polars.DataFrame = frame.filter(keep.slice(first, span))
    return filtered


def _read(polars: Any, files: _Files, plot_file: PlotFile, columns: Sequence[int],
          steps: range) -> _polars.DataFrame:
    """The time, `columns` and the path of `steps`."""
    frame = plot_file.read(columns, steps).to_polars()
    path = polars.lit(plot_file.path, dtype=files.file_type).alias(FILE_COLUMN)
    with_path: _polars.DataFrame = frame.with_columns(path)
    return with_path
