"""A plot file shown by `vormant view`: held open, the time of every step indexed so that a
visible range of time is a range of steps, and the M4 points of any range of its steps."""

from __future__ import annotations

from typing import Any

from ._columns import find_parameter
from ._open import PlotFile
from ._plotting import m4_points


class Followed:
    """One file of the view; `growing` for a file still being written."""

    def __init__(self, numpy: Any, path: str, n_digits: int | None, growing: bool) -> None:
        self._numpy = numpy
        self.plot_file = PlotFile(path, n_digits, growing=growing)
        try:
            self.times = self._times(range(self.plot_file.steps))
        except BaseException:
            self.plot_file.close()
            raise

    @property
    def path(self) -> str:
        return self.plot_file.path

    @property
    def steps(self) -> int:
        return len(self.times)

    def column(self, name: str) -> int | None:
        """The column of the parameter of this name line, None when the file has none."""
        try:
            column = find_parameter(self.plot_file.names, name, self.path)
        except (KeyError, ValueError):
            return None
        return column or None

    def refresh(self) -> int:
        """Indexes the steps completed since; returns how many."""
        before = self.steps
        added = self.plot_file.refresh()
        if added:
            more = self._times(range(before, before + added))
            self.times = self._numpy.concatenate([self.times, more])
        return added

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

    def _times(self, steps: range) -> Any:
        return self.plot_file.read([], steps).to_numpy()[:, 0].copy()
