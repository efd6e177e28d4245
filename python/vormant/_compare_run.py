"""Two runs gone through in pieces of both at once, each piece compared by the native reader:
step by step, or at the reference's times with the candidate interpolated."""

from __future__ import annotations

import contextlib
import math
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from typing import Any, NamedTuple, TypeVar

from . import _reader
from ._arguments import PathArgument, time_line
from ._errors import PlotFileError
from ._open import PlotFile, open_run
from ._plot import Plot
from ._report import PIECE_VALUES

T = TypeVar("T")


class Source:
    """A run to compare: a file held open (read a piece of the compared columns at a time) or a
    Plot already in memory (its rows taken as they are)."""

    def __init__(self, run: PlotFile | Plot) -> None:
        self.run = run
        self.names: tuple[str, ...] = run.names
        self.path: str = run.path
        self.steps: int = run.steps

    def positions(self, chosen: tuple[int, ...]) -> tuple[int, ...]:
        """Where the columns `chosen` lie in a piece: a file's piece holds only them."""
        if isinstance(self.run, Plot):
            return chosen
        return tuple(range(1, len(chosen) + 1))

    def piece(self, chosen: tuple[int, ...], start: int, stop: int) -> memoryview:
        if isinstance(self.run, Plot):
            return self.run.values[start:stop]
        # Every parameter in the file's order is read fastest as the whole of each step.
        every = chosen == tuple(range(1, len(self.names)))
        return self.run.read(None if every else chosen, range(start, stop)).values

    def time_line(self, step: int) -> int:
        return time_line(len(self.names), step)


@contextlib.contextmanager
def opened(run: PathArgument | Plot, n_digits: int | None) -> Iterator[Source]:
    if isinstance(run, Plot):
        yield Source(run)
        return
    with open_run(run, n_digits) as plot_file:
        yield Source(plot_file)


class Columns(NamedTuple):
    """The compared parameters' columns in each run and their (rtol, atol); the time's
    (rtol, atol) when it is compared as a parameter too."""

    reference: tuple[int, ...]
    candidate: tuple[int, ...]
    limits: tuple[tuple[float, float], ...]
    time_limits: tuple[float, float] | None = None


class Tally:
    """One parameter's findings over the pieces so far; steps counted from the file's start."""

    __slots__ = ("max_abs", "max_rel", "failures", "first", "worst", "worst_key")

    def __init__(self) -> None:
        self.max_abs = 0.0
        self.max_rel = 0.0
        self.failures = 0
        self.first: tuple[int, float] | None = None  # (step, time)
        self.worst: tuple[int, float] | None = None
        self.worst_key = (-1.0, -1.0, -1.0)

    def add(self, found: tuple[Any, ...], piece: memoryview, offset: int) -> None:
        max_abs, max_rel, failures, first, worst, *key = found
        self.max_abs = max(self.max_abs, max_abs)
        self.max_rel = max(self.max_rel, max_rel)
        self.failures += failures
        if first is not None and self.first is None:
            self.first = (offset + first, piece[first, 0])
        if worst is not None and tuple(key) > self.worst_key:
            self.worst = (offset + worst, piece[worst, 0])
            self.worst_key = tuple(key)


class Outcome(NamedTuple):
    tallies: list[Tally]
    compared: int
    uncovered: int


