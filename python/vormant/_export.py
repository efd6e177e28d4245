"""`vormant convert --to csv|hdf5|mat|netcdf`: plot files in the formats engineers open, each
reading back (with pandas, h5py, scipy.io.loadmat, xarray) to the same binary32 values."""

from __future__ import annotations

import argparse
import contextlib
import io
import os
from collections.abc import Callable, Iterator, Sequence
from typing import Any

from ._columns import step_range
from ._open import PlotFile
from ._optional import require
from ._report import chosen_columns, chosen_names, pieces
from ._write import read_apart, reading, written

# The library each format needs, imported before any file is read, and its extra.
LIBRARIES = {
    "csv": (("pyarrow", "pyarrow.csv"), "arrow"),
    "hdf5": (("h5py", "numpy"), "hdf5"),
    "mat": (("scipy.io", "numpy"), "mat"),
    "netcdf": (("h5netcdf", "h5py", "numpy"), "netcdf"),
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
        for piece in read_apart(pieces(plot_file, columns, rows)):
            writer.write_table(pyarrow.Table.from_arrays(piece.to_arrow().columns,
                                                         schema=layout))


class _UnfailingFile(io.FileIO):
    """The output file as the HDF5 library sees it, through h5py's file-object driver: no write
    of it fails. Once a write has failed, h5py's clean-up fails again and later takes the
    process down; so the first failure is kept, later writes and truncations are let go (the
    file is removed anyway), and `check` raises the failure where the library is not in the
    way: between pieces, and once it has closed the file."""

    failure: OSError | None = None

    def write(self, data: Any) -> int:
        view = memoryview(data).cast("B")
        done = 0
        if self.failure is None:
            try:
                while done < len(view):
                    done += super().write(view[done:]) or 0
            except OSError as error:
                self.failure = error
        if done < len(view):
            self.seek(len(view) - done, os.SEEK_CUR)
        return len(view)

    def truncate(self, size: int | None = None) -> int:
        if self.failure is None:
            try:
                return super().truncate(size)
            except OSError as error:
                self.failure = error
        return self.tell() if size is None else size

    def check(self) -> None:
        if self.failure is not None:
            raise self.failure


@contextlib.contextmanager
def _hdf5_file(library: Any, temporary: str) -> Iterator[tuple[Any, _UnfailingFile]]:
    """The file `library` (h5py or h5netcdf) writes at `temporary`, and the file under it; a
    write that failed is raised once the library has closed the file."""
    with _UnfailingFile(temporary, "r+") as sink:
        with library.File(sink, "w") as out:
            yield out, sink
        sink.check()


def _text(path: str) -> str:
    """A path as text an HDF5 attribute holds: bytes that are not UTF-8 written as \\xNN."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")


def _chunk_rows(width: int, steps: int) -> int:
    """The steps of a chunk: about _CHUNK_VALUES values, and no more steps than are written,
    since HDF5 stores every chunk whole."""
    return max(1, min(_CHUNK_VALUES // max(1, width), steps))


def _hdf5(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
          rows: range, temporary: str) -> None:
    """A float32 dataset `values` (steps, parameters) grown a piece at a time, and the name
    lines as the dataset `names` (an attribute holds no more than 64 KiB)."""
    h5py = modules["h5py"]
    width = len(names)
    with _hdf5_file(h5py, temporary) as (out, sink):
        out.create_dataset("names", data=list(names), dtype=h5py.string_dtype())
        values = out.create_dataset("values", shape=(0, width), maxshape=(None, width),
                                    dtype="float32", chunks=(_chunk_rows(width, len(rows)), width))
        values.attrs["n_digits"] = plot_file.n_digits or 0
        values.attrs["source"] = _text(plot_file.path)
        for piece in read_apart(pieces(plot_file, columns, rows)):
            done = values.shape[0]
            values.resize(done + piece.steps, axis=0)
            values[done:] = piece.to_numpy()
            sink.check()


def _mat(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
         rows: range, temporary: str) -> None:
    """`values` (single, steps x parameters) and `names` (a cell array). A level-5 matrix is
    stored by column, so the whole of it is read first."""
    numpy, scipy_io = modules["numpy"], modules["scipy.io"]
    cells = numpy.empty(len(names), dtype=object)
    cells[:] = list(names)
    with reading():
        values = plot_file.read(columns, rows).to_numpy()
    scipy_io.savemat(temporary, {"values": values, "names": cells}, format="5")


def _netcdf(modules: dict[str, Any], plot_file: PlotFile, names: Sequence[str], columns: Any,
            rows: range, temporary: str) -> None:
    """NetCDF-4: `values` (time, parameter), float32, over the coordinate `time` (its name line
    its `long_name`) with the coordinate `names` (the name lines of the parameters), grown a
    piece at a time; `n_digits` and `source` in the file's attributes. One variable for all
    the parameters, not one each: no name is a variable's name, so any name line is taken, and
    thousands of parameters cost what their values cost."""
    h5netcdf, h5py = modules["h5netcdf"], modules["h5py"]
    width = len(names) - 1
    with _hdf5_file(h5netcdf, temporary) as (out, sink):
        out.dimensions = {"time": None, "parameter": width}
        out.attrs["n_digits"] = plot_file.n_digits or 0
        out.attrs["source"] = _text(plot_file.path)
        time = out.create_variable("time", ("time",), "float32", chunks=(_chunk_rows(1, len(rows)),))
        time.attrs["long_name"] = names[0]
        labels = out.create_variable("names", ("parameter",), h5py.string_dtype())
        labels[:] = list(names[1:])
        values = out.create_variable("values", ("time", "parameter"), "float32",
                                     chunks=(_chunk_rows(width, len(rows)), max(1, width)))
        values.attrs["coordinates"] = "names"
        for piece in read_apart(pieces(plot_file, columns, rows)):
            done = time.shape[0]
            out.resize_dimension("time", done + piece.steps)
            block = piece.to_numpy()
            time[done:] = block[:, 0]
            values[done:] = block[:, 1:]
            sink.check()


WRITERS: dict[str, Callable[..., None]] = {"csv": _csv, "hdf5": _hdf5, "mat": _mat,
                                           "netcdf": _netcdf}


def export_one(form: str, modules: dict[str, Any], path: str, target: str,
               args: argparse.Namespace) -> None:
    with PlotFile(path, args.n_digits) as plot_file:
        columns = chosen_columns(plot_file, args.parameters) if args.parameters else None
        rows = step_range(args.steps, plot_file.steps)
        with written(target) as temporary:
            WRITERS[form](modules, plot_file, chosen_names(plot_file, columns), columns, rows,
                          temporary)
