"""`vormant convert`: plot files to Parquet, a float32 column per parameter, written a piece
of the file at a time."""

from __future__ import annotations

import argparse
import contextlib
import functools
import json
import os
import pathlib
import sys
from collections.abc import Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import Any, NamedTuple

from . import _export
from ._columns import step_range
from ._options import FORMAT_OF_SUFFIX, SUFFIXES
from ._open import PlotFile
from ._arrow import N_DIGITS_KEY, SOURCE_KEY
from ._optional import require
from ._plot import Plot
from ._progress import progress_bar
from ._report import (chosen_columns, chosen_names, missing_library, overwritten_source, pieces,
                      report, usage_error, write_error)
from ._write import read_apart, written

# The name lines of the columns as a JSON list, repeats kept; beside the keys every
# Arrow schema of a plot has.
NAMES_KEY = b"vormant.names"
# Each format's suffix, by which OUT may also name it.
def unique_names(names: Sequence[str]) -> list[str]:
    """The names with each repeat made distinct: the second 'X' becomes 'X (2)', the third
    'X (3)', skipping any such name the file already has. Parquet readers refuse a file
    whose columns share a name."""
    taken = set(names)
    seen: set[str] = set()
    result = []
    for name in names:
        if name in seen:
            number = 2
            while f"{name} ({number})" in taken:
                number += 1
            name = f"{name} ({number})"
            taken.add(name)
        seen.add(name)
        result.append(name)
    return result


def schema(pyarrow: Any, names: Sequence[str], n_digits: int | None, source: str) -> Any:
    metadata = {N_DIGITS_KEY: str(n_digits).encode(), SOURCE_KEY: os.fsencode(source),
                NAMES_KEY: json.dumps(list(names), ensure_ascii=False).encode()}
    fields = [pyarrow.field(name, pyarrow.float32()) for name in unique_names(names)]
    return pyarrow.schema(fields, metadata=metadata)


def table(pyarrow: Any, plot: Plot, layout: Any) -> Any:
    """A piece as an Arrow table under the file's schema: its columns come from the plot's Arrow
    stream, copied by column natively into one block a batch."""
    return pyarrow.Table.from_arrays(plot.to_arrow().columns, schema=layout)


def targets(files: list[str], output: str, suffix: str) -> list[str] | str:
    """The Parquet file for each input, or a usage error's text.

    One input goes to `output` itself unless that is a folder; several go into the folder
    `output`, each named after its input with the format's suffix. None may be written over
    its input, which is read while it is written.
    """
    folder = pathlib.Path(output)
    if len(files) == 1 and not folder.is_dir():
        return overwritten_source(files, [output]) or [output]
    names = [pathlib.Path(path).stem + suffix for path in files]
    seen: dict[str, str] = {}
    for path, name in zip(files, names):
        if name in seen:
            return f"{seen[name]} and {path} would both be written to {folder / name}"
        seen[name] = path
    outputs = [str(folder / name) for name in names]
    return overwritten_source(files, outputs) or outputs


class Libraries(NamedTuple):
    pyarrow: Any
    parquet: Any
    numpy: Any


def libraries() -> Libraries:
    """What writing Parquet needs, imported before any file is read."""
    modules = (require(name, "vormant convert", "parquet")
               for name in ("pyarrow", "pyarrow.parquet", "numpy"))
    return Libraries(*modules)


def write(parquet: Any, temporary: str, layout: Any, tables: Iterator[Any]) -> None:
    """`tables` as the row groups of the Parquet file at `temporary`."""
    writer = parquet.ParquetWriter(temporary, layout)
    try:
        for content in tables:
            writer.write_table(content)
            del content  # written: the next piece is read without it
    except BaseException:
        with contextlib.suppress(Exception):
            writer.close()  # the file is removed; the first failure is the one told
        raise
    writer.close()


def convert_one(modules: Libraries, path: str, target: str, args: argparse.Namespace) -> None:
    with PlotFile(path, args.n_digits) as plot_file:
        columns = chosen_columns(plot_file, args.parameters) if args.parameters else None
        rows = step_range(args.steps, plot_file.steps)
        names = chosen_names(plot_file, columns)
        layout = schema(modules.pyarrow, names, plot_file.n_digits, plot_file.path)
        with written(target) as temporary:
            write(modules.parquet, temporary, layout,
                  piece_tables(modules, read_apart(pieces(plot_file, columns, rows)), layout))


def piece_tables(modules: Libraries, plots: Iterator[Plot], layout: Any) -> Iterator[Any]:
    """Each piece as an Arrow table, the piece let go before the next is read."""
    for plot in plots:
        content = table(modules.pyarrow, plot, layout)
        del plot
        yield content


def output_format(args: argparse.Namespace) -> str:
    """--to, or else the one OUT's suffix names, or else Parquet."""
    suffix = pathlib.Path(args.output).suffix.lower()
    return args.to or FORMAT_OF_SUFFIX.get(suffix, "parquet")


def run(args: argparse.Namespace) -> int:
    form = output_format(args)
    try:
        modules: Any = libraries() if form == "parquet" else _export.libraries(form)
    except ImportError as error:
        return missing_library(error)
    convert = convert_one if form == "parquet" else functools.partial(_export.export_one, form)
    outputs = targets(args.files, args.output, SUFFIXES[form])
    if isinstance(outputs, str):
        return usage_error("convert", outputs)
    if len(args.files) > 1:
        try:
            os.makedirs(args.output, exist_ok=True)
        except OSError as error:
            write_error(args.output, error)
            return 1
    show = args.progress if args.progress is not None else (
        len(args.files) > 1 and sys.stderr.isatty())
    # Reading runs without the interpreter lock and so does most of Arrow's writing.
    workers = min(os.cpu_count() or 1, len(args.files))
    status = 0
    with progress_bar(len(args.files), show, "converting") as bar, \
            ThreadPoolExecutor(workers, thread_name_prefix="vormant-convert") as pool:
        jobs = [pool.submit(convert, modules, path, target, args)
                for path, target in zip(args.files, outputs)]
        for path, job in zip(args.files, jobs):
            failure = job.exception()
            bar.update()
            status = max(status, report(path, failure))
    return status
