"""Every call vormant's Python layer makes into its native reader, replayed first with arguments
that work on a bundled sample and then with one argument at a time replaced by a hostile value:
each call returns or raises an ordinary exception, never SystemError and never a crash.
tools/check-valgrind.sh runs it under memcheck (through paths.py), and
tests/python/test_vormant_hostile.py in the Python suite."""

import os
import pathlib

SAMPLE = os.fsencode(pathlib.Path(__file__).resolve().parents[2] / "samples" / "plot-6digits.txt")


class Unusable:
    """Fails whatever it is asked for: its truth, its index, its text."""

    def __bool__(self):
        raise RuntimeError("no truth")

    def __index__(self):
        raise RuntimeError("no index")


WRONG_TYPES = [None, "12", 1.5, [1], True, Unusable()]
HUGE_INTEGERS = [2**62, 2**64, -1, -(2**63), 10**6]


def hostile_values(kind, folder):
    """The values that replace an argument of `kind`."""
    paths = [b"/nonexistent/plot.txt", os.fsencode(folder), b"", b"plot\0.txt", os.fsdecode(SAMPLE)]
    columns = [(0,), (2**62,), (10**6,), (-1,), (1.5,), (1, None), [1], ()]
    return {
        "path": paths + WRONG_TYPES,
        "n_digits": [0, 13, *HUGE_INTEGERS, *WRONG_TYPES],
        "columns": columns + WRONG_TYPES,
        "integer": HUGE_INTEGERS + WRONG_TYPES,
        "flag": [Unusable(), None, [1]],
        "names": [(), ("a\0b",), ("\ud800",), (1,), ["TIME"], None],
        "metadata": [{"k": b"v"}, {b"k": 1}, [], None],
        "values": [b"", memoryview(b"\0" * 8).cast("f", (1, 2)), memoryview(b"\0" * 8), None],
        "schema": [b"", 1, None],
        "rules": [(), ((0,),), ((10**6, 0, 0.0, 0.0),), ((-1, 0, 0.0, 0.0),),
                  ((0, 0, "x", 0.0),), ((0, 0, float("nan"), -1.0),), [(0, 0, 0.0, 0.0)], None],
        "out": [bytearray(8), memoryview(bytearray(8)).cast("f", (1, 2)), b"\0" * 8, 1],
        "offsets": [(), (0, 0), (-1,), (2**64,), (2**63 - 1,), (1.5,), (None,), [0], None],
        "counts": [(), ((0, False), (0, False)), ((-1, False),), ((2**64, True),), ((2**62, True),),
                   ((0,),), ((0, Unusable()),), (None,), ([0, False],), [(0, False)], None],
    }[kind]


def getters(plot_file):
    return lambda: (plot_file.names, plot_file.steps, plot_file.n_digits, plot_file.closed)


