"""A plot file held open: its header read and its time steps indexed, read in any part."""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator
from types import TracebackType
from typing import Any

from . import _reader
from ._arguments import EXACT_WIDTH, PathArgument, check_n_digits
from ._columns import (ColumnArgument, check_columns, check_steps, check_threads, find_parameter,
                       resolve_columns, step_range)
from ._envelope import Envelope
from ._errors import PlotFileError
from ._plot import Plot, named_as_given, summary_table

Steps = slice | range | None
# The groups of an envelope when none are asked for.
DEFAULT_BUCKETS = 1000


class PlotFile:
    """A plot file held open (`vormant.open`): its names, its time steps, reads of any part.

    Opening reads the header and indexes where every time step starts, converting no value;
    the file stays open, so every read sees the file that was opened. Use it as a context
    manager, or call close().

    A read of some columns or some steps looks only at the value lines that hold what it
    takes and converts only the fields it takes: a fault elsewhere in the file is not seen. A
    read of everything checks every line, as `vormant.read` does.
    """

    __slots__ = ("_native", "_path", "_names")

    def __init__(self, path: PathArgument, n_digits: int | None = None, *,
                 growing: bool = False) -> None:
        width = check_n_digits(n_digits)
        encoded = os.fsencode(path)
        with named_as_given(path, encoded):
            native = _reader.open(encoded, width, bool(growing))
            try:
                native.check_complete()
            except BaseException:
                native.close()
                raise
        self._native: Any = native
        self._path = os.fsdecode(encoded)
        self._names: tuple[str, ...] = native.names

    @property
    def path(self) -> str:
        return self._path

    @property
    def names(self) -> tuple[str, ...]:
        """The parameter name lines, surrounding whitespace removed, the time's first."""
        return self._names

    @property
    def parameters(self) -> int:
        return len(self._names)

    @property
    def n_digits(self) -> int | None:
        """The field width, 12 or 15; None while a growing file has no complete time step."""
        width: int | None = self._native.n_digits
        return width

    @property
    def steps(self) -> int:
        """The complete time steps indexed."""
        steps: int = self._native.steps
        return steps

    @property
    def closed(self) -> bool:
        closed: bool = self._native.closed
        return closed

    def __len__(self) -> int:
        return self.steps

    def index(self, name: str) -> int:
        """The column of a parameter: its whole name line, or its first word when that is
        unique. KeyError when there is none, ValueError when several fit."""
        return find_parameter(self._names, name, self._path)

    def read(self, columns: Iterable[ColumnArgument] | None = None, steps: Steps = None, *,
             threads: int | None = None) -> Plot:
        """The time and the chosen parameters of the chosen time steps.

        `columns`: names (a whole name line, or its first word when unique) or indices 1 to
        P - 1, in the order wanted; None for every parameter, [] for the time alone. `steps`: a
        slice or range of time step indices, as Python slices a list. `threads`: None chooses
        (one for a small read, else up to the processors this process may use).

        Values are bit-identical to the same rows and columns of a full read. Raises KeyError
        for an unknown name, ValueError for an ambiguous or repeated one, before any value is
        read; PlotFileError for a fault in what is read, the earliest in the file.
        """
        count = check_threads(threads)
        chosen = resolve_columns(self._names, columns, self._path)
        rows = step_range(steps, self.steps)
        return self._read(chosen, rows, count or 0)

    def chunks(self, size: int, *, columns: Iterable[ColumnArgument] | None = None
               ) -> Iterator[Plot]:
        """Consecutive pieces of `size` time steps (the last may be shorter), each a Plot as
        read() gives; only one piece is held at a time."""
        if isinstance(size, bool) or not isinstance(size, int):
            raise TypeError(f"size must be a positive int, not {type(size).__name__}")
        if size < 1:
            raise ValueError(f"size must be at least 1, not {size}")
        chosen = resolve_columns(self._names, columns, self._path)
        return self._chunks(size, chosen)

    def _chunks(self, size: int, chosen: tuple[int, ...] | None) -> Iterator[Plot]:
        steps = self.steps
        for start in range(0, steps, size):
            yield self._read(chosen, range(start, min(start + size, steps)), 0)

    def envelope(self, columns: Iterable[ColumnArgument] | None = None, steps: Steps = None, *,
                 buckets: int = DEFAULT_BUCKETS) -> Envelope:
        """The chosen steps (as read() selects them) cut into min(buckets, n) consecutive
        groups, group k holding steps floor(k*n/b) to floor((k+1)*n/b) - 1 of the selection,
        and of each the first, last, smallest and largest value of every chosen parameter (see
        Envelope). Only the chosen columns are read, a piece at a time: the memory is of the
        order of the envelope. Arguments are refused as read() refuses them; `buckets` is an int
        from 1 on, and at least one parameter is chosen.
        """
        if isinstance(buckets, bool) or not isinstance(buckets, int):
            raise TypeError(f"buckets must be a positive int, not {type(buckets).__name__}")
        chosen = resolve_columns(self._names, columns, self._path)
        rows = step_range(steps, self.steps)
        native = self._native.envelope(chosen, rows.start if rows else 0, rows.step, len(rows),
                                       buckets, 0)
        names = self._names[1:] if chosen is None else tuple(self._names[c] for c in chosen)
        return Envelope(names, native, self._path)

    def _copy_steps(self, fd: int, rows: range, first_number: int) -> int:
        """Writes the consecutive steps `rows` to `fd` as their text stands in the file, their
        lead lines numbered anew from `first_number` on; 0, or the errno of a failed write."""
        failure: int = self._native.copy_steps(fd, rows.start, len(rows), first_number)
        return failure

    def refresh(self) -> int:
        """Indexes the time steps a growing file has completed since; returns how many."""
        added: int = self._native.refresh()
        return added

    def close(self) -> None:
        self._native.close()

    def __enter__(self) -> PlotFile:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self.steps} steps"
        return f"<vormant.PlotFile {self._path!r}: {self.parameters} parameters, {state}>"

    def _repr_html_(self) -> str:
        # A closed file says so, as repr does: its width is no longer to be asked.
        rows: list[tuple[str, object]] = [("steps", "closed")] if self.closed else [
            ("steps", self.steps), ("n_digits", self.n_digits)]
        return summary_table("vormant.PlotFile", self._path, self._names, rows)

    def _read(self, chosen: tuple[int, ...] | None, rows: range, threads: int) -> Plot:
        first = rows.start if rows else 0
        values = self._native.read(chosen, first, rows.step, len(rows), threads)
        names = self._names if chosen is None else (
            self._names[0], *(self._names[column] for column in chosen))
        # Only an empty read of a growing file can come before its width is known.
        return Plot(names, memoryview(values), self._native.n_digits or 0, self._path)


