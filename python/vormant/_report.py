"""What the commands share: how they report failures on standard error, how they take the
parameters named on the command line, and how they go through a file in pieces."""

from __future__ import annotations

import contextlib
import os
import sys
from collections.abc import Iterator, Sequence

from ._columns import resolve_columns
from ._errors import PlotFileError
from ._open import PlotFile
from ._options import PROG
from ._plot import Plot

# A piece holds about this many values (4 MiB of float32), however wide the file, so a
# command holds one piece of a file at a time, never the whole of it: `convert` holds a piece
# and its Arrow copy and Parquet buffers, a few times the piece.
PIECE_VALUES = 1 << 20


class UnusableParameter(Exception):
    """A parameter named on the command line that the file lacks, that fits several of its
    names, or that is named twice; the text says which."""


class WriteFailure(Exception):
    """The output file could not be written (as opposed to the plot file read)."""

    def __init__(self, target: str, error: OSError) -> None:
        super().__init__(target, error)
        self.target = target
        self.error = error


@contextlib.contextmanager
def writing(target: str) -> Iterator[None]:
    try:
        yield
    except OSError as error:
        raise WriteFailure(target, error) from error


def parameter_items(wanted: Sequence[str]) -> list[str | int]:
    """The parameters named on the command line as `read` takes them: a word of digits alone is
    an index, any other word a name."""
    return [int(word) if word.isdecimal() else word for word in wanted]


def chosen_columns(plot_file: PlotFile, wanted: Sequence[str]) -> tuple[int, ...]:
    """The columns of the parameters named `wanted`, in that order."""
    items = parameter_items(wanted)
    try:
        columns = resolve_columns(plot_file.names, items, plot_file.path)
    except (KeyError, IndexError, ValueError) as error:
        raise UnusableParameter(error.args[0]) from None
    return columns or ()


def chosen_names(plot_file: PlotFile, columns: tuple[int, ...] | None) -> tuple[str, ...]:
    """The name lines of the time and `columns` (None: all)."""
    if columns is None:
        return plot_file.names
    return (plot_file.names[0], *(plot_file.names[column] for column in columns))


def pieces(plot_file: PlotFile, columns: tuple[int, ...] | None, rows: range) -> Iterator[Plot]:
    """The time and `columns` (None: all) of the time steps `rows`, a piece at a time."""
    width = 1 + (plot_file.parameters - 1 if columns is None else len(columns))
    size = max(1, PIECE_VALUES // width)
    for start in range(0, len(rows), size):
        yield plot_file.read(columns, rows[start:start + size])


def failure_text(path: str, error: Exception) -> str:
    """One line for a file that could not be read or written."""
    if isinstance(error, PlotFileError):
        return str(error)  # it names the file and the line already
    if isinstance(error, OSError) and error.strerror:
        where = error.filename if error.filename is not None else path
        return f"{where}: {error.strerror}"
    return f"{path}: {error}"


def file_error(path: str, error: Exception) -> None:
    print(f"{PROG}: error: {failure_text(path, error)}", file=sys.stderr)


def write_error(target: str, error: OSError) -> None:
    # The system's words for the error number: a format library's own text may name the
    # temporary file it was writing, never the output.
    reason = os.strerror(error.errno) if error.errno else error.strerror or error
    print(f"{PROG}: error: cannot write {target}: {reason}", file=sys.stderr)


def usage_error(command: str, message: str) -> int:
    print(f"{PROG} {command}: error: {message}", file=sys.stderr)
    return 2


def missing_library(error: ImportError) -> int:
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return 1


def _same_file(path: str, target: str) -> bool:
    try:
        return os.path.samefile(path, target)
    except OSError:
        return False  # one of them is not there yet


def overwritten_source(files: list[str], outputs: list[str]) -> str | None:
    """A usage error's text when an output would be written over its own plot file."""
    for path, target in zip(files, outputs):
        if _same_file(path, target):
            return f"{path} would be written over by its own output"
    return None


def report(path: str, failure: BaseException | None, command: str = "convert") -> int:
    """The exit status of one file's command, its failure reported."""
    if failure is None:
        return 0
    if isinstance(failure, UnusableParameter):
        return usage_error(command, str(failure))
    if isinstance(failure, WriteFailure):
        write_error(failure.target, failure.error)
        return 1
    if isinstance(failure, Exception):
        file_error(path, failure)
        return 1
    raise failure
