"""Plot in Arrow's terms: the PyCapsule stream and schema, to_arrow, to_polars and to_xarray.
The values bit for bit through every consumer, the stream's hold on them and its release, the
schemas it refuses, and no leak over repeated exports."""

import array
import gc
import os
import sys

import pytest
from leak_check import assert_nothing_leaks, needs_debug_interpreter
from vormant_files import SAMPLE_6, SAMPLE_9, write_plot

import arrow_c
import vormant
from vormant import _reader

SOURCES = {
    "6digits": lambda folder: vormant.read(SAMPLE_6),
    "9digits": lambda folder: vormant.read(SAMPLE_9),
    # Past a tile of 32 columns; subnormals and negative zeros.
    "generated": lambda folder: vormant.read(write_plot(folder, 37, 45, 15), 15),
    "no-steps": lambda folder: vormant.read(write_plot(folder, 3, 0, 12), 12),
}


def expected_columns(plot):
    """The bytes of each column of the values, the memory that to_numpy() shares."""
    flat = memoryview(plot.values.tobytes()).cast("f")
    return [flat[column::plot.parameters].tobytes() for column in range(plot.parameters)]


def counting_plot(parameters, steps, names=None):
    """A Plot over a plain memoryview of 0, 1, 2, ... row by row (exact in float32)."""
    values = array.array("f", range(parameters * steps))
    view = memoryview(values).cast("B").cast("f", (steps, parameters))
    names = names or tuple(f"P{p}" for p in range(parameters))
    return vormant.Plot(names, view, 12, "counting")


def float32_bytes(values):
    return array.array("f", values).tobytes()


def from_capsule(plot):
    names, _, columns = arrow_c.read_stream(arrow_c.stream_in(plot.__arrow_c_stream__()))
    return names, columns


def from_pyarrow(table):
    assert {str(field.type) for field in table.schema} == {"float"}
    return table.column_names, [float32_bytes(column.to_pylist()) for column in table.columns]


def pyarrow_reader(capsule):
    return pytest.importorskip("pyarrow").RecordBatchReader._import_from_c_capsule(capsule)


def from_polars(frame):
    assert {str(dtype) for dtype in frame.dtypes} == {"Float32"}
    return frame.columns, [float32_bytes(frame[:, index].to_list())
                           for index in range(frame.width)]


def from_duckdb(plot):
    relation = pytest.importorskip("duckdb").sql("select * from plot")
    assert {str(kind) for kind in relation.types} == {"FLOAT"}
    rows = relation.fetchall()
    return relation.columns, [float32_bytes(row[index] for row in rows)
                              for index in range(len(relation.columns))]


CONSUMERS = {
    "capsule": from_capsule,
    "pyarrow.table": lambda plot: from_pyarrow(pytest.importorskip("pyarrow").table(plot)),
    "to_arrow": lambda plot: pytest.importorskip("pyarrow") and from_pyarrow(plot.to_arrow()),
    "polars.DataFrame": lambda plot: from_polars(pytest.importorskip("polars").DataFrame(plot)),
    "to_polars": lambda plot: pytest.importorskip("polars") and from_polars(plot.to_polars()),
    "duckdb": from_duckdb,
}


@pytest.mark.parametrize("source", sorted(SOURCES))
@pytest.mark.parametrize("consumer", sorted(CONSUMERS))
def test_every_consumer_gets_the_values_bit_for_bit(tmp_path, consumer, source):
    plot = SOURCES[source](tmp_path)
    names, columns = CONSUMERS[consumer](plot)
    assert list(names) == list(plot.names)
    assert columns == expected_columns(plot)


# Batches end at 64 Ki steps, or sooner for wide plots (16 MiB of values).
@pytest.mark.parametrize("parameters, steps", [(2, 2 * 65536 + 3), (3000, 1400)])
@pytest.mark.parametrize("consumer", ["capsule", "to_arrow"])
def test_plots_of_many_batches(consumer, parameters, steps):
    plot = counting_plot(parameters, steps)
    assert CONSUMERS[consumer](plot)[1] == expected_columns(plot)


