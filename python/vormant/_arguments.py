"""Checks of the arguments every reading function shares, made before any file is touched."""

from __future__ import annotations

import operator
import os
from collections.abc import Iterable
from typing import TypeAlias

PathArgument: TypeAlias = str | bytes | os.PathLike[str] | os.PathLike[bytes]

# Field widths in bytes: 12 for files with 6 digits of precision, 15 for 9 digits, which give
# every binary32 back as it was.
WIDTHS = (12, 15)
EXACT_WIDTH = WIDTHS[1]
WIDTH_CHOICES = (f"{WIDTHS[0]} (6-digit files), {WIDTHS[1]} (9-digit files) or None (taken from "
                 "the file)")
# A time step's values are written ten fields to a line, the last line holding the rest.
FIELDS_PER_LINE = 10


def time_line(parameters: int, step: int) -> int:
    """The line of a file of `parameters` parameters that holds the time of `step`: after the
    first line and the name lines, each step takes a lead line and its value lines."""
    lines_per_step = 1 + -(-parameters // FIELDS_PER_LINE)
    return 1 + parameters + step * lines_per_step + 2


def refuse_single_path(paths: object, feature: str) -> None:
    """A single path where a list of them belongs is refused, not taken apart into its
    characters."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError(f"{feature} takes a list of plot files, not a single "
                        f"{type(paths).__name__}; for one file pass [path]")


def path_list(paths: Iterable[PathArgument], feature: str) -> list[str]:
    """The paths of an iterable of them, each as os.fsdecode names it."""
    refuse_single_path(paths, feature)
    return [os.fsdecode(os.fsencode(path)) for path in paths]


def check_n_digits(n_digits: object) -> int | None:
    if n_digits is None:
        return None
    if isinstance(n_digits, bool):
        raise TypeError(f"n_digits must be {WIDTH_CHOICES}, not a bool")
    try:
        width = operator.index(n_digits)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(
            f"n_digits must be {WIDTH_CHOICES}, not {type(n_digits).__name__}"
        ) from None
    if width not in WIDTHS:
        raise ValueError(f"n_digits must be {WIDTH_CHOICES}, not {width}")
    return width