def native_calls(_reader, folder):
    """(label, function, arguments and their kinds) for each native call, the arguments ones
    that work on the sample; a PlotFile's methods on an open and on a closed file."""
    names, _, values = _reader.read_split(SAMPLE, None, 1)
    view = memoryview(values)
    metadata = {b"vormant.n_digits": b"12"}
    schema = _reader.arrow_schema(names, metadata)
    _, start = _reader.layout(SAMPLE)
    begin = start + 100  # inside the first step
    counted = _reader.count_feeds(SAMPLE, start, begin)
    feeds_before, _ = counted
    sink = os.open(os.devnull, os.O_WRONLY)  # kept open for the replay
    opened = _reader.open(SAMPLE, 12, False)
    closed = _reader.open(SAMPLE, 12, False)
    closed.close()
    rules = ((0, 0, 0.0, 0.0), (2, 1, 1e-5, 0.0))
    out = memoryview(bytearray(4 * len(view) * 3)).cast("f", (len(view), 3))
    calls = [
        ("read_split", _reader.read_split,
         [(SAMPLE, "path"), (12, "n_digits"), (2, "integer")]),
        ("names", _reader.names, [(SAMPLE, "path")]),
        ("read_columns", _reader.read_columns,
         [(SAMPLE, "path"), (None, "n_digits"), ((3, 1), "columns"), (0, "integer")]),
        ("open", _reader.open, [(SAMPLE, "path"), (None, "n_digits"), (True, "flag")]),
        ("layout", _reader.layout, [(SAMPLE, "path")]),
        ("part_ranges", _reader.part_ranges, [(SAMPLE, "path"), (500, "integer")]),
        ("plan_parts", _reader.plan_parts,
         [((start, begin), "offsets"), ((begin, start + 500), "offsets"),
          ((counted, _reader.count_feeds(SAMPLE, begin, start + 500)), "counts"),
          (len(names), "integer")]),
        ("count_feeds", _reader.count_feeds,
         [(SAMPLE, "path"), (start, "integer"), (start + 500, "integer")]),
        ("read_part", _reader.read_part,
         [(SAMPLE, "path"), (None, "n_digits"), (None, "columns"), (begin, "integer"),
          (feeds_before, "integer"), (1, "integer"), (3, "integer"), (False, "flag")]),
        ("time_of_step", _reader.time_of_step,
         [(SAMPLE, "path"), (12, "n_digits"), (start, "integer"), (0, "integer"),
          (5, "integer")]),
        ("arrow_schema", _reader.arrow_schema, [(names, "names"), (metadata, "metadata")]),
        *[(f"compare_piece ({final})", _reader.compare_piece,
           [(view, "values"), (view, "values"), (rules, "rules"), (1, "integer"),
            (final, "flag"), (out, "out")]) for final in (None, True)],
        ("arrow_stream", _reader.arrow_stream,
         [(view, "values"), (names, "names"), (metadata, "metadata"), (schema, "schema")]),
        ("batch_steps", _reader.batch_steps, [(len(names), "integer")]),
        ("write_steps", _reader.write_steps,
         [(sink, "integer"), (view, "values"), (1, "integer"), (15, "n_digits"),
          (2, "integer")]),
    ]
    for state, plot_file in (("open", opened), ("closed", closed)):
        calls += [
            (f"PlotFile.read ({state})", plot_file.read,
             [((2, 1), "columns"), (5, "integer"), (-2, "integer"), (3, "integer"),
              (2, "integer")]),
            (f"PlotFile.envelope ({state})", plot_file.envelope,
             [((2, 1), "columns"), (5, "integer"), (-2, "integer"), (3, "integer"),
              (2, "integer"), (0, "integer")]),
            (f"PlotFile.copy_steps ({state})", plot_file.copy_steps,
             [(sink, "integer"), (5, "integer"), (3, "integer"), (1, "integer")]),
            *[(f"PlotFile.{method} ({state})", getattr(plot_file, method), [])
              for method in ("refresh", "check_complete")],
            (f"PlotFile getters ({state})", getters(plot_file), []),
        ]
    return calls


def ordinary(call):
    """What `call` ends with: its result, or the ordinary exception it raised."""
    try:
        return call()
    except SystemError:
        raise
    except Exception as error:  # noqa: BLE001 - every ordinary exception is an answer
        return error


def replay(_reader, folder):
    """Replays the native calls; returns how many hostile ones were made."""
    made = 0
    for name, function, arguments in native_calls(_reader, folder):
        valid = [value for value, _ in arguments]
        result = ordinary(lambda: function(*valid))
        assert not isinstance(result, Exception) or "closed" in name, (name, result)
        for wrong in ([valid[:-1]] if valid else []) + [[*valid, None]]:
            assert isinstance(ordinary(lambda: function(*wrong)), TypeError), name
        for position, (_, kind) in enumerate(arguments):
            for value in hostile_values(kind, folder):
                changed = [*valid[:position], value, *valid[position + 1:]]
                ordinary(lambda: function(*changed))
                made += 1
    return made
