"""The version of the distribution that installed this package."""

from __future__ import annotations

from importlib import metadata

try:
    __version__: str = metadata.version("tarnex")
except metadata.PackageNotFoundError:  # run from a source tree
    __version__ = "0+unknown"
