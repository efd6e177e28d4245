"""Optional libraries, imported where a feature needs them."""

from __future__ import annotations

import importlib
from types import ModuleType


def missing_extra_message(feature: str, library: str, extra: str) -> str:
    return f'{feature} needs {library}: pip install "tarnex[{extra}]"'


def require(module: str, feature: str, extra: str) -> ModuleType:
    """`module` imported, or an ImportError that names the extra which installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        library = module.partition(".")[0]
        raise ImportError(missing_extra_message(feature, library, extra), name=module) from error
