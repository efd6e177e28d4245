"""`vormant diff`: two runs, or two folders of runs, compared parameter by parameter."""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from typing import Any

from ._compare import ColumnComparison, Comparison, check_tolerance, compare
from ._plotting import Curve, _pyplot, draw, first_word
from ._report import failure_text, parameter_items, usage_error

COMMAND = "diff"
HEADINGS = ("parameter", "max abs", "max rel", "failures", "first time")


class Unusable(Exception):
    """Arguments that cannot be used; the text says why."""


def tolerance_pair(text: str) -> tuple[str, tuple[float, float]]:
    """NAME=RTOL,ATOL as argparse takes it."""
    name, _, numbers = text.rpartition("=")
    parts = numbers.split(",")
    if not name or len(parts) != 2:
        raise argparse.ArgumentTypeError(f"{text!r} is not NAME=RTOL,ATOL")
    try:
        return name, (check_tolerance(float(parts[0]), "rtol"),
                      check_tolerance(float(parts[1]), "atol"))
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"{text!r}: {error}") from None


def tolerance(text: str) -> float:
    try:
        return check_tolerance(float(text), "a tolerance")
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def json_number(value: float | None) -> float | str | None:
    """JSON has no NaN or infinity: null and the strings "inf" and "-inf" stand for them."""
    if value is None or math.isnan(value):
        return None
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return value


def as_json(comparison: Comparison) -> dict[str, Any]:
    return {
        "passed": comparison.passed,
        "steps": list(comparison.steps),
        "columns": [{"name": column.name, "max_abs": json_number(column.max_abs),
                     "max_rel": json_number(column.max_rel), "failures": column.failures,
                     "first_step": column.first_step,
                     "first_time": json_number(column.first_time),
                     "worst_time": json_number(column.worst_time)}
                    for column in comparison.columns],
        "only_in_reference": list(comparison.only_in_reference),
        "only_in_candidate": list(comparison.only_in_candidate),
    }


def _row(column: ColumnComparison) -> tuple[str, ...]:
    first = "-" if column.first_time is None else f"{column.first_time:.6g}"
    return (column.name, f"{column.max_abs:.6g}", f"{column.max_rel:.6g}", str(column.failures),
            first)


def table(comparison: Comparison, every: bool) -> list[str]:
    rows = [_row(column) for column in comparison.columns if every or column.failures]
    if not rows:
        return []
    widths = [max(len(row[k]) for row in [HEADINGS, *rows]) for k in range(len(HEADINGS))]
    return ["  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip()
            for row in [HEADINGS, *rows]]


def verdict(comparison: Comparison) -> str:
    if comparison.passed:
        return f"same within tolerance: {len(comparison)} parameters, " \
               f"{comparison.compared_steps} steps"
    failing = sum(1 for column in comparison.columns if column.failures)
    parts = [f"{failing} of {len(comparison)} parameters beyond tolerance"]
    steps = comparison.steps
    if steps[0] != steps[1]:
        parts.append(f"steps {steps[0]} and {steps[1]}")
    if comparison.uncovered_steps:
        parts.append(f"{comparison.uncovered_steps} reference steps not covered")
    if comparison.only_in_reference:
        parts.append(f"{len(comparison.only_in_reference)} parameters missing from the candidate")
    return "differ: " + ", ".join(parts)


def wanted_parameters(args: argparse.Namespace) -> list[str | int] | None:
    """The parameters of -p, names or indices; None for all."""
    return parameter_items(args.parameters) if args.parameters else None


def compared(args: argparse.Namespace, reference: str, candidate: str) -> Comparison:
    return compare(reference, candidate, args.n_digits, columns=wanted_parameters(args),
                   rtol=args.rtol, atol=args.atol, tolerances=dict(args.tolerances or ()),
                   align=args.align)


