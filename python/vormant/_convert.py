"""`vormant convert`: plot files to Parquet, a float32 column per parameter."""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import Any

from ._arrow import schema_metadata
from ._optional import require
from ._plot import Plot, read
from ._progress import progress_bar
from ._report import file_error, missing_library, usage_error, write_error

SUFFIX = ".parquet"


def table(pyarrow: Any, plot: Plot) -> Any:
    """The plot as an Arrow table: its columns are copies, since Arrow stores by column."""
    numpy: Any = require("numpy", "vormant convert", "parquet")
    values = plot.to_numpy()
    columns = [pyarrow.array(numpy.ascontiguousarray(values[:, index]))
               for index in range(plot.parameters)]
    metadata = schema_metadata(plot.n_digits, plot.path)
    schema = pyarrow.schema([pyarrow.field(name, pyarrow.float32()) for name in plot.names],
                            metadata=metadata)
    return pyarrow.Table.from_arrays(columns, schema=schema)


def targets(files: list[str], output: str) -> list[str] | str:
    """The Parquet file for each input, or a usage error's text.

    One input goes to `output` itself unless that is a folder; several go into the folder
    `output`, each named after its input with the suffix .parquet.
    """
    folder = pathlib.Path(output)
    if len(files) == 1 and not folder.is_dir():
        return [output]
    names = [pathlib.Path(path).stem + SUFFIX for path in files]
    seen: dict[str, str] = {}
    for path, name in zip(files, names):
        if name in seen:
            return f"{seen[name]} and {path} would both be written to {folder / name}"
        seen[name] = path
    return [str(folder / name) for name in names]


class WriteFailure(Exception):
    """The Parquet file could not be written (as opposed to the plot file read)."""

    def __init__(self, target: str, error: OSError) -> None:
        super().__init__(target, error)
        self.target = target
        self.error = error


def convert_one(parquet: Any, pyarrow: Any, path: str, n_digits: int | None,
                target: str) -> None:
    content = table(pyarrow, read(path, n_digits))
    try:
        parquet.write_table(content, target)
    except OSError as error:
        raise WriteFailure(target, error) from error


def run(args: argparse.Namespace) -> int:
    try:
        pyarrow = require("pyarrow", "vormant convert", "parquet")
        parquet = require("pyarrow.parquet", "vormant convert", "parquet")
    except ImportError as error:
        return missing_library(error)
    outputs = targets(args.files, args.output)
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
        jobs = [pool.submit(convert_one, parquet, pyarrow, path, args.n_digits, target)
                for path, target in zip(args.files, outputs)]
        for path, job in zip(args.files, jobs):
            failure = job.exception()
            bar.update()
            if isinstance(failure, WriteFailure):
                write_error(failure.target, failure.error)
                status = 1
            elif isinstance(failure, Exception):
                file_error(path, failure)
                status = 1
            elif failure is not None:
                raise failure
    return status
