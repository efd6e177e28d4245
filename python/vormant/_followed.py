"""A plot file shown by `vormant view`: held open, the time of every step indexed so that a
visible range of time is a range of steps, and the M4 points of any range of its steps."""

from __future__ import annotations

from typing import Any

from ._compare import _keys
from ._open import PlotFile
from ._plotting import m4_points

# A parameter as the files of a view know it: its name line (stripped of the blanks around it,
# as PlotFile gives it) and how often that line came before it in its file.
Key = tuple[str, int]


class Followed:
    """One file of the view; `growing` for a file still being written."""

    def __init__(self, numpy: Any, path: str, n_digits: int | None, growing: bool) -> None:
        self._numpy = numpy
        self.plot_file = PlotFile(path, n_digits, growing=growing)
        self.times = numpy.zeros(0, dtype="float32")
        # The time, column 0, is no parameter: its key matches none.
        self.keys: list[Key] = [("", -1), *_keys(self.plot_file.names[1:])]
        self._columns = {key: column for column, key in enumerate(self.keys) if column}
        try:
            self._index_times()
        except BaseException:
            self.plot_file.close()
            raise

    @property
    def path(self) -> str:
        return self.plot_file.path

    @property
    def steps(self) -> int:
        return len(self.times)

    def column(self, key: Key) -> int | None:
        """The column of the parameter with this name line and occurrence; None when the file
        has none (a repeated name line it has fewer times)."""
        return self._columns.get(key)

    def check(self, columns: list[int]) -> None:
        """Reads `columns` of every step indexed, so that a fault in what will be drawn is
        raised now (PlotFileError) rather than at a page load."""
        if columns and self.steps:
            self.plot_file.envelope(columns, range(self.steps), buckets=1)

    def refresh(self) -> None:
        """Indexes the steps completed since. Times are read from the first step not yet
        timed, so that a step whose time could not be read is read again next time."""
        self.plot_file.refresh()
        self._index_times()

    def steps_between(self, low: float, high: float) -> range:
        """The steps whose time is within [low, high], and one more on either side, so that
        the line runs on to the edges of the view."""
        first = int(self._numpy.searchsorted(self.times, low, side="left"))
        last = int(self._numpy.searchsorted(self.times, high, side="right"))
        return range(max(0, first - 1), min(self.steps, last + 1))

    def points(self, columns: list[int], steps: range, groups: int) -> list[tuple[Any, Any]]:
        """The M4 points (x, y) of each of `columns` over `steps` cut into `groups`."""
        if not steps or not columns:
            empty = self._numpy.zeros(0, dtype="float32")
            return [(empty, empty)] * len(columns)
        envelope = self.plot_file.envelope(columns, steps, buckets=max(1, groups))
        whole = envelope.groups == len(steps)
        return [m4_points(self._numpy, envelope, index, whole) for index in range(len(columns))]

    def _index_times(self) -> None:
        new = range(self.steps, self.plot_file.steps)
        if new:
            more = self.plot_file.read([], new).to_numpy()[:, 0]
            self.times = self._numpy.concatenate([self.times, more])
