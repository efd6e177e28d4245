"""vormant.polars.scan: the values bit for bit, queries as polars answers them on the files read
whole, what a query does not need left unread, and the files and arguments refused."""

import array
import os
import pathlib
import subprocess
import sys

import pytest
from conftest import child_environment
from vormant_files import SAMPLE_6, SAMPLE_9, hiding, with_bad_field, write_plot

import vormant
import vormant.polars

pl = pytest.importorskip("polars", reason="needs the polars extra")

PARAMETERS = 13
TIME, A, B = "TIME  S", "PARAM0004  UNIT4", "PARAM0011  UNIT1"


def scan_bits(frame):
    """Each column as its float32 bytes, the paths as text."""
    return {name: frame[name].cast(pl.String).to_list() if name == "file"
            else array.array("f", frame[name].to_list()).tobytes() for name in frame.columns}


def read_bits(path, n_digits=None):
    plot = vormant.read(path, n_digits)
    flat = memoryview(plot.values.tobytes()).cast("f")
    return {name: flat[column::plot.parameters].tobytes()
            for column, name in enumerate(plot.names)}


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Files with the same names, of both widths."""
    folder = tmp_path_factory.mktemp("scan")
    return [write_plot(folder, PARAMETERS, steps, width, seed)
            for seed, (steps, width) in enumerate([(30, 12), (7, 15), (1, 12), (20, 15)])]


@pytest.mark.parametrize("sources", [
    lambda folder, files: ([str(SAMPLE_6)], None),
    lambda folder, files: ([str(SAMPLE_9)], 15),
    # Past a tile of 32 columns, subnormals and negative zeros.
    lambda folder, files: ([write_plot(folder, 37, 45, 15)], None),
    lambda folder, files: ([write_plot(folder, 3, 0, 12)], 12),
    lambda folder, files: (files, None),
], ids=["6digits", "9digits", "generated", "no-steps", "several"])
def test_scan_is_every_file_read_bit_for_bit(tmp_path, files, sources):
    paths, n_digits = sources(tmp_path, files)
    frame = vormant.polars.scan(paths, n_digits).collect()
    assert frame.schema["file"] == pl.Enum(paths)
    offset = 0
    for path in paths:
        expected = read_bits(path, n_digits)
        assert frame.columns == ["file", *expected]
        part = frame.slice(offset, len(expected[TIME]) // 4)
        offset += part.height
        assert scan_bits(part) == {"file": [path] * part.height, **expected}
    assert offset == frame.height


QUERIES = {
    "column-head-across-files": lambda frame, paths: frame.select(A).head(40),
    "nothing": lambda frame, paths: frame.head(0),
    "slice": lambda frame, paths: frame.slice(27, 6),
    "tail": lambda frame, paths: frame.tail(3),
    "time-span": lambda frame, paths: frame.filter(pl.col(TIME).is_between(0.004, 0.011))
                                           .select(B, "file"),
    "scattered": lambda frame, paths: frame.filter(pl.col(A) > 0).select(TIME, B),
    "kept-nowhere": lambda frame, paths: frame.filter(pl.col(A) > 1e30),
    "limit-then-filter": lambda frame, paths: frame.head(33).filter(pl.col(B) < 0),
    "file": lambda frame, paths: frame.filter(pl.col("file") == paths[3]).select(A),
    "file-then-limit": lambda frame, paths: frame.head(35).filter(pl.col("file") == paths[1]),
    "count": lambda frame, paths: frame.select(pl.len()),
    # A condition on the whole column, which no batch can test alone.
    "above-the-mean": lambda frame, paths: frame.filter(pl.col(A) > pl.col(A).mean()),
}


def check_query(paths, query):
    """The query on the scan gives what it gives on the files read whole."""
    whole = pl.concat([vormant.read(path).to_polars().select(
        pl.lit(path, dtype=pl.Enum(paths)).alias("file"), pl.all()) for path in paths])
    got = query(vormant.polars.scan(paths), paths).collect()
    expected = query(whole.lazy(), paths).collect()
    assert got.schema == expected.schema
    assert scan_bits(got) == scan_bits(expected)


@pytest.mark.parametrize("query", QUERIES.values(), ids=QUERIES.keys())
def test_queries_answer_as_on_the_files_read_whole(files, query):
    check_query(files, query)


def test_queries_in_batches_smaller_than_a_file(files, run_python):
    # polars asks for batches of its morsel size.
    child = run_python(f"""
        import os, sys
        os.environ["POLARS_IDEAL_MORSEL_SIZE"] = "4"
        sys.path.insert(0, {os.path.dirname(__file__)!r})
        import test_vormant_polars as tests
        for query in tests.QUERIES.values():
            tests.check_query({files!r}, query)
    """)
    assert (child.returncode, child.err) == (0, "")


def faulty(folder, step, parameter, name="faulty.txt", seed=1):
    """A file of 30 steps with the field of `parameter` at `step` made "x", and its line."""
    path = write_plot(folder, PARAMETERS, 30, 12, seed, name)
    return path, with_bad_field(path, path, step, parameter, PARAMETERS, 12)


FAULTS = {"in-a-parameter": (3, 4), "late-in-a-parameter": (27, 11), "late-time": (27, 0)}
UNREAD = [  # faults the query does not need to read
    ("in-a-parameter", lambda frame: frame.select(pl.exclude(A))),
    ("in-a-parameter", lambda frame: frame.filter(pl.col(B) > 0).select(B)),
    ("late-in-a-parameter", lambda frame: frame.select(A, B).head(5)),
    ("late-in-a-parameter", lambda frame: frame.filter(pl.col(TIME) < 0.01).select(B)),
    ("late-time", lambda frame: frame.head(27)),
]
READ = [  # faults the query needs
    ("in-a-parameter", lambda frame: frame.select(A)),
    ("in-a-parameter", lambda frame: frame.filter(pl.col(A) > 0).select(TIME)),
    ("late-in-a-parameter", lambda frame: frame.filter(pl.col(TIME) > 0.02).select(B)),
    ("late-time", lambda frame: frame.select(pl.len())),
]


@pytest.mark.parametrize("fault, query", UNREAD, ids=[fault for fault, _ in UNREAD])
def test_a_fault_the_query_does_not_need_is_not_read(tmp_path, fault, query):
    path, _ = faulty(tmp_path, *FAULTS[fault])
    assert query(vormant.polars.scan([path])).collect().height > 0


@pytest.mark.parametrize("fault, query", READ, ids=[fault for fault, _ in READ])
def test_a_fault_the_query_needs_raises_with_its_line(tmp_path, fault, query):
    path, line = faulty(tmp_path, *FAULTS[fault])
    with pytest.raises(vormant.PlotFileError) as caught:
        query(vormant.polars.scan([path])).collect()
    assert (caught.value.path, caught.value.line) == (path, line)


@pytest.mark.parametrize("query", [
    lambda frame, good: frame.head(30), lambda frame, good: frame.filter(pl.col("file") == good),
], ids=["limit", "file"])
def test_a_file_the_query_leaves_out_is_not_read(tmp_path, query):
    good = write_plot(tmp_path, PARAMETERS, 30, 12)
    bad, _ = faulty(tmp_path, 0, 0)
    assert query(vormant.polars.scan([good, bad]), good).collect().height == 30


@pytest.mark.parametrize("names, line", [
    (["TIME", "A", "file"], 4), (["TIME", "A", "B", "A"], 3), (["file", "A"], 2),
], ids=["file-column", "repeated", "time-called-file"])
def test_names_that_cannot_be_columns_are_refused(tmp_path, names, line):
    path = tmp_path / "plot.txt"
    path.write_text(f" VORMANT PLOT FILE   {len(names)}\n" + "\n".join(names) + "\n")
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.polars.scan([str(path)])
    assert caught.value.line == line


def test_files_with_other_names_are_refused_before_any_value_is_read(tmp_path, files):
    other, _ = faulty(tmp_path, 0, 0)
    pathlib.Path(other).write_text(pathlib.Path(other).read_text().replace("UNIT0", "UNIT9", 1))
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.polars.scan([*files, other])
    assert (caught.value.path, caught.value.line) == (other, 7)


@pytest.mark.parametrize("paths, error", [
    (str(SAMPLE_6), TypeError), (bytes(SAMPLE_6), TypeError), (SAMPLE_6, TypeError),
    ([], ValueError),
], ids=["str", "bytes", "path", "none"])
def test_paths_must_be_a_list_of_files(paths, error):
    with pytest.raises(error):
        vormant.polars.scan(paths)


def test_without_polars_vormant_imports_and_the_scan_names_its_extra(tmp_path):
    code = f"""
import vormant
try:
    vormant.polars.scan([{str(SAMPLE_6)!r}])
except ImportError as error:
    print(error)
"""
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                               env=hiding(child_environment(), tmp_path, ["polars"]), check=True)
    assert completed.stdout == 'vormant.polars.scan needs polars: pip install "tarnex[polars]"\n'
