"""Plot files written: `vormant.write`, and the writer `vormant cut` and `vormant merge` stream
their pieces through. The text is formatted natively; a file appears only once it is whole.

`replacing` is how every output of the package is written, `vormant convert`'s too: a
temporary file beside it, renamed over it when whole."""

from __future__ import annotations

import contextlib
import errno
import os
import stat
from collections.abc import Iterator, Sequence
from typing import Any, NamedTuple

from . import _reader
from ._arguments import EXACT_WIDTH, WIDTHS, PathArgument, check_n_digits
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


# The temporary file an output is written to, beside it: a name of fixed length, so that
# every name the folder takes for the output leaves room for it.
def _temporary_name() -> str:
    return f".vormant-{os.urandom(8).hex()}.part"


def _create(path: str) -> int:
    """Creates the empty file `path` and gives its mode: 0o666 less the umask, as for any new
    file."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
    try:
        return stat.S_IMODE(os.fstat(fd).st_mode)
    finally:
        os.close(fd)


def _kept_mode(target: str, new_mode: int) -> int:
    """The mode of the file `target` replaces, so that a private file stays private; a new
    file's mode where there is none."""
    try:
        return stat.S_IMODE(os.stat(target).st_mode)
    except OSError:
        return new_mode


def _sync(path: str, flags: int) -> None:
    fd = os.open(path, flags | os.O_CLOEXEC)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def _sync_folder(folder: str) -> None:
    """Flushes a rename in `folder` to the disk; a file system that cannot sync a folder
    (EINVAL) keeps it as it keeps every other."""
    try:
        _sync(folder, os.O_RDONLY | os.O_DIRECTORY)
    except OSError as error:
        if error.errno != errno.EINVAL:
            raise


def _named_as_given(error: OSError, temporary: str, target: PathArgument) -> OSError:
    """`error` naming `target` alone, as the caller gave it, where it named the temporary file
    or no file (a failed rename names both): the temporary file is never shown."""
    given, ours = os.fspath(target), (None, temporary, os.fsdecode(target))
    if error.filename not in ours or error.filename2 not in ours:
        return error
    if error.filename2 is None or error.errno is None or error.strerror is None:
        error.filename = given
        return error
    return type(error)(error.errno, error.strerror, given)


def _is_device(path: str) -> bool:
    """Whether `path` is a device or a pipe, which is written in place, as `cp` writes it: a
    rename would put a plain file in its stead."""
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return False
    return not (stat.S_ISREG(mode) or stat.S_ISDIR(mode))


@contextlib.contextmanager
def _swapped_in(temporary: str, target: str) -> Iterator[None]:
    """Creates `temporary`; when the block ends well gives it the mode of the file it replaces
    (a new file's usual mode where there is none), flushes it to the disk, renames it to
    `target` and flushes the rename, so a crash right after loses nothing. When the block fails
    it is removed."""
    new_mode = _create(temporary)
    renamed = False
    try:
        yield
        os.chmod(temporary, _kept_mode(target, new_mode))
        _sync(temporary, os.O_RDONLY)
        os.replace(temporary, target)
        renamed = True
        _sync_folder(os.path.dirname(temporary))
    except BaseException:
        if not renamed:
            with contextlib.suppress(OSError):
                os.remove(temporary)
        raise


@contextlib.contextmanager
def replacing(target: PathArgument) -> Iterator[str]:
    """The path of a new, empty temporary file beside `target`, for the block to write, which
    becomes `target` when the block ends well, with the mode of the file it replaces, and is
    removed when it fails: no partial file is ever left under the name. A device or a pipe is
    written in place. An OSError raised names `target` as it was given."""
    name = os.fsdecode(target)
    path = name if _is_device(name) else os.path.join(os.path.dirname(os.path.abspath(name)),
                                                      _temporary_name())
    try:
        with contextlib.nullcontext() if path == name else _swapped_in(path, name):
            yield path
    except OSError as error:
        named = _named_as_given(error, path, target)
        if named is not error:
            raise named.with_traceback(error.__traceback__) from None
        raise


