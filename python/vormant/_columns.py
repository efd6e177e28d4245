"""Parameters chosen by name or by index, checked before any value is read."""

from __future__ import annotations

import operator
from collections.abc import Iterable, Sequence

ColumnArgument = str | int


def find_parameter(names: Sequence[str], wanted: str, path: str) -> int:
    """The column of `wanted`: a whole name line, or the first word of exactly one.

    KeyError when no name fits, ValueError when several do.
    """
    whole = [column for column, name in enumerate(names) if name == wanted]
    if len(whole) == 1:
        return whole[0]
    if len(whole) > 1:
        raise ValueError(f"{path}: {len(whole)} parameters are called {wanted!r} "
                         f"(columns {', '.join(map(str, whole))}); choose one by its index")
    by_word = [column for column, name in enumerate(names)
               if name.split(maxsplit=1)[:1] == [wanted]]
    if len(by_word) == 1:
        return by_word[0]
    if by_word:
        candidates = ", ".join(repr(names[column]) for column in by_word)
        raise ValueError(f"{path}: {wanted!r} is ambiguous: it starts {candidates}")
    known = ", ".join(repr(name) for name in names[1:]) or "only the time"
    raise KeyError(f"{path} has no parameter {wanted!r} (it has {known})")


def _column(names: Sequence[str], wanted: object, path: str) -> int:
    if isinstance(wanted, str):
        column = find_parameter(names, wanted, path)
        if column == 0:
            raise ValueError(f"{path}: {wanted!r} is the time, which is always column 0")
        return column
    if isinstance(wanted, bool):
        raise TypeError("a column is a name (str) or an index (int), not a bool")
    try:
        index = operator.index(wanted)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(
            f"a column is a name (str) or an index (int), not {type(wanted).__name__}"
        ) from None
    if not 1 <= index < len(names):
        raise IndexError(f"{path}: column {index} out of range: the parameters after the time "
                         f"are 1 to {len(names) - 1}")
    return index


def resolve_columns(names: Sequence[str], wanted: Iterable[ColumnArgument] | None,
                    path: str) -> tuple[int, ...] | None:
    """The parameter indices of `wanted` in its order (None: every parameter).

    KeyError for an unknown name, IndexError for an index out of range, ValueError for an
    ambiguous or repeated one, TypeError for anything that is neither a name nor an index.
    """
    if wanted is None:
        return None
    if isinstance(wanted, (str, bytes)):
        raise TypeError("columns must be a list of names or indices, not a single "
                        f"{type(wanted).__name__}")
    items = list(wanted)
    columns = tuple(_column(names, item, path) for item in items)
    seen: set[int] = set()
    for item, column in zip(items, columns):
        if column in seen:
            raise ValueError(f"{path}: parameter {names[column]!r} is chosen twice ({item!r})")
        seen.add(column)
    return columns


def step_range(steps: slice | range | None, count: int) -> range:
    """The time steps of `steps` among `count`, with Python's meaning of a slice."""
    every = range(count)
    if steps is None:
        return every
    if isinstance(steps, range):
        steps = slice(steps.start, steps.stop, steps.step)
    if not isinstance(steps, slice):
        raise TypeError(f"steps must be a slice or a range, not {type(steps).__name__}")
    return every[steps]


def check_threads(threads: object) -> int | None:
    if threads is None:
        return None
    if isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be a positive int or None, not {type(threads).__name__}")
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    return threads
