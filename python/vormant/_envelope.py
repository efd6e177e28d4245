"""The envelope of a run of time steps: per group of consecutive steps, the time of its first
and last step and the first, last, smallest and largest value of each parameter chosen."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ._optional import require

if TYPE_CHECKING:
    import numpy.typing as _numpy_typing  # type: ignore[import-not-found, import-untyped, unused-ignore]

FIELDS = ("start", "time_first", "time_last", "first", "last", "min", "max")


def _flat(values: Any) -> memoryview:
    """A block of one column as a vector of its groups."""
    # A view of no groups cannot be cast; an empty vector stands for it. (Cast to 'f': the
    # types of memoryview do not follow a cast, hence Any.)
    block: Any = memoryview(values) if len(memoryview(values)) else memoryview(b"")
    return block.cast("B").cast("f") if len(block) else block.cast("f")


class Envelope:
    """`PlotFile.envelope` and `vormant.envelope`: the chosen steps cut into `groups`.

    `names`: the chosen parameters' name lines (the time not among them). `start`: the first
    step of each group in the file's numbering (memoryview 'q'). `time_first`, `time_last`: the
    time of each group's first and last step (memoryview 'f'). `first`, `last`, `min`, `max`:
    memoryviews 'f' of shape (groups, len(names)), NaN left out of `min` and `max` (NaN when a
    group holds only NaN).
    """

    __slots__ = ("_names", "_path", *(f"_{field}" for field in FIELDS))

    def __init__(self, names: tuple[str, ...], native: tuple[Any, ...], path: str) -> None:
        start, time_first, time_last, first, last, low, high = native
        self._names = names
        self._path = path
        self._start = memoryview(start).cast("q")
        self._time_first = _flat(time_first)
        self._time_last = _flat(time_last)
        self._first, self._last, self._min, self._max = (
            memoryview(block) for block in (first, last, low, high))

    @property
    def names(self) -> tuple[str, ...]:
        return self._names

    @property
    def path(self) -> str:
        return self._path

    @property
    def start(self) -> memoryview:
        return self._start

    @property
    def time_first(self) -> memoryview:
        return self._time_first

    @property
    def time_last(self) -> memoryview:
        return self._time_last

    @property
    def first(self) -> memoryview:
        return self._first

    @property
    def last(self) -> memoryview:
        return self._last

    @property
    def min(self) -> memoryview:
        return self._min

    @property
    def max(self) -> memoryview:
        return self._max

    @property
    def groups(self) -> int:
        return len(self._start)

    def to_numpy(self) -> dict[str, _numpy_typing.NDArray[Any]]:
        """Every field by its name as a NumPy array sharing its memory."""
        numpy_module: Any = require("numpy", "Envelope.to_numpy", "numpy")
        return {field: numpy_module.asarray(getattr(self, field)) for field in FIELDS}

    def __repr__(self) -> str:
        return (f"<vormant.Envelope {self._path!r}: {len(self._names)} parameters, "
                f"{self.groups} groups>")
