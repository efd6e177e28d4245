"""Plot files written: `vormant.write`, and the writer `vormant cut` and `vormant merge` stream
their pieces through. The text is formatted natively; a file appears only once it is whole."""

from __future__ import annotations

import contextlib
import os
from collections.abc import Iterator, Sequence
from typing import NamedTuple

from . import _reader
from ._arguments import PathArgument, check_n_digits
from ._open import PlotFile
from ._plot import Plot
from ._report import writing

_LINE_BREAKS = ("\n", "\r")


def _check_line(text: str, what: str) -> None:
    if any(brk in text for brk in _LINE_BREAKS):
        raise ValueError(f"{what} {text!r} holds a line break: it must stay one line")


def header_bytes(names: Sequence[str], title: str | None) -> bytes:
    """The first line (the title, if any, and the parameter count) and the name lines."""
    if not names:
        raise ValueError("a plot file needs at least one parameter, the time")
    if title is not None:
        _check_line(title, "the title")
    for name in names:
        _check_line(name, "the name line")
    first = f"{title} {len(names)}" if title else str(len(names))
    return "".join(f"{line}\n" for line in (first, *names)).encode()


def source_title(path: str) -> str | None:
    """The text before the parameter count on a plot file's first line, for a file made from
    it to carry the same title."""
    with open(path, "rb") as source:
        words = source.readline().decode(errors="replace").split()
    return " ".join(words[:-1]) or None


@contextlib.contextmanager
def replacing(target: str) -> Iterator[str]:
    """A temporary path in `target`'s folder, renamed to `target` when the block ends well and
    removed when it fails: no partial file is ever left under the name."""
    folder, name = os.path.split(os.path.abspath(target))
    temporary = os.path.join(folder, f".{name}.{os.urandom(6).hex()}.part")
    try:
        yield temporary
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(temporary)
        raise


class CopiedSteps(NamedTuple):
    """Consecutive time steps of an open plot file, to be written as their text stands: what a
    file of the output's width gives without converting a value."""

    plot_file: PlotFile
    rows: range


class _ReadFailure(Exception):
    """A failure of reading the pieces, kept apart from those of writing them."""

    def __init__(self, error: Exception) -> None:
        super().__init__(error)
        self.error = error


class PlotWriter:
    """The time steps of a plot file, written piece by piece after its header, numbered on."""

    __slots__ = ("_fd", "_width", "_steps")

    def __init__(self, fd: int, width: int) -> None:
        self._fd = fd
        self._width = width
        self._steps = 0

    def write(self, values: memoryview) -> None:
        """Appends the rows of `values`, a (steps, parameters) float32 block."""
        # The reader chooses the threads (0) by the size of the block.
        _reader.write_steps(self._fd, values, self._steps + 1, self._width, 0)
        self._steps += len(values)

    def copy(self, steps: CopiedSteps) -> None:
        """Appends `steps`, whose file has the writer's width, as their text stands; a failure
        of reading them is raised as a _ReadFailure."""
        try:
            failure = steps.plot_file._copy_steps(self._fd, steps.rows, self._steps + 1)
        except Exception as error:
            raise _ReadFailure(error) from error
        if failure:
            raise OSError(failure, os.strerror(failure))
        self._steps += len(steps.rows)


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


@contextlib.contextmanager
def plot_writer(target: str, names: Sequence[str], width: int,
                title: str | None = None) -> Iterator[PlotWriter]:
    """A PlotWriter of a new plot file at `target`, which appears there when the block ends
    well; the names and the title are checked before anything is written."""
    header = header_bytes(names, title)
    with replacing(target) as temporary:
        fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        try:
            _write_all(fd, header)
            yield PlotWriter(fd, width)
        finally:
            os.close(fd)


def write(path: PathArgument, plot: Plot, n_digits: int = 15, *, title: str | None = None
          ) -> None:
    """Writes `plot` as a plot file: the first line (`title`, if given, then the parameter
    count), the name lines, then per time step a lead line and the values, ten fields to a
    line, each right-aligned in `n_digits` bytes.

    Width 15 writes 9 significant digits, which read back to the same binary32 bits; width 12
    writes 6, correctly rounded (ties to even). NaN is written "NaN", infinities "Inf" and
    "-Inf". Raises ValueError, before anything is written, for a name line or title holding a
    line break, a Plot of no parameters or a width other than 12 and 15. The file appears only
    when it is whole: a failure leaves none behind.
    """
    if not isinstance(plot, Plot):
        raise TypeError(f"plot must be a vormant.Plot, not {type(plot).__name__}")
    if title is not None and not isinstance(title, str):
        raise TypeError(f"title must be str or None, not {type(title).__name__}")
    width = check_n_digits(n_digits)
    if width is None:
        raise ValueError("n_digits must be 12 or 15 for writing, not None")
    target = os.fsdecode(os.fsencode(path))
    with plot_writer(target, plot.names, width, title) as writer:
        writer.write(plot.values)


def _read_apart(plots: Iterator[Plot | CopiedSteps]) -> Iterator[Plot | CopiedSteps]:
    try:
        yield from plots
    except Exception as error:
        raise _ReadFailure(error) from error


def write_pieces(target: str, names: Sequence[str], width: int, title: str | None,
                 plots: Iterator[Plot | CopiedSteps]) -> None:
    """The pieces `plots`, read and formatted or copied, as one plot file at `target`. An
    OSError of writing is raised as a WriteFailure, one of reading as it is; either way no file
    is left."""
    try:
        with writing(target), plot_writer(target, names, width, title) as writer:
            for piece in _read_apart(plots):
                if isinstance(piece, CopiedSteps):
                    writer.copy(piece)
                else:
                    writer.write(piece.values)
    except _ReadFailure as failure:
        raise failure.error from None