@pytest.mark.parametrize("parameters, steps", [(2, 2 * 65536 + 3), (3000, 1400)])
def test_batches_hold_the_steps_batch_steps_tells(parameters, steps):
    # vormant.polars cuts its batches to the same length.
    stream = arrow_c.stream_in(counting_plot(parameters, steps).__arrow_c_stream__())
    lengths = []
    while (batch := arrow_c.next_batch(stream)) is not None:
        lengths.append(batch.length)
        arrow_c.release(batch)
    arrow_c.release(stream)
    size = _reader.batch_steps(parameters)
    assert size == min(65536, 16 * 2**20 // (4 * parameters))
    assert lengths == [size] * (steps // size) + [steps % size]


def schema_metadata(plot):
    return {b"vormant.n_digits": str(plot.n_digits).encode(),
            b"vormant.source": os.fsencode(plot.path)}


SCHEMAS = {
    "__arrow_c_schema__": lambda plot: arrow_c.read_schema(
        arrow_c.schema_in(plot.__arrow_c_schema__())),
    "stream": lambda plot: arrow_c.read_schema(
        arrow_c.get_schema(arrow_c.stream_in(plot.__arrow_c_stream__()))),
}


@pytest.mark.parametrize("schema", sorted(SCHEMAS))
@pytest.mark.parametrize("path", [SAMPLE_6, SAMPLE_9])
def test_schema_names_the_columns_and_carries_width_and_source(path, schema):
    plot = vormant.read(path)
    assert SCHEMAS[schema](plot) == (list(plot.names), schema_metadata(plot))


def test_arrow_schema_is_the_parquet_files():
    pyarrow = pytest.importorskip("pyarrow")
    pytest.importorskip("numpy")
    from vormant import _convert
    plot = vormant.read(SAMPLE_9)
    parquet_schema = _convert.schema(pyarrow, plot.names, plot.n_digits, plot.path)
    for schema in (pyarrow.schema(plot), plot.to_arrow().schema):
        assert schema.equals(parquet_schema)
        # Parquet files also keep the name lines as they were (a name may repeat there).
        assert schema.metadata == {key: value for key, value in parquet_schema.metadata.items()
                                   if key != _convert.NAMES_KEY}


@pytest.mark.parametrize("source", ["9digits", "no-steps"])
def test_xarray_dataset_has_a_variable_per_parameter_over_time(tmp_path, source):
    pytest.importorskip("xarray")
    plot = SOURCES[source](tmp_path)
    dataset = plot.to_xarray()
    columns = expected_columns(plot)
    assert dict(dataset.sizes) == {"time": plot.steps}
    assert list(dataset.data_vars) == list(plot.names[1:])
    assert dataset.attrs == {"n_digits": plot.n_digits, "source": plot.path}
    for name, column in zip(("time", *plot.names[1:]), columns):
        assert (dataset[name].dims, str(dataset[name].dtype)) == (("time",), "float32")
        assert dataset[name].values.tobytes() == column


@pytest.mark.parametrize("names", [("t", "a", "a"), ("t", "time")])
def test_xarray_needs_a_name_of_its_own_per_variable(names):
    pytest.importorskip("xarray")
    plot = counting_plot(len(names), 2, names)
    with pytest.raises(ValueError, match="name of its own"):
        plot.to_xarray()


@pytest.mark.parametrize("consumer", ["capsule", "pyarrow"])
def test_stream_outlives_its_plot(tmp_path, consumer):
    plot = vormant.read(write_plot(tmp_path, 12, 40, 12), 12)
    names, expected = list(plot.names), expected_columns(plot)
    capsule = plot.__arrow_c_stream__()
    del plot
    gc.collect()
    if consumer == "capsule":
        got = arrow_c.read_stream(arrow_c.stream_in(capsule))
        assert (got[0], got[2]) == (names, expected)
    else:
        assert from_pyarrow(pyarrow_reader(capsule).read_all()) == (names, expected)


def test_a_batch_is_a_copy_that_outlives_stream_plot_and_parent(tmp_path):
    plot = vormant.read(write_plot(tmp_path, 12, 40, 12), 12)
    expected = expected_columns(plot)
    capsule = plot.__arrow_c_stream__()
    stream = arrow_c.stream_in(capsule)
    batch = arrow_c.next_batch(stream)
    arrow_c.release(stream)
    plot.values[0, 1] = 1.5
    del plot, stream, capsule
    gc.collect()
    assert arrow_c.batch_columns(batch) == expected
    column = arrow_c.move(batch.children[1].contents)
    arrow_c.release(batch)
    assert arrow_c.column_bytes(column) == expected[1]
    arrow_c.release(column)


EXPORTS = {
    "schema": SCHEMAS["__arrow_c_schema__"],
    "stream dropped unread": lambda plot: plot.__arrow_c_stream__(),
    "stream schema only": SCHEMAS["stream"],
    "stream read": from_capsule,
    "stream moved out and released": lambda plot: arrow_c.release(
        arrow_c.move(arrow_c.stream_in(plot.__arrow_c_stream__()))),
    "stream refused": lambda plot: pytest.raises(ValueError, plot.__arrow_c_stream__,
                                                 _reader.arrow_schema(("x",), {})),
    "pyarrow": CONSUMERS["pyarrow.table"],
    "polars": CONSUMERS["polars.DataFrame"],
}


@pytest.mark.parametrize("export", sorted(EXPORTS))
def test_an_export_lets_go_of_the_values_exactly_once(export):
    plot = vormant.read(SAMPLE_6)
    values = plot.values
    baseline = sys.getrefcount(values)
    stream = plot.__arrow_c_stream__()
    assert sys.getrefcount(values) == baseline + 1  # the stream holds them
    del stream
    EXPORTS[export](plot)
    gc.collect()
    assert sys.getrefcount(values) == baseline


def pyarrow_schema(plot, kind, nullable=True):
    pyarrow = pytest.importorskip("pyarrow")
    return pyarrow.schema([pyarrow.field(name, kind(pyarrow), nullable) for name in plot.names])


MET = {
    "its own": lambda plot: plot.__arrow_c_schema__(),
    "without metadata, not nullable": lambda plot: pyarrow_schema(
        plot, lambda pyarrow: pyarrow.float32(), nullable=False).__arrow_c_schema__(),
}
UNMET = {
    "renamed": lambda plot: _reader.arrow_schema(("x", *plot.names[1:]), {}),
    "fewer columns": lambda plot: _reader.arrow_schema(plot.names[:-1], {}),
    "more columns": lambda plot: _reader.arrow_schema((*plot.names, "x"), {}),
    "reordered": lambda plot: _reader.arrow_schema(plot.names[::-1], {}),
    "float64": lambda plot: pyarrow_schema(
        plot, lambda pyarrow: pyarrow.float64()).__arrow_c_schema__(),
    "not a struct": lambda plot: pytest.importorskip("pyarrow").float32().__arrow_c_schema__(),
}
NOT_A_SCHEMA = {
    "pyarrow schema": lambda plot: pyarrow_schema(plot, lambda pyarrow: pyarrow.float32()),
    "stream capsule": lambda plot: plot.__arrow_c_stream__(),
    "text": lambda plot: "float32",
}


@pytest.mark.parametrize("request_", sorted(MET))
def test_requested_schema_of_the_plots_columns_is_met(request_):
    plot = vormant.read(SAMPLE_9)
    stream = arrow_c.stream_in(plot.__arrow_c_stream__(MET[request_](plot)))
    assert arrow_c.read_stream(stream)[2] == expected_columns(plot)


@pytest.mark.parametrize("request_, error, words", [
    *((name, ValueError, "requested_schema cannot be met") for name in sorted(UNMET)),
    *((name, TypeError, "must be None or an \"arrow_schema\" PyCapsule")
      for name in sorted(NOT_A_SCHEMA)),
])
def test_requested_schema_the_plot_cannot_meet_is_refused(request_, error, words):
    plot = vormant.read(SAMPLE_6)
    requested = {**UNMET, **NOT_A_SCHEMA}[request_](plot)
    values = plot.values
    baseline = sys.getrefcount(values)
    with pytest.raises(error, match=words) as caught:
        plot.__arrow_c_stream__(requested)
    del caught  # its traceback ties this frame into a cycle
    gc.collect()
    assert sys.getrefcount(values) == baseline


def test_pyarrow_asking_for_other_types_gets_the_refusal():
    pyarrow = pytest.importorskip("pyarrow")
    plot = vormant.read(SAMPLE_6)
    with pytest.raises(ValueError, match="requested_schema cannot be met"):
        pyarrow.RecordBatchReader.from_stream(
            plot, schema=pyarrow_schema(plot, lambda pyarrow: pyarrow.float64()))


def flat_float(items, shape, kind="f"):
    return memoryview(array.array(kind, [0] * items)).cast("B").cast(kind, shape)


@pytest.mark.parametrize("values, names, metadata, error", [
    (None, ("a",), {}, TypeError),
    (memoryview(bytes(16)), ("a",), {}, TypeError),
    (memoryview(array.array("f", [0] * 4)), ("a",), {}, TypeError),
    (flat_float(4, (2, 2), "d"), ("a", "b"), {}, TypeError),
    (flat_float(4, (2, 2)), ("a",), {}, ValueError),
    (flat_float(4, (2, 2)), ["a", "b"], {}, TypeError),
    (flat_float(4, (2, 2)), (), {}, TypeError),
    (flat_float(4, (2, 2)), ("a", 1), {}, TypeError),
    (flat_float(4, (2, 2)), ("a", "b\0c"), {}, ValueError),
    (flat_float(4, (2, 2)), ("a", "\udc80"), {}, UnicodeEncodeError),
    (flat_float(4, (2, 2)), ("a", "b"), {"k": b"v"}, TypeError),
    (flat_float(4, (2, 2)), ("a", "b"), [(b"k", b"v")], TypeError),
])
def test_exporter_refuses_values_it_cannot_read(values, names, metadata, error):
    with pytest.raises(error):
        _reader.arrow_stream(values, names, metadata, None)


@pytest.mark.parametrize("function, args", [
    (_reader.arrow_stream, (memoryview(b""), ("a",), {})), (_reader.arrow_schema, (("a",),)),
])
def test_exporter_refuses_a_wrong_number_of_arguments(function, args):
    with pytest.raises(TypeError, match="takes exactly"):
        function(*args)


def test_the_stream_needs_no_arrow_library(run_python):
    child = run_python(f"""
        import sys
        sys.path.insert(0, {os.path.dirname(__file__)!r})
        import arrow_c, vormant
        plot = vormant.read({str(SAMPLE_6)!r})
        arrow_c.read_stream(arrow_c.stream_in(plot.__arrow_c_stream__()))
        print(sorted({{"numpy", "pandas", "pyarrow", "polars", "duckdb", "xarray"}}
                     & set(sys.modules)))
    """)
    assert (child.out, child.err) == ("[]\n", "")


@needs_debug_interpreter
@pytest.mark.parametrize("export", sorted(EXPORTS))
def test_repeated_exports_leak_no_reference_or_block(tmp_path, export):
    plot = vormant.read(write_plot(tmp_path, 11, 30, 15), 15)
    # The libraries fill their caches on the first exports. (DuckDB's go on changing in size.)
    assert_nothing_leaks(lambda: EXPORTS[export](plot), warm_up=100)
