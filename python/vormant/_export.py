"""`vormant convert --to csv|hdf5|mat|netcdf`: plot files in the formats engineers open, each
reading back (with pandas, h5py, scipy.io.loadmat, xarray) to the same binary32 values."""

from __future__ import annotations

import argparse
from collections.abc import Callable, Sequence
from typing import Any

from ._columns import step_range
from ._open import PlotFile
from ._optional import require
from ._report import chosen_columns, chosen_names, pieces
from ._write import replacing

# The library each format needs, imported before any file is read, and its extra.
LIBRARIES = {
    "csv": (("pyarrow", "pyarrow.csv"), "arrow"),
    "hdf5": (("h5py", "numpy"), "hdf5"),
    "mat": (("scipy.io", "numpy"), "mat"),
    "netcdf": (("xarray", "h5netcdf", "h5py"), "netcdf"),
}
# The rows of an HDF5 chunk hold about this many values.
_CHUNK_VALUES = 1 << 16


def libraries(form: str) -> dict[str, Any]:
    modules, extra = LIBRARIES[form]
    return {name: require(name, f"vormant convert --to {form}", extra) for name in modules}


def _csv(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
         rows: range, temporary: str) -> None:
    """A header of the name lines, then a line per step: Arrow writes each float32 as the
    shortest text that reads back to it."""
    pyarrow, csv = modules["pyarrow"], modules["pyarrow.csv"]
    layout = pyarrow.schema([pyarrow.field(name, pyarrow.float32()) for name in names])
    with csv.CSVWriter(temporary, layout) as writer:
        for piece in pieces(plot_file, columns, rows):
            writer.write_table(pyarrow.Table.from_arrays(piece.to_arrow().columns,
                                                         schema=layout))


def _hdf5(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
          rows: range, temporary: str) -> None:
    """A float32 dataset `values` (steps, parameters) grown a piece at a time."""
    h5py = modules["h5py"]
    width = len(names)
    with h5py.File(temporary, "w") as out:
        values = out.create_dataset("values", shape=(0, width), maxshape=(None, width),
                                    dtype="float32",
                                    chunks=(max(1, _CHUNK_VALUES // width), width))
        values.attrs["names"] = list(names)
        values.attrs["n_digits"] = plot_file.n_digits or 0
        values.attrs["source"] = plot_file.path
        for piece in pieces(plot_file, columns, rows):
            done = values.shape[0]
            values.resize(done + piece.steps, axis=0)
            values[done:] = piece.to_numpy()


def _mat(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
         rows: range, temporary: str) -> None:
    """`values` (single, steps x parameters) and `names` (a cell array). A level-5 matrix is
    stored by column, so the whole of it is read first."""
    numpy, scipy_io = modules["numpy"], modules["scipy.io"]
    cells = numpy.empty(len(names), dtype=object)
    cells[:] = list(names)
    values = plot_file.read(columns, rows).to_numpy()
    scipy_io.savemat(temporary, {"values": values, "names": cells}, format="5")


def _netcdf(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
            rows: range, temporary: str) -> None:
    """The Dataset that Plot.to_xarray gives, through h5netcdf (NetCDF-4)."""
    plot_file.read(columns, rows).to_xarray().to_netcdf(temporary, engine="h5netcdf")


WRITERS: dict[str, Callable[..., None]] = {"csv": _csv, "hdf5": _hdf5, "mat": _mat,
                                           "netcdf": _netcdf}


def export_one(form: str, modules: dict[str, Any], path: str, target: str,
               args: argparse.Namespace) -> None:
    with PlotFile(path, args.n_digits) as plot_file:
        columns = chosen_columns(plot_file, args.parameters) if args.parameters else None
        rows = step_range(args.steps, plot_file.steps)
        with replacing(target) as temporary:
            WRITERS[form](modules, plot_file, chosen_names(plot_file, columns), columns, rows,
                          temporary)
