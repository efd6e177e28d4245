"""Every way through the module, three times each, for tools/check-valgrind.sh: a memory
checker watches the run, so whatever a call leaves behind shows up once per call. Each outcome is
checked, so that the run takes the way it is meant to."""

import os
import sys
import tempfile

import tarnex

read = tarnex.rust_read_vormant
REPEATS = 3
NOT_FOUND = "/nonexistent/plot.txt"


def outcome(call):
    try:
        return call()
    except BaseException as error:  # noqa: B036
        return error


try:
    read(NOT_FOUND, 12)
except BaseException as caught:  # noqa: B036
    Panic = type(caught)


class Index:
    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()


class Sub(Panic):
    pass


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


def raising(error):
    def action():
        raise error

    return action


def plot_text(count, blocks):
    lines = [f"VORMANT valgrind {count}"] + [f"p{p}" for p in range(count)]
    for block in range(blocks):
        values = [f"{(block * count + p) / 3:12.5E}" for p in range(count)]
        lines.append(f" step {block}")
        lines += ["".join(values[start : start + 10]) for start in range(0, count, 10)]
    return "\n".join(lines) + "\n"


def main(folder):
    def plot(name, content):
        path = os.path.join(folder, name)
        with open(path, "wb") as out:
            out.write(content.encode() if isinstance(content, str) else content)
        return path

    good = plot("good.txt", plot_text(12, 30))
    one = plot("one.txt", plot_text(1, 3))
    panics = {
        "empty": plot("empty.txt", b""),
        "bad count": plot("count.txt", "title 12x\n"),
        "long bad count": plot("long.txt", "title " + "1" * 3000 + "x\n"),
        "zero count": plot("zero.txt", "\n"),
        "missing name line": plot("names.txt", "3\na\n"),
        "invalid UTF-8": plot("utf8.txt", b"2\nt\nv\nlead\n" + b"x" * 9000 + b"\xff\n"),
        "ends after lead line": plot("lead.txt", plot_text(3, 2) + "lead\n"),
        "ends before value line 2": plot("second.txt", plot_text(11, 2) + "lead\n" + "1" * 120),
        "empty field": plot("blank.txt", "1\nt\nlead\n" + " " * 12 + "\n"),
        "invalid field": plot("invalid.txt", "1\nt\nlead\n     1.0D+00\n"),
        "short line": plot("short.txt", "2\nt\nv\nlead\n" + "1" * 23 + "\n"),
        "split character": plot("split.txt", "2\nt\nv\nlead\n" + " " * 11 + "\u00e9" + "\n"),
        "missing file": NOT_FOUND,
        "NUL in path": "plot\0.txt",
        "directory": folder,
    }

    expected_result = read(good, 12)
    assert len(expected_result[0]) == 30 and len(expected_result[1]) == 11
    expected_one = read(one, 12)
    assert len(expected_one[0]) == 3 and expected_one[1] == []
    for _ in range(REPEATS):
        assert read(good, 12) == expected_result
        assert read(one, 12) == expected_one
        assert read(good, Index(lambda: 12)) == expected_result
        assert read(n_digits=12, file_path=good) == expected_result
        for name, path in panics.items():
            assert type(outcome(lambda: read(path, 12))) is Panic, name
        # The bad count's line cannot be printed: standard output full, then closed.
        for target in ("/dev/full", None):
            saved = os.dup(1)
            if target:
                full = os.open(target, os.O_WRONLY)
                os.dup2(full, 1)
                os.close(full)
            else:
                os.close(1)
            failed = outcome(lambda: read(panics["bad count"], 12))
            os.dup2(saved, 1)
            os.close(saved)
            assert type(failed) is Panic and failed.args[0].startswith(
                "failed printing to stdout" if target else "The first line"
            )

        argument_errors = [
            (TypeError, lambda: read()),
            (TypeError, lambda: read(good)),
            (TypeError, lambda: read(good, 12, 3)),
            (TypeError, lambda: read(good, x=1)),
            (TypeError, lambda: read(good, **{"\ud800": 1})),
            (TypeError, lambda: read(good, file_path=good)),
            (TypeError, lambda: read(b"x", 12)),
            (TypeError, lambda: read(None, 12)),
            (UnicodeEncodeError, lambda: read("\udc00", 12)),
            (TypeError, lambda: read(good, 1.5)),
            (TypeError, lambda: read(good, "12")),
            (OverflowError, lambda: read(good, -1)),
            (OverflowError, lambda: read(good, 2**64)),
            (TypeError, lambda: read(good, Index(raising(TypeError("t"))))),
            (ValueError, lambda: read(good, Index(raising(ValueError("v"))))),
            (Sub, lambda: read(good, Index(raising(Sub("sub"))))),
        ]
        for expected, call in argument_errors:
            assert type(outcome(call)) is expected, expected

        # A PanicException from __index__ comes back as a new one.
        assert outcome(lambda: read(good, Index(raising(Panic("again"))))).args == ("again",)
        unwrapped = outcome(lambda: read(good, Index(raising(Panic(Unprintable())))))
        assert type(unwrapped) is Panic and unwrapped.args == ("Unwrapped panic from Python code",)