class Walk:
    """The state of one comparison: the tallies, the steps counted, the difference rows."""

    def __init__(self, reference: Source, candidate: Source, columns: Columns,
                 out: memoryview | None) -> None:
        self.reference = reference
        self.candidate = candidate
        self.chosen = columns
        ref_at = reference.positions(columns.reference)
        cand_at = candidate.positions(columns.candidate)
        time = () if columns.time_limits is None else ((0, 0, *columns.time_limits),)
        self.rules = time + tuple((r, c, rtol, atol)
                                  for r, c, (rtol, atol) in zip(ref_at, cand_at, columns.limits))
        self.width = 1 + max((max(rule[0], rule[1]) for rule in self.rules), default=0)
        self.tallies = [Tally() for _ in self.rules]
        self.out = out
        self.compared = 0
        self.uncovered = 0
        self.size = max(1, PIECE_VALUES // (1 + len(self.rules)))

    def step(self, ref_piece: memoryview, cand_piece: memoryview, first: int, final: bool | None,
             offset: int) -> tuple[int, Any, Any]:
        out = None if self.out is None else self.out[self.compared:]
        consumed, uncovered, ref_back, cand_back, found = _reader.compare_piece(
            ref_piece, cand_piece, self.rules, first, final, out)
        for tally, piece_found in zip(self.tallies, found):
            tally.add(piece_found, ref_piece, offset)
        self.compared += consumed - uncovered
        self.uncovered += uncovered
        return consumed, ref_back, cand_back

    def pieces(self, source: Source, chosen: tuple[int, ...]
               ) -> Iterator[tuple[memoryview, int, int]]:
        """(piece, its first step, the first row of it that is new); each piece after the
        first starts at the last step of the one before, so no interval is left out."""
        for start in range(0, source.steps, self.size):
            begin = max(0, start - 1)
            yield source.piece(chosen, begin, min(start + self.size, source.steps)), begin, \
                start - begin

    def empty(self) -> memoryview:
        """A piece of no steps, as wide as the rules need."""
        block: Any = memoryview(bytearray(4 * self.width))  # as _flat in _envelope says
        return block.cast("f", (1, self.width))[:0]


@contextlib.contextmanager
def read_ahead(pieces: Iterator[T]) -> Iterator[Iterator[T]]:
    """The items of `pieces`, the next one read on a thread of its own while the caller works
    on this one (the reader runs without the interpreter lock): two files read at once.

    A context, not a generator holding the thread: the thread is joined where the caller
    leaves the block, never in a finaliser run by the garbage collector on whatever thread it
    happens to run, which can deadlock with a thread being started there.
    """
    with ThreadPoolExecutor(1, thread_name_prefix="vormant-compare") as pool:
        def items() -> Iterator[T]:
            coming = pool.submit(next, pieces, None)
            while (item := coming.result()) is not None:
                coming = pool.submit(next, pieces, None)
                yield item

        yield items()


def by_steps(walk: Walk) -> Outcome:
    common = min(walk.reference.steps, walk.candidate.steps)
    starts = range(0, common, walk.size)
    with read_ahead(walk.candidate.piece(walk.chosen.candidate, start,
                                         min(start + walk.size, common))
                    for start in starts) as candidate:
        for start, cand_piece in zip(starts, candidate):
            ref_piece = walk.reference.piece(walk.chosen.reference, start,
                                             min(start + walk.size, common))
            walk.step(ref_piece, cand_piece, 0, None, start)
    walk.uncovered = walk.reference.steps - common
    return Outcome(walk.tallies, walk.compared, walk.uncovered)


def by_times(walk: Walk) -> Outcome:
    with read_ahead(walk.pieces(walk.candidate, walk.chosen.candidate)) as windows:
        _walk_times(walk, windows)
    return Outcome(walk.tallies, walk.compared, walk.uncovered)


def _walk_times(walk: Walk, windows: Iterator[tuple[memoryview, int, int]]) -> None:
    """Each reference step against the candidate's windows around its time."""
    window, window_begin, _ = next(windows, (walk.empty(), 0, 0))
    final = window_begin + len(window) >= walk.candidate.steps
    ref_piece, ref_begin, first = walk.empty(), 0, 0
    for ref_piece, ref_begin, first in walk.pieces(walk.reference, walk.chosen.reference):
        while True:
            consumed, ref_back, cand_back = walk.step(ref_piece, window, first, final, ref_begin)
            _refuse_going_back(walk.candidate, window, cand_back, window_begin)
            _refuse_going_back(walk.reference, ref_piece, ref_back, ref_begin)
            first += consumed
            if first >= len(ref_piece):
                break
            window, window_begin, _ = next(windows)
            final = window_begin + len(window) >= walk.candidate.steps
    # The rest of the candidate is still checked for times that go back.
    for window, window_begin, _ in windows:
        _, _, cand_back = walk.step(ref_piece, window, len(ref_piece), True, ref_begin)
        _refuse_going_back(walk.candidate, window, cand_back, window_begin)


def _refuse_going_back(source: Source, piece: memoryview, back: int | None, begin: int) -> None:
    """PlotFileError naming the step at row `back` of `piece`, whose time is NaN or below the
    time before it: steps out of time order cannot be lined up by time."""
    if back is None:
        return
    step = begin + back
    line = source.time_line(step)
    how = "is NaN" if math.isnan(piece[back, 0]) else "goes back from the step before"
    raise PlotFileError(f"{source.path}, line {line}: the time of step {step} {how}, so it "
                        "cannot be lined up by time", source.path, line)


def difference_block(rows: int, columns: int) -> memoryview:
    """Room for the candidate minus the reference of `rows` steps, the time first."""
    room: Any = memoryview(bytearray(4 * max(rows, 1) * columns))  # cast to 'f', untyped
    block: memoryview = room.cast("f", (max(rows, 1), columns))
    return block if rows else block[:0]


def run(walk: Walk, align: str) -> Outcome:
    return by_steps(walk) if align == "steps" else by_times(walk)
