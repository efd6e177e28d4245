"""Two runs compared parameter by parameter: `vormant.compare` and its `Comparison`."""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, NamedTuple

from ._arguments import PathArgument, check_n_digits
from ._columns import ColumnArgument, find_parameter, resolve_columns
from ._compare_run import Columns, Outcome, Source, Walk, difference_block, opened, run
from ._optional import require
from ._plot import Plot

if TYPE_CHECKING:
    import pandas as _pandas  # type: ignore[import-not-found, import-untyped, unused-ignore]

ALIGNS = ("steps", "time")
Run = PathArgument | Plot


class ColumnComparison(NamedTuple):
    """One parameter compared: steps count from 0, as `read(steps=...)` counts them."""

    name: str
    max_abs: float
    max_rel: float
    failures: int
    first_step: int | None
    first_time: float | None
    worst_step: int | None
    worst_time: float | None


def check_tolerance(value: object, what: str) -> float:
    """A tolerance: a real number, not negative, not NaN."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} must be a real number, not {type(value).__name__}")
    number = float(value)
    if math.isnan(number) or number < 0:
        raise ValueError(f"{what} must be a number from 0 on, not {value!r}")
    return number


def _check_tolerances(tolerances: Mapping[str, tuple[float, float]] | None
                      ) -> dict[str, tuple[float, float]]:
    if tolerances is None:
        return {}
    if not isinstance(tolerances, Mapping):
        raise TypeError("tolerances must map names to (rtol, atol) pairs, not "
                        f"{type(tolerances).__name__}")
    checked = {}
    for name, pair in tolerances.items():
        if not isinstance(name, str):
            raise TypeError(f"a name in tolerances must be a str, not {type(name).__name__}")
        if not isinstance(pair, Sequence) or isinstance(pair, str) or len(pair) != 2:
            raise TypeError(f"tolerances[{name!r}] must be an (rtol, atol) pair")
        checked[name] = (check_tolerance(pair[0], f"the rtol of {name!r}"),
                         check_tolerance(pair[1], f"the atol of {name!r}"))
    return checked


def _keys(names: Sequence[str]) -> list[tuple[str, int]]:
    """Each parameter's name line and how often it came before: a repeated name line is
    matched in order of appearance."""
    seen: dict[str, int] = {}
    keys = []
    for name in names:
        keys.append((name, seen.get(name, 0)))
        seen[name] = seen.get(name, 0) + 1
    return keys


class _Matching(NamedTuple):
    reference: tuple[int, ...]
    candidate: tuple[int, ...]
    only_in_reference: tuple[str, ...]
    only_in_candidate: tuple[str, ...]


def _match(reference: Source, candidate: Source, columns: Iterable[ColumnArgument] | None
           ) -> _Matching:
    # Column 0, the time, is matched by position, never by name.
    ref_keys: list[tuple[str, int]] = [("", -1), *_keys(reference.names[1:])]
    cand_keys = _keys(candidate.names[1:])
    where = {key: column for column, key in enumerate(cand_keys, start=1)}
    chosen = resolve_columns(reference.names, columns, reference.path)
    wanted = range(1, len(reference.names)) if chosen is None else chosen
    found = [column for column in wanted if ref_keys[column] in where]
    missing = tuple(reference.names[column] for column in wanted if ref_keys[column] not in where)
    matched = {where[ref_keys[column]] for column in found}
    extra = tuple(name for column, name in enumerate(candidate.names[1:], start=1)
                  if column not in matched) if chosen is None else ()
    return _Matching(tuple(found), tuple(where[ref_keys[column]] for column in found), missing,
                     extra)


def _limits(reference: Source, columns: Sequence[int], default: tuple[float, float],
            tolerances: dict[str, tuple[float, float]]) -> dict[int, tuple[float, float]]:
    """The (rtol, atol) of the reference's columns `columns` (and the time's, column 0)."""
    given = {find_parameter(reference.names, name, reference.path): pair
             for name, pair in tolerances.items()}
    return {column: given.get(column, default) for column in (0, *columns)}


class Comparison:
    """The outcome of `vormant.compare`: a `ColumnComparison` per compared parameter, the
    steps counted, the names found in one run only; `passed` tells whether all agree."""

    def __init__(self, columns: tuple[ColumnComparison, ...], steps: tuple[int, int],
                 compared: int, uncovered: int, matching: _Matching, align: str,
                 redo: Any) -> None:
        self._columns = columns
        self._steps = steps
        self._compared = compared
        self._uncovered = uncovered
        self._matching = matching
        self._align = align
        self._redo = redo

    @property
    def columns(self) -> tuple[ColumnComparison, ...]:
        return self._columns

    @property
    def steps(self) -> tuple[int, int]:
        """(reference steps, candidate steps)."""
        return self._steps

    @property
    def compared_steps(self) -> int:
        return self._compared

    @property
    def uncovered_steps(self) -> int:
        """Reference steps compared with nothing: outside the candidate's times, or past its
        last step."""
        return self._uncovered

    @property
    def only_in_reference(self) -> tuple[str, ...]:
        return self._matching.only_in_reference

    @property
    def only_in_candidate(self) -> tuple[str, ...]:
        return self._matching.only_in_candidate

    @property
    def passed(self) -> bool:
        """Every compared value within tolerance, every reference step and parameter covered,
        and as many steps on both sides (by time: a run with steps never matches one without,
        against which nothing could be compared)."""
        agree = all(column.failures == 0 for column in self._columns)
        return agree and self._uncovered == 0 and not self.only_in_reference and (
            self._steps[0] == self._steps[1] or (self._align == "time" and 0 not in self._steps))

    def __getitem__(self, name: str) -> ColumnComparison:
        names = [column.name for column in self._columns]
        return self._columns[find_parameter(names, name, "the comparison")]

    def __len__(self) -> int:
        return len(self._columns)

    def to_pandas(self) -> _pandas.DataFrame:
        """A DataFrame indexed by name, a column per field of ColumnComparison."""
        pandas_module: Any = require("pandas", "Comparison.to_pandas", "pandas")
        frame: _pandas.DataFrame = pandas_module.DataFrame(
            [column[1:] for column in self._columns], columns=list(ColumnComparison._fields[1:]),
            index=pandas_module.Index([column.name for column in self._columns], name="name"))
        return frame

    def differences(self, columns: Iterable[ColumnArgument] | None = None) -> Plot:
        """Candidate minus reference of the compared parameters (or of `columns`, in the order
        given) on the compared steps, at the reference's times."""
        result: Plot = self._redo(columns)
        return result

    def __repr__(self) -> str:
        verdict = "passed" if self.passed else "failed"
        failing = sum(1 for column in self._columns if column.failures)
        return (f"<vormant.Comparison {verdict}: {len(self._columns)} compared, {failing} "
                f"beyond tolerance, steps {self._steps[0]} and {self._steps[1]}>")


