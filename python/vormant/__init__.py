"""Plot files as arrays and tables: one float32 block per file, names included.

    plot = vormant.read("run.plt")          # width from the file, or n_digits=12 / 15
    plot.names, plot.values                 # tuple of str; memoryview 'f', (steps, parameters)
    plot.to_numpy(), plot.to_pandas()       # with the numpy / pandas extras
    plot.to_arrow(), plot.to_polars()       # with the arrow / polars extras; to_xarray too
    polars.DataFrame(plot)                  # any reader of Arrow PyCapsules takes a Plot
    vormant.envelope("run.plt", columns=["PRESSURE"], buckets=800)  # first/last/min/max per group
    vormant.read_many(paths, workers=4)     # a list of Plot, read by threads
    vormant.write("cut.plt", plot, 12)      # a plot file again, 15 keeps every bit
    vormant.read("run.plt", columns=["PRESSURE"], steps=slice(-1000, None))
    vormant.compare("reference.plt", "run.plt", rtol=1e-5).passed   # parameter by parameter
    with vormant.open("run.plt") as plot_file:   # indexed once, read in any part
        for piece in plot_file.chunks(100_000): ...

`vormant.dask.read_frame` makes a Dask DataFrame of many files, `vormant.polars.scan` a polars
LazyFrame that reads only what a query needs; `python -m vormant` is the command line.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

from ._envelope import Envelope
from ._errors import PlotFileError
from ._open import PlotFile, envelope, open, read
from ._plot import Plot
from ._version import version as _installed_version

if TYPE_CHECKING:
    __version__: str
    from . import dask, polars
    from ._compare import ColumnComparison, Comparison, compare
    from ._many import read_many
    from ._write import write

# Imported when first used, so that `import vormant` and every command start quickly: the
# module of each name.
_LATER = {"dask": ".dask", "polars": ".polars", "ColumnComparison": "._compare",
          "Comparison": "._compare", "compare": "._compare",
          "read_many": "._many", "write": "._write"}

__all__ = ["ColumnComparison", "Comparison", "Envelope", "Plot", "PlotFile", "PlotFileError",
           "__version__", "compare", "dask", "envelope", "open", "polars", "read", "read_many",
           "write"]


def __getattr__(name: str) -> Any:
    if name == "__version__":
        return _installed_version()
    if name in _LATER:
        module = importlib.import_module(_LATER[name], __name__)
        value = module if name in ("dask", "polars") else getattr(module, name)
        globals()[name] = value
        return value
    raise AttributeError(f"module 'vormant' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), *__all__})
