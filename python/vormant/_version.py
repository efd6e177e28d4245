"""The version of the distribution that installed this package, looked up when first asked
for: reading the installed metadata costs the command line a fifth of its start."""

from __future__ import annotations

import functools


@functools.cache
def version() -> str:
    from importlib import metadata

    try:
        return metadata.version("tarnex")
    except metadata.PackageNotFoundError:  # run from a source tree
        return "0+unknown"
