"""Argument binding and conversion of rust_read_vormant(file_path, n_digits)."""

import gc
import operator
import pathlib
import sys
import weakref

import pytest

NAME = "rust_read_vormant()"
UNEXPECTED = f"{NAME} got an unexpected keyword argument"
MULTIPLE = f"{NAME} got multiple values for argument"
MISSING_PATH = "/nonexistent/dir/plot.txt"


@pytest.fixture
def header_only(plot_file):
    """A file with two parameters and no timestep block: any n_digits reads it."""
    return plot_file("title 2\ntime\nvalue\n")


@pytest.fixture
def one_block(plot_file):
    """One block of a single parameter whose time field is 3 bytes wide."""
    return plot_file("1\ntime\nlead\n2.5\n")


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


# --- order of the binding steps and their texts ---------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, f"{NAME} missing 2 required positional arguments: 'file_path' and 'n_digits'"),
        (("a.txt",), {}, f"{NAME} missing 1 required positional argument: 'n_digits'"),
        ((), {"file_path": "a.txt"}, f"{NAME} missing 1 required positional argument: 'n_digits'"),
        ((), {"n_digits": 12}, f"{NAME} missing 1 required positional argument: 'file_path'"),
        (("a", 12, 3), {}, f"{NAME} takes 2 positional arguments but 3 were given"),
        (("a", 12, 3, 4), {}, f"{NAME} takes 2 positional arguments but 4 were given"),
        # the positional count comes before any keyword
        (("a", 12, 3), {"x": 1}, f"{NAME} takes 2 positional arguments but 3 were given"),
        (("a", 12, 3), {"file_path": "b"}, f"{NAME} takes 2 positional arguments but 3 were given"),
        # keywords come before missing arguments
        (("a.txt",), {"x": 1}, f"{UNEXPECTED} 'x'"),
        ((), {"x": 1}, f"{UNEXPECTED} 'x'"),
        (("a.txt", 12), {"File_path": "b"}, f"{UNEXPECTED} 'File_path'"),
        (("a.txt", 12), {"n_digits ": 1}, f"{UNEXPECTED} 'n_digits '"),
        (("a.txt",), {"file_path": "b.txt"}, f"{MULTIPLE} 'file_path'"),
        (("a.txt", 12), {"n_digits": 3}, f"{MULTIPLE} 'n_digits'"),
        # keywords are looked at in the order given
        (("a",), {"file_path": "b", "x": 1}, f"{MULTIPLE} 'file_path'"),
        (("a",), {"x": 1, "file_path": "b"}, f"{UNEXPECTED} 'x'"),
        (("a",), {"y": 1, "x": 1}, f"{UNEXPECTED} 'y'"),
        # binding errors come before any conversion
        ((None,), {}, f"{NAME} missing 1 required positional argument: 'n_digits'"),
        ((None, None), {"z": 0}, f"{UNEXPECTED} 'z'"),
    ],
)
def test_binding_errors(read, args, kwargs, message):
    error = raised(lambda: read(*args, **kwargs))
    assert type(error) is TypeError
    assert str(error) == message
    assert error.args == (message,)


def test_keyword_name_without_utf8_form_is_unexpected(read):
    name = "bad\ud800name"
    error = raised(lambda: read("a.txt", 12, **{name: 1}))
    assert type(error) is TypeError
    shown = name.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
    assert str(error) == f"{UNEXPECTED} '{shown}'"


def test_keyword_name_is_shown_through_str(read):
    class Keyword(str):
        def __str__(self):
            return "shown name"

    error = raised(lambda: read("a.txt", 12, **{Keyword("x"): 1}))
    assert str(error) == f"{UNEXPECTED} 'shown name'"


def test_keyword_name_whose_str_fails_is_unprintable(read, monkeypatch):
    class Keyword(str):
        def __str__(self):
            raise ValueError("no str")

    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)
    error = raised(lambda: read("a.txt", 12, **{Keyword("x"): 1}))
    assert str(error) == f"{UNEXPECTED} '<unprintable Keyword object>'"
    assert [type(r.exc_value) for r in reported] == [ValueError]


