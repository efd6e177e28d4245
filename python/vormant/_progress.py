"""Progress bars on standard error: tqdm's when it is installed, a plain counter otherwise."""

from __future__ import annotations

import contextlib
import importlib
import sys
import threading
from collections.abc import Iterator
from typing import Any, Protocol


class Progress(Protocol):
    def update(self, n: int = 1) -> None: ...


class _Silent:
    def update(self, n: int = 1) -> None:
        pass


class PlainProgress:
    """`desc: done/total unit` rewritten in place on one line of standard error."""

    def __init__(self, total: int, desc: str, unit: str) -> None:
        self._total = total
        self._desc = desc
        self._unit = unit
        self._done = 0
        self._lock = threading.Lock()
        self._show()

    def update(self, n: int = 1) -> None:
        with self._lock:
            self._done += n
            self._show()

    def close(self) -> None:
        with self._lock:
            sys.stderr.write("\n")
            sys.stderr.flush()

    def _show(self) -> None:
        sys.stderr.write(f"\r{self._desc}: {self._done}/{self._total} {self._unit}")
        sys.stderr.flush()


def _tqdm_class() -> Any:
    try:
        return importlib.import_module("tqdm").tqdm
    except ImportError:
        return None


@contextlib.contextmanager
def progress_bar(total: int, enabled: bool, desc: str, unit: str = "files") -> Iterator[Progress]:
    if not enabled:
        yield _Silent()
        return
    tqdm = _tqdm_class()
    bar: Any = (tqdm(total=total, desc=desc, unit=unit.rstrip("s"), file=sys.stderr)
                if tqdm is not None else PlainProgress(total, desc, unit))
    try:
        yield bar
    finally:
        bar.close()
