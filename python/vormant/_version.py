"""The version of the distribution that installed this package, looked up when first asked
for: reading the installed metadata costs the command line a fifth of its start."""

from __future__ import annotations

_found: list[str] = []  # the version, once looked up


def version() -> str:
    if not _found:
        from importlib import metadata

        try:
            _found.append(metadata.version("tarnex"))
        except metadata.PackageNotFoundError:  # run from a source tree
            _found.append("0+unknown")
    return _found[0]