def test_keyword_subclass_with_parameter_text_matches(read, header_only):
    class Keyword(str):
        pass

    assert read(**{Keyword("file_path"): header_only, Keyword("n_digits"): 12}) == ([], [[]])


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {"file_path": "P", "n_digits": 12}),
        ((), {"n_digits": 12, "file_path": "P"}),
        (("P",), {"n_digits": 12}),
        (("P", 12), {}),
    ],
)
def test_positional_and_keyword_forms_agree(read, header_only, args, kwargs):
    args = tuple(header_only if a == "P" else a for a in args)
    kwargs = {k: header_only if v == "P" else v for k, v in kwargs.items()}
    assert read(*args, **kwargs) == ([], [[]])


# --- file_path ---------------------------------------------------------------------------------


class Outer:
    class Inner:
        pass


def _surrogate_named_type():
    kind = type("Named", (), {})
    kind.__qualname__ = "Na\udc80med"
    return kind()


@pytest.mark.parametrize(
    "value, shown",
    [
        (b"a.txt", "'bytes' object"),
        (None, "'None'"),
        (pathlib.PurePosixPath("a.txt"), "'PurePosixPath' object"),
        (pathlib.Path("a.txt"), f"'{type(pathlib.Path('a.txt')).__qualname__}' object"),
        (5, "'int' object"),
        (["a.txt"], "'list' object"),
        (Outer.Inner(), "'Outer.Inner' object"),
        (_surrogate_named_type(), "'Na\ufffd\ufffd\ufffdmed' object"),
    ],
)
def test_file_path_cast_errors(read, value, shown):
    error = raised(lambda: read(value, 12))
    assert type(error) is TypeError
    assert str(error) == f"argument 'file_path': {shown} is not an instance of 'str'"
    assert error.__cause__ is None
    assert error.__suppress_context__


def test_posix_path_is_named_on_this_platform(read):
    error = raised(lambda: read(pathlib.PosixPath("a.txt"), 12))
    assert str(error) == "argument 'file_path': 'PosixPath' object is not an instance of 'str'"


def test_file_path_error_leaves_n_digits_untouched(read):
    touched = []

    class Index:
        def __index__(self):
            touched.append(True)
            return 12

    error = raised(lambda: read(5, Index()))
    assert str(error) == "argument 'file_path': 'int' object is not an instance of 'str'"
    assert touched == []


def test_lone_surrogate_path_raises_unicode_encode_error_unprefixed(read):
    path = "plot\ud800.txt"
    error = raised(lambda: read(path, 12))
    assert type(error) is UnicodeEncodeError
    with pytest.raises(UnicodeEncodeError) as expected:
        path.encode("utf-8")
    assert str(error) == str(expected.value)


def test_str_subclass_path_is_accepted(read, header_only):
    class Text(str):
        def __str__(self):
            return "/somewhere/else"

    assert read(Text(header_only), 12) == ([], [[]])


def test_nul_in_path_reaches_the_reader(read, panic_exception, header_only):
    error = raised(lambda: read(header_only + "\0", 12))
    assert type(error) is panic_exception
    assert error.args == (
        'Plot file not found!: Error { kind: InvalidInput, message: "file name contained an '
        'unexpected NUL byte" }',
    )


# --- n_digits ----------------------------------------------------------------------------------


def _index_error_text(value):
    with pytest.raises(TypeError) as info:
        operator.index(value)
    return str(info.value)


class IndexReturns:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("value", [12.0, "12", None, b"12", 1 + 0j, IndexReturns("12")])
def test_n_digits_without_integer_index_is_prefixed_type_error(read, value):
    error = raised(lambda: read(MISSING_PATH, value))
    assert type(error) is TypeError
    assert str(error) == "argument 'n_digits': " + _index_error_text(value)
    assert error.__cause__ is None


@pytest.mark.parametrize(
    "value, message",
    [
        (-1, "can't convert negative int to unsigned"),
        (-(2**70), "can't convert negative int to unsigned"),
        (2**64, "int too big to convert"),
        (IndexReturns(-5), "can't convert negative int to unsigned"),
        (IndexReturns(2**64), "int too big to convert"),
    ],
)
def test_n_digits_out_of_range_is_unprefixed_overflow_error(read, value, message):
    # The path names no file: arguments are converted before the reader opens anything.
    error = raised(lambda: read(MISSING_PATH, value))
    assert type(error) is OverflowError
    assert str(error) == message