def plot_differences(args: argparse.Namespace, comparison: Comparison) -> None:
    pyplot = _pyplot()
    # With align="steps" the time comes first, compared but not drawn against itself.
    parameters = comparison.columns[1:] if args.align == "steps" else comparison.columns
    wanted = wanted_parameters(args) or [column.name for column in parameters if column.failures]
    differences = comparison.differences(wanted)
    values = differences.to_numpy()
    curves = [Curve(args.candidate, name, values[:, 0], values[:, column])
              for column, name in enumerate(differences.names[1:], start=1)]
    draw(pyplot, first_word(differences.names[0]), [curves], False, args.plot)


def one_pair(args: argparse.Namespace) -> int:
    comparison = compared(args, args.reference, args.candidate)
    if args.plot:
        plot_differences(args, comparison)
    if args.json:
        print(json.dumps(as_json(comparison)))
    else:
        for line in [*table(comparison, args.verbose), verdict(comparison)]:
            print(line)
    return 0 if comparison.passed else 1


def plot_names(folder: str) -> list[str]:
    return sorted(entry.name for entry in os.scandir(folder)
                  if entry.is_file() and not entry.name.startswith("."))


def folders(args: argparse.Namespace) -> int:
    """Every plot file of either folder against the one of the same name in the other: 1 for
    one in a single folder, 2 for one that cannot be read, and 2 when there is nothing at all
    to compare, which would otherwise pass unnoticed."""
    if args.plot:
        raise Unusable("--plot takes two files, not two folders")
    sides = {"reference": set(plot_names(args.reference)),
             "candidate": set(plot_names(args.candidate))}
    status = 0
    results: list[dict[str, Any]] = []
    for name in sorted(sides["reference"] | sides["candidate"]):
        missing = [side for side, names in sides.items() if name not in names]
        found, result = folder_file(args, name, missing[0] if missing else None)
        status = max(status, found)
        results.append(result)
    if not results:
        status = usage_error(COMMAND, f"nothing to compare: no plot files in {args.reference} "
                                      f"or {args.candidate}")
    if args.json:
        print(json.dumps({"passed": status == 0, "files": results}))
    return status


def folder_file(args: argparse.Namespace, name: str, missing: str | None
                ) -> tuple[int, dict[str, Any]]:
    """The status and JSON entry of the file `name` of two folders (`missing`: the side that
    lacks it); its lines printed unless --json."""
    if missing is not None:
        if not args.json:
            print(f"{name}: missing from {getattr(args, missing)}")
        return 1, {"file": name, "missing": missing}
    try:
        comparison = compared(args, os.path.join(args.reference, name),
                              os.path.join(args.candidate, name))
    except (OSError, ValueError) as error:
        text = failure_text(name, error)
        print(f"vormant: error: {text}", file=sys.stderr)
        return 2, {"file": name, "error": text}
    if not args.json:
        for line in table(comparison, args.verbose):
            print(f"  {line}")
        print(f"{name}: {verdict(comparison)}")
    return (0 if comparison.passed else 1), {"file": name, **as_json(comparison)}


def run(args: argparse.Namespace) -> int:
    """0 when everything agrees, 1 when something differs or is missing, 2 when a file cannot
    be read, two folders hold nothing to compare or the arguments cannot be used, as diff and
    cmp have it."""
    try:
        both = [os.path.isdir(path) for path in (args.reference, args.candidate)]
        if both[0] != both[1]:
            raise Unusable("compare two files or two folders, not one of each")
        return folders(args) if both[0] else one_pair(args)
    except Unusable as error:
        print(f"vormant {COMMAND}: error: {error}", file=sys.stderr)
    except (KeyError, IndexError) as error:
        print(f"vormant {COMMAND}: error: {error.args[0]}", file=sys.stderr)
    except ImportError as error:
        print(f"vormant: error: {error}", file=sys.stderr)
    except (OSError, ValueError) as error:
        print(f"vormant: error: {failure_text(args.reference, error)}", file=sys.stderr)
    return 2
