"""vormant.read and Plot: exact values, names, width detection, errors and optional extras."""

import errno
import os
import pathlib
import pickle
import subprocess
import sys

import pytest
from conftest import child_environment
from vormant_files import (SAMPLE_6, SAMPLE_9, SAMPLE_WIDTHS, assert_same_values, hiding,
                           plot_text)

import vormant

HEADER_3 = " VORMANT PLOT FILE   3\nTIME  S\n  A  U \nB\n"


def field_line(*fields, width=12):
    return "".join(field.rjust(width) for field in fields) + "\n"


# A Plot of the file as tarnex reads it. The native read's values against tarnex's on generated
# files of many shapes, width told or not: test_vormant_reader.py.
@pytest.mark.parametrize("path, width", SAMPLE_WIDTHS)
@pytest.mark.parametrize("given", [None, "exact"])
def test_samples_match_tarnex_bit_for_bit(read, path, width, given):
    plot = vormant.read(path, width if given else None)
    assert plot.n_digits == width
    assert_same_values(plot, *read(str(path), width))
    assert plot.names == ("TIME  S", *(f"PARAM{p:04d}  UNIT{p % 5}"
                                       for p in range(1, plot.values.shape[1])))
    assert plot.parameters == len(plot.names)
    assert plot.steps == plot.values.shape[0]


@pytest.mark.parametrize("convert", [str, os.fsencode, pathlib.Path], ids=["str", "bytes", "path"])
def test_path_kinds(convert):
    plot = vormant.read(convert(str(SAMPLE_6)))
    assert plot.path == str(SAMPLE_6)
    assert repr(plot) == (f"<vormant.Plot {str(SAMPLE_6)!r}: 12 parameters, 40 steps, "
                          "n_digits=12>")


@pytest.mark.parametrize("n_digits, kind, text", [
    (0, ValueError, "not 0"), (13, ValueError, "not 13"), (-12, ValueError, "not -12"),
    (True, TypeError, "bool"), ("12", TypeError, "not str"), (12.0, TypeError, "not float"),
])
def test_unusable_width_is_refused_before_the_file_is_touched(n_digits, kind, text):
    with pytest.raises(kind, match="n_digits must be 12 .*, 15 .* or None") as caught:
        vormant.read("/no/such/file", n_digits)
    assert text in str(caught.value)


@pytest.mark.parametrize("path", [12, None, ["x"]])
def test_path_of_another_type_is_a_type_error(path):
    with pytest.raises(TypeError):
        vormant.read(path, 12)


def test_path_with_nul_is_a_value_error():
    with pytest.raises(ValueError):
        vormant.read("plot\0.txt", 12)


def roundtrip(error):
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is type(error) and str(copy) == str(error)
    return copy


@pytest.mark.parametrize("make_path, kind, code", [
    (lambda tmp: tmp / "absent.txt", FileNotFoundError, errno.ENOENT),
    (lambda tmp: tmp, IsADirectoryError, errno.EISDIR),
    (lambda tmp: tmp / "absent" / "plot.txt", FileNotFoundError, errno.ENOENT),
])
@pytest.mark.parametrize("convert", [str, os.fsencode, pathlib.Path], ids=["str", "bytes", "path"])
@pytest.mark.parametrize("call", [vormant.read, vormant.open], ids=["read", "open"])
def test_unopenable_files_raise_the_matching_os_error_named_as_given(tmp_path, make_path, kind,
                                                                     code, convert, call):
    path = convert(str(make_path(tmp_path)))
    with pytest.raises(kind) as caught:
        call(path, 12)
    assert caught.value.errno == code
    assert caught.value.filename == os.fspath(path)
    copy = roundtrip(caught.value)
    assert (copy.errno, copy.filename) == (caught.value.errno, caught.value.filename)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files whatever their mode")
def test_unreadable_file_is_a_permission_error(plot_file):
    path = plot_file(HEADER_3)
    os.chmod(path, 0)
    with pytest.raises(PermissionError) as caught:
        vormant.read(path, 12)
    assert caught.value.errno == errno.EACCES