def vormant_paths(folder):
    """vormant's native reader beside tarnex: a file read, and each way a read fails."""
    try:
        from vormant import _reader
    except ImportError:  # a build without vormant
        return
    good = os.path.join(folder, "good.txt")
    bad = os.path.join(folder, "bad.txt")
    with open(bad, "w") as file:
        file.write("3\na\nb\nc\nlead\n" + "x" * 36 + "\n")
    times, columns = read(good, 12)

    def whole(path, n_digits):  # a whole read on one thread
        return _reader.read_split(path, n_digits, 1)

    for _ in range(REPEATS):
        names, width, values = whole(os.fsencode(good), None)
        view = memoryview(values)
        assert (width, view.shape) == (12, (len(times), len(columns) + 1))
        assert view.tolist()[-1] == [times[-1]] + [column[-1] for column in columns]
        view.release()
        assert type(outcome(lambda: whole(NOT_FOUND.encode(), 12))) is FileNotFoundError
        assert type(outcome(lambda: whole(folder.encode(), 12))) is IsADirectoryError
        # PlotFileError, or ModuleNotFoundError where only the native half is on the path.
        assert isinstance(outcome(lambda: whole(bad.encode(), 12)), (ValueError, ImportError))
        assert type(outcome(lambda: whole(b"a\0b", 12))) is ValueError
        assert type(outcome(lambda: whole("plot", 12))) is TypeError
        indexed_paths(_reader, good, bad, times)


def indexed_paths(_reader, good, bad, times):
    """The reads that go by the block index, on threads, in one pass, and their failures."""
    plot_file = _reader.open(os.fsencode(good), None, False)
    assert plot_file.steps == len(times)
    for threads in (0, 1, 2):
        view = memoryview(plot_file.read((2, 1), len(times) - 1, -2, 3, threads))
        assert view.shape == (3, 3) and view.tolist()[0][0] == times[-1]
        view.release()
        assert memoryview(plot_file.read(None, 0, 1, len(times), threads)).shape[0] == len(times)
        split = _reader.read_split(os.fsencode(good), None, threads)
        assert memoryview(split[2]).shape[0] == len(times)
    for threads in (1, 2):  # in one pass, and through the index
        columns = _reader.read_columns(os.fsencode(good), None, (3, 2, 1), threads)
        assert memoryview(columns[2]).shape[1] == 4
    assert plot_file.refresh() == 0
    plot_file.close()
    assert type(outcome(lambda: plot_file.read(None, 0, 1, 1, 1))) is ValueError
    faulty = _reader.open(bad.encode(), 12, False)
    assert isinstance(outcome(lambda: faulty.read((2,), 0, 1, 1, 2)), (ValueError, ImportError))
    faulty.close()
    for call in (lambda: _reader.read_split(bad.encode(), 12, 2),
                 lambda: _reader.read_columns(bad.encode(), 12, (1,), 1),
                 lambda: _reader.open(NOT_FOUND.encode(), 12, True)):
        assert isinstance(outcome(call), (ValueError, ImportError, OSError))


def arrow_paths(folder):
    """vormant's Arrow exports, read by a consumer of the C interfaces in ctypes: a schema, a
    stream read whole, one dropped unread, a batch that outlives its stream with a column moved
    out of it, and the requests refused."""
    try:
        from vormant import _reader
    except ImportError:  # a build without vormant
        return
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
    import arrow_c

    names, _, values = _reader.read_split(os.fsencode(os.path.join(folder, "good.txt")), 12, 1)
    metadata = {b"vormant.n_digits": b"12"}

    def stream(requested=None):
        return _reader.arrow_stream(memoryview(values), names, metadata, requested)

    for _ in range(REPEATS):
        schema = arrow_c.schema_in(_reader.arrow_schema(names, metadata))
        assert arrow_c.read_schema(schema) == (list(names), metadata)
        assert len(arrow_c.read_stream(arrow_c.stream_in(stream()))[2]) == len(names)
        stream()
        unread = arrow_c.stream_in(stream())
        batch = arrow_c.next_batch(unread)
        arrow_c.release(unread)
        column = arrow_c.move(batch.children[0].contents)
        arrow_c.release(batch)
        assert len(arrow_c.column_bytes(column)) == 4 * column.length
        arrow_c.release(column)
        unmet = _reader.arrow_schema(names[:1], {})
        assert type(outcome(lambda: stream(unmet))) is ValueError
        assert type(outcome(lambda: _reader.arrow_stream(b"", names, {}, None))) is TypeError


def hostile_paths(folder):
    """vormant's native calls with hostile arguments, once: some hundreds of calls."""
    try:
        from vormant import _reader
    except ImportError:  # a build without vormant
        return
    import hostile_calls

    assert hostile_calls.replay(_reader, folder) > 400


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as folder:
        main(folder)
        vormant_paths(folder)
        arrow_paths(folder)
        hostile_paths(folder)
    sys.stdout.flush()