def _column_result(name: str, tally: Any) -> ColumnComparison:
    first = tally.first or (None, None)
    worst = tally.worst or (None, None)
    return ColumnComparison(name, tally.max_abs, tally.max_rel, tally.failures, first[0],
                            first[1], worst[0], worst[1])


def compare(reference: Run, candidate: Run, n_digits: int | None = None, *,
            columns: Iterable[ColumnArgument] | None = None, rtol: float = 0.0,
            atol: float = 0.0, tolerances: Mapping[str, tuple[float, float]] | None = None,
            align: str = "steps") -> Comparison:
    """Compares a candidate run with a reference run, parameter by parameter.

    `reference`, `candidate`: paths or Plots. Parameters are matched by their whole name line
    (a repeated one in order of appearance); `columns` (the reference's names or indices, as
    `read` takes them) limits the comparison. A candidate value c is within tolerance of the
    reference value r when |c - r| <= atol + rtol * |r|, in binary64; `tolerances` maps names
    to (rtol, atol) pairs for those parameters. Two NaNs are equal, a NaN against a number is
    beyond any tolerance, an infinity equals only itself.

    align="steps" compares step i with step i, the time like a parameter; align="time"
    compares each reference step within the candidate's times with the candidate linearly
    interpolated there (PlotFileError for a time that goes back or is NaN, in either run). A
    file with no time steps is an empty run, equal only to another. Both files are read a piece
    of their compared columns at a time.
    """
    width = check_n_digits(n_digits)
    if align not in ALIGNS:
        raise ValueError(f"align must be 'steps' or 'time', not {align!r}")
    default = (check_tolerance(rtol, "rtol"), check_tolerance(atol, "atol"))
    given = _check_tolerances(tolerances)
    with opened(reference, width) as ref, opened(candidate, width) as cand:
        matching = _match(ref, cand, columns)
        limits = _limits(ref, matching.reference, default, given)
        chosen = Columns(matching.reference, matching.candidate,
                         tuple(limits[column] for column in matching.reference),
                         limits[0] if align == "steps" else None)
        outcome = run(Walk(ref, cand, chosen, None), align)
        steps = (ref.steps, cand.steps)
        names = ((ref.names[0],) if align == "steps" else ()) + tuple(
            ref.names[column] for column in matching.reference)

    def redo(wanted: Iterable[ColumnArgument] | None) -> Plot:
        return _differences(reference, candidate, width, matching, wanted, align)

    results = tuple(_column_result(name, tally) for name, tally in zip(names, outcome.tallies))
    return Comparison(results, steps, outcome.compared, outcome.uncovered, matching, align, redo)


def _differences(reference: Run, candidate: Run, width: int | None, matching: _Matching,
                 wanted: Iterable[ColumnArgument] | None, align: str) -> Plot:
    with opened(reference, width) as ref, opened(candidate, width) as cand:
        pairs = dict(zip(matching.reference, matching.candidate))
        chosen = resolve_columns(ref.names, wanted, ref.path)
        picked = matching.reference if chosen is None else chosen
        for column in picked:
            if column not in pairs:
                raise KeyError(f"{ref.names[column]!r} was not compared")
        columns = Columns(tuple(picked), tuple(pairs[column] for column in picked),
                          ((0.0, 0.0),) * len(picked))
        out = difference_block(ref.steps, 1 + len(picked))
        outcome: Outcome = run(Walk(ref, cand, columns, out), align)
        names = (ref.names[0], *(ref.names[column] for column in picked))
        n_digits = getattr(ref.run, "n_digits", 0) or 0
        return Plot(names, out[:outcome.compared], n_digits, cand.path)
