"""Many plot files read by a pool of threads (the reader runs without the interpreter lock)."""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable
from concurrent.futures import Future, ThreadPoolExecutor, as_completed
from typing import Literal, overload

from ._arguments import PathArgument, check_n_digits, refuse_single_path
from ._columns import ColumnArgument, check_columns, check_steps, check_threads
from ._open import Steps, read
from ._plot import Plot
from ._progress import progress_bar

ERROR_CHOICES = ("raise", "return")


def _check_workers(workers: object) -> int | None:
    if workers is None:
        return None
    if isinstance(workers, bool) or not isinstance(workers, int):
        raise TypeError(f"workers must be a positive int or None, not {type(workers).__name__}")
    if workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    return workers


@overload
def read_many(paths: Iterable[PathArgument], n_digits: int | None = None, *,
              columns: Iterable[ColumnArgument] | None = None, steps: Steps = None,
              threads: int | None = 1, workers: int | None = None, progress: bool = False,
              errors: Literal["raise"] = "raise") -> list[Plot]: ...


@overload
def read_many(paths: Iterable[PathArgument], n_digits: int | None = None, *,
              columns: Iterable[ColumnArgument] | None = None, steps: Steps = None,
              threads: int | None = 1, workers: int | None = None, progress: bool = False,
              errors: Literal["return"]) -> list[Plot | Exception]: ...


def read_many(paths: Iterable[PathArgument], n_digits: int | None = None, *,
              columns: Iterable[ColumnArgument] | None = None, steps: Steps = None,
              threads: int | None = 1, workers: int | None = None, progress: bool = False,
              errors: Literal["raise", "return"] = "raise"
              ) -> list[Plot] | list[Plot | Exception]:
    """Reads every file of `paths` with a pool of `workers` threads (default: the CPU count).

    `columns` and `steps` choose what is read of every file, as `vormant.read` takes them.
    Each file is read by one thread unless `threads` asks for more (None: as `read` chooses).

    Returns the plots in the order of `paths`. With errors="raise", the exception of the first
    failing path in that order is raised (files not yet started are not read); with
    errors="return", a failing path's exception takes its place in the list. progress=True
    shows a progress bar on standard error.
    """
    if errors not in ERROR_CHOICES:
        raise ValueError(f"errors must be 'raise' or 'return', not {errors!r}")
    width = check_n_digits(n_digits)
    pool_size = _check_workers(workers)
    per_file = check_threads(threads)
    refuse_single_path(paths, "read_many")
    # Unusable arguments are the caller's error, raised once before any file is read rather
    # than put in every file's place.
    chosen = check_columns(columns)
    steps = check_steps(steps)
    items = list(paths)
    # A path of the wrong type is the caller's error, not the file's: refused before reading.
    for path in items:
        os.fsencode(path)
    if not items:
        return []
    pool_size = min(pool_size or os.cpu_count() or 1, len(items))
    with progress_bar(len(items), progress, "reading") as bar, \
            ThreadPoolExecutor(pool_size, thread_name_prefix="vormant-read") as pool:
        futures = [pool.submit(read, path, width, columns=chosen, steps=steps, threads=per_file)
                    for path in items]
        try:
            return _collect(futures, errors == "raise", bar.update)
        except BaseException:
            for future in futures:
                future.cancel()
            raise


def _collect(futures: list[Future[Plot]], raise_first: bool,
             on_done: Callable[[], object]) -> list[Plot | Exception]:
    """The results in order, as they complete; with `raise_first`, raises the first failure in
    order as soon as every earlier file is done."""
    position = {future: index for index, future in enumerate(futures)}
    results: list[Plot | Exception | None] = [None] * len(futures)
    settled = [False] * len(futures)
    first_failure = len(futures)
    done_prefix = 0  # files 0 .. done_prefix - 1 have all finished
    for future in as_completed(futures):
        index = position[future]
        on_done()
        settled[index] = True
        error = future.exception()
        if error is None:
            results[index] = future.result()
        elif raise_first:
            first_failure = min(first_failure, index)
        elif isinstance(error, Exception):
            results[index] = error
        else:
            raise error
        while done_prefix < len(futures) and settled[done_prefix]:
            done_prefix += 1
        if first_failure < done_prefix:
            raise_error = futures[first_failure].exception()
            assert raise_error is not None
            raise raise_error
    return [result for result in results if result is not None]