def open_run(path: PathArgument, n_digits: int | None) -> PlotFile:
    """The plot file at `path` for a command that takes runs as they stand. A file with no time
    steps is a run stopped before its first: no value line tells its width and none is needed,
    so without `n_digits` it is opened at one, which it takes when nothing follows its header;
    otherwise the failure of the first opening stands."""
    try:
        return PlotFile(path, n_digits)
    except PlotFileError as failure:
        if n_digits is not None:
            raise
        try:
            empty = PlotFile(path, EXACT_WIDTH)
        except PlotFileError:
            raise failure from None
        if empty.steps == 0:
            return empty
        empty.close()
        raise


def open(path: PathArgument, n_digits: int | None = None, *,  # noqa: A001 - vormant.open
         growing: bool = False) -> PlotFile:
    """Opens a plot file: reads its header and indexes its time steps (see PlotFile).

    `growing=True` is for a file a running simulation is still writing: a last time step not
    yet complete is left out of `steps` instead of being an error, and refresh() indexes the
    ones completed since. Raises PlotFileError for a fault in the header or, unless growing, a
    file that ends inside a time step; OSError when the file cannot be read.
    """
    return PlotFile(path, n_digits, growing=growing)


def envelope(path: PathArgument, n_digits: int | None = None, *,
             columns: Iterable[ColumnArgument] | None = None, steps: Steps = None,
             buckets: int = DEFAULT_BUCKETS) -> Envelope:
    """The envelope of the chosen steps and parameters of a plot file (see PlotFile.envelope)."""
    width = check_n_digits(n_digits)
    columns = check_columns(columns)
    steps = check_steps(steps)
    with PlotFile(path, width) as plot_file:
        return plot_file.envelope(columns, steps, buckets=buckets)


def read(path: PathArgument, n_digits: int | None = None, *,
         columns: Iterable[ColumnArgument] | None = None, steps: Steps = None,
         threads: int | None = None) -> Plot:
    """Reads a plot file, or the chosen columns and time steps of it.

    `path`: str, bytes or os.PathLike. `n_digits`: the field width, 12 (6-digit files) or 15
    (9-digit files); None takes it from the first value line. `columns`, `steps` and
    `threads` as PlotFile.read takes them.

    A read of everything checks every line and raises the first fault in the file; a read of
    some columns or steps looks only at the lines and fields it takes, so a fault elsewhere is
    not seen. Raises PlotFileError (a ValueError with `path` and `line`) for a fault inside
    the file, and the matching OSError for a file that cannot be opened or read.
    """
    width = check_n_digits(n_digits)
    count = check_threads(threads)
    columns = check_columns(columns)
    steps = check_steps(steps)
    encoded = os.fsencode(path)
    if steps is not None:
        with PlotFile(path, width) as plot_file:
            return plot_file.read(columns, steps, threads=count)
    # The reader chooses the threads (0) and, for some columns, whether to convert them as the
    # file is indexed or through the index.
    with named_as_given(path, encoded):
        if columns is None:
            names, used, values = _reader.read_split(encoded, width, count or 0)
        else:
            # The names are resolved against the header of the file whose values are read,
            # however the path changes meanwhile.
            def chosen(names: tuple[str, ...]) -> tuple[int, ...]:
                return resolve_columns(names, columns, os.fsdecode(encoded)) or ()

            names, used, values = _reader.read_columns(encoded, width, chosen, count or 0)
    return Plot(names, memoryview(values), used, os.fsdecode(encoded))
