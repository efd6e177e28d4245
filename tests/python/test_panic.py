"""PanicException, the fatal-error report on descriptor 2, and PanicExceptions that come back
from Python code during a call."""

import re

import pytest

from reports import report_pattern

MISSING_PATH = "/nonexistent/dir/plot.txt"
NOT_FOUND = (
    'Plot file not found!: Os { code: 2, kind: NotFound, message: "No such file or directory" }'
)
UNWRAPPED = "Unwrapped panic from Python code"
TRACE_LINE = "Python stack trace below:"


def header_lines(err):
    """The two lines written before a PanicException from Python code is resumed."""
    lines = err.split("\n")
    at = lines.index(TRACE_LINE)
    return lines[at - 1], lines[at]


# --- the type ----------------------------------------------------------------------------------


def test_panic_exception_type(panic_exception):
    assert panic_exception.__name__ == "PanicException"
    assert panic_exception.__qualname__ == "PanicException"
    assert panic_exception.__module__ == "pyo3_runtime"
    assert panic_exception.__bases__ == (BaseException,)
    assert not issubclass(panic_exception, Exception)
    doc = panic_exception.__doc__
    assert doc.startswith("\n") and doc.endswith("\n")
    assert "BaseException" in doc


def test_one_type_object_across_calls(read, panic_exception):
    caught = []
    for path in (MISSING_PATH, MISSING_PATH + "2"):
        try:
            read(path, 12)
        except BaseException as error:  # noqa: B036
            caught.append(type(error))
    assert caught == [panic_exception, panic_exception]


def test_panic_passes_through_except_exception(read, panic_exception):
    with pytest.raises(panic_exception) as info:
        try:
            read(MISSING_PATH, 12)
        except Exception:  # noqa: BLE001
            pytest.fail("PanicException was caught as an Exception")
    error = info.value
    assert error.args == (NOT_FOUND,)
    assert type(error.args[0]) is str
    assert str(error) == NOT_FOUND
    assert error.__cause__ is None and error.__context__ is None


def test_report_goes_to_descriptor_2_in_process(read, panic_exception, capfd):
    capfd.readouterr()
    with pytest.raises(panic_exception):
        read(MISSING_PATH, 12)
    captured = capfd.readouterr()
    assert captured.out == ""
    assert report_pattern(NOT_FOUND).fullmatch(captured.err)


# --- reports seen from outside the process ------------------------------------------------------

CALL_MISSING = """
import sys, tarnex
try:
    tarnex.rust_read_vormant(sys.argv[1], 12)
except BaseException as e:
    print("raised", type(e).__name__, repr(e.args))
"""


def test_report_of_a_child_process(run_python):
    child = run_python(CALL_MISSING, MISSING_PATH)
    assert child.returncode == 0
    assert child.out == f"raised PanicException {(NOT_FOUND,)!r}\n"
    assert report_pattern(NOT_FOUND).fullmatch(child.err)


def test_report_bypasses_a_replaced_sys_stderr(run_python):
    child = run_python(
        """
        import io, sys, tarnex
        sys.stderr = io.StringIO()
        try:
            tarnex.rust_read_vormant(sys.argv[1], 12)
        except BaseException as e:
            captured = sys.stderr.getvalue()
            sys.stderr = sys.__stderr__
            print("raised", type(e).__name__, "python-level stderr:", repr(captured))
        """,
        MISSING_PATH,
    )
    assert child.out == "raised PanicException python-level stderr: ''\n"
    assert report_pattern(NOT_FOUND).fullmatch(child.err)


def test_bad_count_line_and_message_with_line_feed(run_python, plot_file):
    path = plot_file("VORMANT run 12x\nname\n")
    message = "The first line should end with the number of parameters:\n'VORMANT run 12x'"
    child = run_python(
        """
        import sys, tarnex
        sys.stdout.write("before\\n")
        sys.stdout.flush()
        try:
            tarnex.rust_read_vormant(sys.argv[1], 12)
        except BaseException as e:
            print(repr(e.args))
        """,
        path,
    )
    printed = "Error: '12x' is not a valid number of parameters!\n"
    assert child.out == f"before\n{printed}{(message,)!r}\n"
    assert report_pattern(message).fullmatch(child.err)
    assert child.err.endswith("parameters:\n'VORMANT run 12x'\n")


