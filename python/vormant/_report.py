"""How the command line reports failures on standard error."""

from __future__ import annotations

import sys

from ._errors import PlotFileError

PROG = "vormant"


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
    print(f"{PROG}: error: cannot write {target}: {error.strerror or error}", file=sys.stderr)


def usage_error(command: str, message: str) -> int:
    print(f"{PROG} {command}: error: {message}", file=sys.stderr)
    return 2


def missing_library(error: ImportError) -> int:
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return 1
