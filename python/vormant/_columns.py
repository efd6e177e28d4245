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
    raise KeyError(f"{path} has no parameter {wanted!r} ({_known(names[1:], wanted)})")


# Beyond this many parameters a message names the nearest few rather than every one.
_LISTED = 20


def _known(names: Sequence[str], wanted: str) -> str:
    if not names:
        return "it has only the time"
    if len(names) <= _LISTED:
        return "it has " + ", ".join(map(repr, names))
    import difflib

    # A name of one word is held against the names' first words, a longer one against them whole.
    whole = len(wanted.split()) > 1
    keys = {name if whole or not name.strip() else name.split(maxsplit=1)[0]: name
            for name in names}
    nearest = [keys[key] for key in difflib.get_close_matches(wanted, list(keys), n=5)]
    near = ("; the nearest: " + ", ".join(map(repr, nearest))) if nearest else ""
    return f"it has {len(names)} parameters{near}"


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


def check_columns(wanted: Iterable[ColumnArgument] | None) -> list[ColumnArgument] | None:
    """The items of `wanted`, each checked to be a name or an index, before any file is read.

    TypeError for a lone string or bytes (a list of names belongs there, not one taken apart
    into its characters) and for an item that is neither a name nor an index.
    """
    if wanted is None:
        return None
    if isinstance(wanted, (str, bytes)):
        raise TypeError("columns must be a list of names or indices, not a single "
                        f"{type(wanted).__name__}")
    try:
        items = list(wanted)
    except TypeError:
        raise TypeError("columns must be a list of names or indices, not "
                        f"{type(wanted).__name__}") from None
    for item in items:
        if isinstance(item, str):
            continue
        if isinstance(item, bool):
            raise TypeError("a column is a name (str) or an index (int), not a bool")
        try:
            operator.index(item)  # type: ignore[arg-type]
        except TypeError:
            raise TypeError(
                f"a column is a name (str) or an index (int), not {type(item).__name__}"
            ) from None
    return items


def resolve_columns(names: Sequence[str], wanted: Iterable[ColumnArgument] | None,
                    path: str) -> tuple[int, ...] | None:
    """The parameter indices of `wanted` in its order (None: every parameter).

    KeyError for an unknown name, IndexError for an index out of range, ValueError for an
    ambiguous or repeated one, TypeError for anything that is neither a name nor an index.
    """
    items = check_columns(wanted)
    if items is None:
        return None
    columns = tuple(_column(names, item, path) for item in items)
    seen: set[int] = set()
    for item, column in zip(items, columns):
        if column in seen:
            raise ValueError(f"{path}: parameter {names[column]!r} is chosen twice ({item!r})")
        seen.add(column)
    return columns


def check_steps(steps: object) -> slice | range | None:
    """`steps` checked to be None, a range, or a slice of ints or None, before any file is
    read."""
    if steps is None or isinstance(steps, range):
        return steps
    if not isinstance(steps, slice):
        raise TypeError(f"steps must be a slice or a range, not {type(steps).__name__}")
    for bound in (steps.start, steps.stop, steps.step):
        if bound is not None and (isinstance(bound, bool) or not hasattr(bound, "__index__")):
            raise TypeError("the bounds of a slice of steps must be ints or None, not "
                            f"{type(bound).__name__}")
    if steps.step is not None and operator.index(steps.step) == 0:
        raise ValueError("slice step cannot be zero")
    return steps


def step_range(steps: slice | range | None, count: int) -> range:
    """The time steps of `steps` among `count`.

    A slice has Python's meaning of a slice of a list. A range is its elements: the indices it
    yields, a negative one counted from the end as a list counts it; IndexError for one beyond
    the steps, ValueError when the indices so counted are not evenly spaced (a range crossing
    from negative to non-negative indices).
    """
    every = range(count)
    steps = check_steps(steps)
    if steps is None:
        return every
    if isinstance(steps, slice):
        return every[steps]
    return _range_of_indices(steps, count)


def _range_of_indices(steps: range, count: int) -> range:
    if not steps:
        return range(0)
    for index in (steps[0], steps[-1]):
        if not -count <= index < count:
            raise IndexError(f"time step {index} out of range: the file has {count} steps")
    # A range is monotonic: when its ends have one sign, so have all its indices, and counted
    # from the end they stay evenly spaced; across zero they cannot.
    if (steps[0] < 0) != (steps[-1] < 0):
        raise ValueError(f"steps {steps!r} mix indices counted from the end with ones counted "
                         "from the start; use a slice, or a range of one sign")
    first = steps[0] % count
    last = steps[-1] % count
    return range(first, last + (1 if steps.step > 0 else -1), steps.step)


def check_threads(threads: object) -> int | None:
    if threads is None:
        return None
    if isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be a positive int or None, not {type(threads).__name__}")
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    return threads