def test_calls_still_raise_with_descriptors_1_and_2_closed(run_python, plot_file, tmp_path):
    bad_count = plot_file("title x\n")
    results = tmp_path / "results.txt"
    child = run_python(
        """
        import os, sys, tarnex
        out = open(sys.argv[3], "w")
        os.close(1)
        os.close(2)
        for path in sys.argv[1:3]:
            try:
                tarnex.rust_read_vormant(path, 12)
                out.write("returned\\n")
            except BaseException as e:
                out.write(type(e).__name__ + " " + repr(e.args) + "\\n")
        out.close()
        os._exit(0)
        """,
        MISSING_PATH,
        bad_count,
        str(results),
    )
    assert child.returncode == 0
    assert child.stdout == b"" and child.stderr == b""
    assert results.read_text() == (
        f"PanicException {(NOT_FOUND,)!r}\n"
        "PanicException "
        + repr(("The first line should end with the number of parameters:\n'title x'",))
        + "\n"
    )


# --- a PanicException raised by Python code during a call ----------------------------------

RETURNING = """
import os, sys, tarnex
try:
    tarnex.rust_read_vormant("/nonexistent", 12)
except BaseException as e:
    Panic = type(e)
os.write(2, b"<mark>\\n")

{setup}

class Index:
    def __index__(self):
        raise {raise_expression}

try:
    tarnex.rust_read_vormant("/nonexistent", Index())
except BaseException as e:
    print(type(e).__name__, type(e) is Panic, repr(e.args), e.__cause__, e.__context__)
"""


def run_returning(run_python, raise_expression, setup=""):
    child = run_python(RETURNING.format(raise_expression=raise_expression, setup=setup))
    assert child.returncode == 0, child.err
    return child.out, child.err.split("<mark>\n", 1)[1]


@pytest.mark.parametrize(
    "argument, text",
    [
        ('"from python"', "from python"),
        ('"line one\\nline two"', "line one\nline two"),
        ('"lone \\udc00 surrogate"', "lone \ufffd\ufffd\ufffd surrogate"),
        ("Unprintable()", UNWRAPPED),
    ],
)
def test_exact_panic_exception_is_resumed(run_python, argument, text):
    out, err = run_returning(
        run_python,
        f"Panic({argument})",
        setup="class Unprintable:\n    def __str__(self):\n        raise ValueError('no')",
    )
    assert out == f"PanicException True {(text,)!r} None None\n"
    first, second = header_lines(err)
    assert re.fullmatch(r"--- .*PanicException.* ---", first)
    assert second == TRACE_LINE
    # the interpreter's own print-out of the exception follows, with its traceback
    after = err.split(TRACE_LINE + "\n", 1)[1]
    assert after.startswith("Traceback (most recent call last):\n")
    assert "in __index__" in after
    assert "pyo3_runtime.PanicException" in after
    assert "panicked at" not in err


def test_panic_exception_subclass_is_an_ordinary_error(run_python):
    out, err = run_returning(run_python, 'Sub("sub")', setup="class Sub(Panic): pass")
    assert out == "Sub False ('sub',) None None\n"
    assert err == ""


def test_resumed_panic_leaves_the_interpreter_usable(run_python, plot_file):
    path = plot_file("1\ntime\nlead\n 2.5\n")
    child = run_python(
        """
        import sys, tarnex
        try:
            tarnex.rust_read_vormant("/nonexistent", 12)
        except BaseException as e:
            Panic = type(e)

        class Index:
            def __index__(self):
                raise Panic("again")

        for _ in range(3):
            try:
                tarnex.rust_read_vormant(sys.argv[1], Index())
            except BaseException as e:
                print(repr(e.args))
        print(tarnex.rust_read_vormant(sys.argv[1], 4))
        """,
        path,
    )
    assert child.out == "('again',)\n" * 3 + "([2.5], [])\n"
    assert child.err.count(TRACE_LINE) == 3


def test_threads_racing_to_the_first_failure_share_one_type(run_python):
    # The type is made by the first failing call; threads that find it being made wait without
    # the interpreter lock, so the maker can finish.
    child = run_python(
        """
        import sys, threading, tarnex
        sys.setswitchinterval(1e-6)
        count = 16
        barrier = threading.Barrier(count)
        types = []

        def fail():
            barrier.wait()
            try:
                tarnex.rust_read_vormant("/nonexistent", 12)
            except BaseException as e:
                types.append(type(e))

        threads = [threading.Thread(target=fail) for _ in range(count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(len(types), len(set(map(id, types))), types[0].__name__)
        """
    )
    assert child.returncode == 0, child.err
    assert child.out == "16 1 PanicException\n"
    assert child.err.count("panicked at") == 16