@pytest.mark.parametrize(
    "value, width",
    [
        (2**64 - 1, 2**64 - 1),
        (2**63, 2**63),
        (IndexReturns(40), 40),
        (IndexReturns(2**64 - 1), 2**64 - 1),
    ],
)
def test_n_digits_value_reaches_the_reader(read, panic_exception, plot_file, value, width):
    # The failed cut of the time field names the width exactly.
    path = plot_file("1\ntime\nlead\n1234567\n")
    error = raised(lambda: read(path, value))
    assert type(error) is panic_exception
    assert error.args == (f"end byte index {width} is out of bounds for string of length 7",)


def test_false_is_width_zero(read, panic_exception, plot_file):
    error = raised(lambda: read(plot_file("1\ntime\nlead\n7\n"), False))
    assert type(error) is panic_exception
    assert error.args == ("Could not parse line: ParseFloatError { kind: Empty }",)


def test_true_reads_one_byte_fields(read, plot_file):
    assert read(plot_file("1\ntime\nlead\n7xyz\n"), True) == ([7.0], [])


def test_int_subclass_is_taken_without_index(read, one_block):
    class Width(int):
        def __index__(self):
            raise AssertionError("int subclasses are read directly")

    assert read(one_block, Width(3)) == ([2.5], [])


@pytest.mark.parametrize("error_type", [ValueError, KeyError, ArithmeticError, KeyboardInterrupt])
def test_index_raising_other_errors_propagates_unchanged(read, error_type):
    original = error_type("from __index__")

    class Index:
        def __index__(self):
            raise original

    error = raised(lambda: read(MISSING_PATH, Index()))
    assert error is original
    assert error.__cause__ is None


def test_index_raising_type_error_is_prefixed_and_keeps_its_cause(read):
    cause = ValueError("the cause")

    class Index:
        def __index__(self):
            raise TypeError("bad width") from cause

    error = raised(lambda: read(MISSING_PATH, Index()))
    assert type(error) is TypeError
    assert str(error) == "argument 'n_digits': bad width"
    assert error.__cause__ is cause
    assert error.__suppress_context__


def test_index_raising_type_error_subclass_is_not_prefixed(read):
    class OwnTypeError(TypeError):
        pass

    class Index:
        def __index__(self):
            raise OwnTypeError("own")

    error = raised(lambda: read(MISSING_PATH, Index()))
    assert type(error) is OwnTypeError
    assert str(error) == "own"


def test_index_type_error_with_unprintable_message(read, monkeypatch):
    class Message:
        def __str__(self):
            raise RuntimeError("cannot show")

    class Index:
        def __index__(self):
            raise TypeError(Message())

    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)
    error = raised(lambda: read(MISSING_PATH, Index()))
    assert str(error) == "argument 'n_digits': <unprintable TypeError object>"
    assert [type(r.exc_value) for r in reported] == [RuntimeError]


def test_index_type_error_with_lone_surrogate_message(read):
    class Index:
        def __index__(self):
            raise TypeError("bad \udfff width")

    error = raised(lambda: read(MISSING_PATH, Index()))
    assert str(error) == "argument 'n_digits': bad \ufffd\ufffd\ufffd width"


# --- references ------------------------------------------------------------------------------


def test_calls_keep_no_reference_to_their_arguments(read, header_only):
    path = "".join(["", header_only])  # objects of this test alone
    width = int("1099511627776")
    index = IndexReturns(int("1099511627777"))
    watched = (path, width, index, index.value)
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(50):
        read(path, width)
        read(path, index)
        read(n_digits=index, file_path=path)
        for call in (
            lambda: read(path, width, 1),
            lambda: read(path, file_path=path),
            lambda: read(width, index),
            lambda: read(path, path),
        ):
            with pytest.raises(TypeError):
                call()
    assert [sys.getrefcount(o) for o in watched] == before


@pytest.mark.parametrize("error_type", [TypeError, ValueError])
def test_exceptions_from_index_are_released(read, error_type):
    # Builtin exceptions take no weak reference; their argument does.
    class Message(str):
        pass

    raised_here = []

    class Index:
        def __index__(self):
            message = Message("dropped")
            raised_here.append(weakref.ref(message))
            raise error_type(message)

    with pytest.raises(error_type) as info:
        read(MISSING_PATH, Index())
    kept = info.value
    del info
    if error_type is TypeError:
        assert kept.args == ("argument 'n_digits': dropped",)  # a new TypeError took its place
    del kept
    gc.collect()
    assert raised_here[0]() is None
