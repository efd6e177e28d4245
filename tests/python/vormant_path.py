"""Where the tests find the package vormant: its Python sources in python/vormant and the native
`_reader` in the build folder's vormant/ (TARNEX_MODULE_DIR).

The two are joined in a folder of links, so this interpreter, child interpreters and Dask's
worker processes all import one ordinary package through one entry of the module path. Without
TARNEX_MODULE_DIR the installed package is used.
"""

import atexit
import os
import pathlib
import shutil
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
SOURCES = ROOT / "python" / "vormant"


def _link_entries(source, target):
    for entry in source.iterdir():
        if entry.name != "__pycache__" and not (target / entry.name).exists():
            (target / entry.name).symlink_to(entry)


def package_parent(module_dir):
    """A folder holding `vormant/`, the sources and the built module side by side."""
    parent = pathlib.Path(tempfile.mkdtemp(prefix="vormant-package-"))
    atexit.register(shutil.rmtree, parent, ignore_errors=True)
    package = parent / "vormant"
    package.mkdir()
    _link_entries(SOURCES, package)
    built = pathlib.Path(module_dir).resolve() / "vormant"  # links to a relative path would dangle
    if built.is_dir():
        _link_entries(built, package)
    return str(parent)


def search_path():
    """The folder to put first on the module path for vormant, or None for the installed one."""
    module_dir = os.environ.get("TARNEX_MODULE_DIR")
    return package_parent(module_dir) if module_dir else None