def test_plot_file_error_pickles_its_attributes_and_notes():
    error = vormant.PlotFileError("run.plt, line 7: bad", "run.plt", 7)
    error.add_note("while reading the sweep")
    copy = roundtrip(error)
    assert (copy.args, copy.path, copy.line) == (("run.plt, line 7: bad",), "run.plt", 7)
    assert copy.__notes__ == ["while reading the sweep"]


def test_numpy_array_shares_the_values():
    numpy = pytest.importorskip("numpy")
    plot = vormant.read(SAMPLE_9)
    array = plot.to_numpy()
    assert (array.dtype, array.shape) == (numpy.float32, (30, 23))
    assert numpy.shares_memory(array, numpy.asarray(plot.values))
    assert array.tobytes() == plot.values.tobytes()


@pytest.mark.parametrize("path", [SAMPLE_6, SAMPLE_9])
def test_pandas_frame_is_indexed_by_time(path):
    pandas = pytest.importorskip("pandas")
    plot = vormant.read(path)
    frame = plot.to_pandas()
    array = plot.to_numpy()
    assert frame.index.name == plot.names[0]
    assert list(frame.columns) == list(plot.names[1:])
    assert frame.index.dtype == "float32" and set(map(str, frame.dtypes)) == {"float32"}
    assert frame.index.to_numpy().tobytes() == array[:, 0].tobytes()
    assert frame.to_numpy().tobytes() == array[:, 1:].tobytes()
    frame.iloc[0, 0] = 1.0  # a frame of its own
    assert array[0, 1] != 1.0
    assert isinstance(frame, pandas.DataFrame)


def test_index_of_a_name():
    plot = vormant.read(SAMPLE_6)
    assert plot.index("PARAM0004  UNIT4") == 4
    with pytest.raises(KeyError, match="PARAM0004"):
        plot.index("PARAM0004")


@pytest.mark.parametrize("method, library, extra", [
    ("to_numpy", "numpy", "numpy"), ("to_pandas", "pandas", "pandas"),
    ("to_arrow", "pyarrow", "arrow"), ("to_polars", "polars", "polars"),
    ("to_xarray", "xarray", "xarray"),
])
def test_missing_library_names_its_extra(tmp_path, method, library, extra):
    code = f"""
import vormant
try:
    vormant.read({str(SAMPLE_6)!r}).{method}()
except ImportError as error:
    print(error)
"""
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                               env=hiding(child_environment(), tmp_path, [library]), check=True)
    assert completed.stdout == f'Plot.{method} needs {library}: pip install "tarnex[{extra}]"\n'


def test_optional_libraries_are_imported_only_when_needed():
    code = f"""
import sys
import vormant, vormant.cli
vormant.read({str(SAMPLE_6)!r}); vormant.read_many([{str(SAMPLE_9)!r}])
print(sorted(name for name in ("numpy", "pandas", "dask", "pyarrow", "matplotlib", "tqdm")
             if name in sys.modules))
"""
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                               env=child_environment(), check=True)
    assert completed.stdout == "[]\n"


@pytest.mark.parametrize("threads", [1, None])
def test_chosen_names_and_their_values_come_from_one_file(tmp_path, monkeypatch, threads):
    """A file replaced by another while its columns are being chosen: the values read are those of the
    file whose names were chosen from."""
    path = tmp_path / "run.plt"
    path.write_text(plot_text(["TIME S", "A", "B"], [["0", "1", "2"]]))
    resolve = vormant._open.resolve_columns

    def replacing_resolve(names, wanted, source):
        newer = tmp_path / "newer.plt"
        newer.write_text(plot_text(["TIME S", "B", "A"], [["0", "3", "4"]]))
        os.replace(newer, path)
        return resolve(names, wanted, source)

    monkeypatch.setattr(vormant._open, "resolve_columns", replacing_resolve)
    plot = vormant.read(path, columns=["B"], threads=threads)
    assert plot.names == ("TIME S", "B")
    assert plot.values.tolist() == [[0.0, 2.0]]