class CopiedSteps(NamedTuple):
    """Consecutive time steps of an open plot file, to be written as their text stands: what a
    file of the output's width gives without formatting a value."""

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
        """Appends `steps`, whose file has the writer's width, as their text stands, each line
        checked as a read checks it; a failure of reading them (a fault in a line among them)
        is raised as a _ReadFailure."""
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
def plot_writer(target: PathArgument, names: Sequence[str], width: int,
                title: str | None = None) -> Iterator[PlotWriter]:
    """A PlotWriter of a new plot file at `target`, which appears there when the block ends
    well; the names and the title are checked before anything is written."""
    header = header_bytes(names, title)
    with replacing(target) as temporary, _writer_at(temporary, header, width) as writer:
        yield writer


@contextlib.contextmanager
def _writer_at(temporary: str, header: bytes, width: int) -> Iterator[PlotWriter]:
    fd = os.open(temporary, os.O_WRONLY | os.O_CLOEXEC)
    try:
        _write_all(fd, header)
        yield PlotWriter(fd, width)
    finally:
        os.close(fd)


def write(path: PathArgument, plot: Plot, n_digits: int = EXACT_WIDTH, *,
          title: str | None = None) -> None:
    """Writes `plot` as a plot file: the first line (`title`, if given, then the parameter
    count), the name lines, then per time step a lead line and the values, ten fields to a
    line, each right-aligned in `n_digits` bytes.

    Width 15 writes 9 significant digits, which read back to the same binary32 bits; width 12
    writes 6, correctly rounded (ties to even). NaN is written "NaN", infinities "Inf" and
    "-Inf". Raises ValueError, before anything is written, for a name line or title holding a
    line break, a Plot of no parameters, values that are not a (steps, parameters) block of a
    column per name, or a width other than 12 and 15. The file appears only when it is whole,
    with the mode of the file it replaces: a failure leaves none behind, and an OSError names
    `path` as given.
    """
    if not isinstance(plot, Plot):
        raise TypeError(f"plot must be a vormant.Plot, not {type(plot).__name__}")
    if title is not None and not isinstance(title, str):
        raise TypeError(f"title must be str or None, not {type(title).__name__}")
    width = check_n_digits(n_digits)
    if width is None:
        raise ValueError(f"n_digits must be {WIDTHS[0]} or {WIDTHS[1]} for writing, not None")
    os.fsencode(path)  # a path of another type is refused before anything is written
    _check_columns(plot)
    with plot_writer(path, plot.names, width, title) as writer:
        writer.write(plot.values)


def _check_columns(plot: Plot) -> None:
    """A Plot made by hand whose values have another number of columns than it has names would
    be written as a file no reader takes: it is refused."""
    shape = memoryview(plot.values).shape or ()
    if len(shape) != 2 or shape[1] != len(plot.names):
        raise ValueError(f"the values of {plot.path!r} must be a (steps, parameters) block of "
                         f"{len(plot.names)} columns, one per name, not of shape {shape}")


@contextlib.contextmanager
def reading() -> Iterator[None]:
    """Inside `written`: a failure here is one of reading a plot file, not of writing."""
    try:
        yield
    except Exception as error:
        raise _ReadFailure(error) from error


def read_apart(plots: Iterator[Any]) -> Iterator[Any]:
    """The items of `plots`, each read inside `reading`."""
    with reading():
        yield from plots


@contextlib.contextmanager
def written(target: str) -> Iterator[str]:
    """`replacing(target)` for a command: a failure of writing is raised as a WriteFailure
    naming `target`, one of reading a plot file (inside `reading`) as it is; either way no
    file is left."""
    try:
        with writing(target), replacing(target) as temporary:
            yield temporary
    except _ReadFailure as failure:
        raise failure.error from None


def write_pieces(target: str, names: Sequence[str], width: int, title: str | None,
                 plots: Iterator[Plot | CopiedSteps]) -> None:
    """The pieces `plots`, read and formatted or copied, as one plot file at `target`. An
    OSError of writing is raised as a WriteFailure, one of reading as it is; either way no file
    is left."""
    header = header_bytes(names, title)
    with written(target) as temporary, _writer_at(temporary, header, width) as writer:
        for piece in read_apart(plots):
            if isinstance(piece, CopiedSteps):
                writer.copy(piece)
            else:
                writer.write(piece.values)
