"""The module object, the function object and the exec step that makes them."""

import importlib.util
import inspect
import shutil
import subprocess
import types

import pytest

DOC_LINES = [
    "# Reads in the vormant file.",
    "",
    "1. First opens the",
    "1. Gets the number of parameters",
    "1. Gets the parameter names",
    "1. Loops over the rest of the file",
    "",
    "## VORMANT plot file shape",
    "The VORMANT data is stored in blocks per timestep with a max width of 10 columns.",
    "There are 2 versions of the VORMANT plot file:",
    "1. 6 digits of percision, n_digits=12",
    "1. 9 digits of precision, n_digits=15",
    "",
    "Parameters",
    "----------",
    "file_path: &str",
    "    the file path",
    "n_digits: usize",
    "    the width of a datafield",
    "",
    "Returns",
    "-------",
    "all_data: Vec<Vec<f32>>",
    "    the data stored in a vector of columns/vectors.",
]
SIGNATURE_LINES = ["rust_read_vormant(file_path, n_digits)", "--", ""]


def test_full_docstring_is_616_bytes_of_27_lines():
    full = "".join(line + "\n" for line in SIGNATURE_LINES + DOC_LINES)
    assert len(full.encode("ascii")) == 616
    assert full.count("\n") == 27


def test_module_attributes(module):
    assert module.__doc__ == ""
    assert module.__all__ == ["rust_read_vormant"]
    assert type(module.__all__) is list
    assert module.__name__ == "tarnex"
    assert [name for name in vars(module) if not name.startswith("__")] == ["rust_read_vormant"]


def test_function_attributes(module, read):
    assert type(read) is types.BuiltinFunctionType
    assert read.__name__ == "rust_read_vormant"
    assert read.__qualname__ == "rust_read_vormant"
    assert read.__module__ == "tarnex"
    assert read.__self__ is None
    assert read.__text_signature__ == "(file_path, n_digits)"
    assert read.__doc__ == "".join(line + "\n" for line in DOC_LINES)


def test_signature_introspection(read):
    signature = inspect.signature(read)
    assert str(signature) == "(file_path, n_digits)"
    assert [(p.name, p.kind) for p in signature.parameters.values()] == [
        ("file_path", inspect.Parameter.POSITIONAL_OR_KEYWORD),
        ("n_digits", inspect.Parameter.POSITIONAL_OR_KEYWORD),
    ]


def test_pyo3_runtime_is_not_importable(panic_exception):
    import sys

    assert "pyo3_runtime" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        import pyo3_runtime  # noqa: F401


def test_only_the_init_function_is_exported(module):
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", module.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_tarnex"]


# --- the exec step, run again on new module objects ------------------------------------------


@pytest.fixture
def fresh_module(module):
    """A new module object made from the extension, not yet executed, and a way to execute it."""
    loader_entry = importlib.util.spec_from_file_location("tarnex", module.__file__)
    new = importlib.util.module_from_spec(loader_entry)
    return new, lambda: loader_entry.loader.exec_module(new)


def test_exec_makes_a_function_of_its_own(fresh_module, read):
    new, execute = fresh_module
    execute()
    assert new.__all__ == ["rust_read_vormant"]
    assert new.rust_read_vormant is not read
    assert new.rust_read_vormant.__module__ == "tarnex"


def test_function_module_is_the_name_at_exec_time(fresh_module):
    new, execute = fresh_module
    new.__name__ = "package.renamed"
    execute()
    assert new.rust_read_vormant.__module__ == "package.renamed"


@pytest.mark.parametrize("existing", [[], ["other"], ["rust_read_vormant"]])
def test_exec_appends_to_an_existing_list_without_looking(fresh_module, existing):
    new, execute = fresh_module
    names = list(existing)
    new.__all__ = names
    execute()
    assert new.__all__ is names
    assert names == existing + ["rust_read_vormant"]


def test_exec_uses_a_list_subclass_as_it_is(fresh_module):
    class Names(list):
        def append(self, value):
            raise AssertionError("the list is grown directly")

    new, execute = fresh_module
    names = Names()
    new.__all__ = names
    execute()
    assert new.__all__ is names
    assert list(names) == ["rust_read_vormant"]


@pytest.mark.parametrize("value, shown", [(("x",), "tuple"), ("x", "str"), (5, "int")])
def test_exec_rejects_an_all_of_another_type(fresh_module, value, shown):
    new, execute = fresh_module
    new.__all__ = value
    with pytest.raises(TypeError) as info:
        execute()
    assert str(info.value) == f"'{shown}' object is not an instance of 'list'"
    assert not hasattr(new, "rust_read_vormant")


def test_exec_reports_a_nameless_module(fresh_module):
    new, execute = fresh_module
    del new.__name__
    with pytest.raises(SystemError):
        execute()


class AllRaises(types.ModuleType):
    """A module whose __all__ lookup raises `all_error` and whose assignment can fail too."""

    @property
    def __all__(self):
        raise type(self).all_error

    @__all__.setter
    def __all__(self, value):
        if type(self).set_error is not None:
            raise type(self).set_error
        self.__dict__["stored_all"] = value


class MissingAttribute(AttributeError):
    pass


@pytest.mark.parametrize("lookup_error", [AttributeError("no all"), MissingAttribute("no all")])
def test_exec_creates_all_when_lookup_gives_attribute_error(fresh_module, lookup_error):
    new, execute = fresh_module
    new.__class__ = type("M", (AllRaises,), {"all_error": lookup_error, "set_error": None})
    execute()
    assert new.stored_all == ["rust_read_vormant"]
    assert callable(new.rust_read_vormant)


def test_exec_fails_with_other_lookup_errors(fresh_module):
    new, execute = fresh_module
    lookup_error = ValueError("lookup failed")
    new.__class__ = type("M", (AllRaises,), {"all_error": lookup_error, "set_error": None})
    with pytest.raises(ValueError) as info:
        execute()
    assert info.value is lookup_error


def test_exec_fails_when_the_new_all_cannot_be_set(fresh_module):
    new, execute = fresh_module
    set_error = RuntimeError("read-only")
    new.__class__ = type(
        "M", (AllRaises,), {"all_error": AttributeError("none"), "set_error": set_error}
    )
    with pytest.raises(RuntimeError) as info:
        execute()
    assert info.value is set_error


def test_exec_fails_when_the_function_cannot_be_set(fresh_module):
    class Guarded(types.ModuleType):
        def __setattr__(self, name, value):
            if name == "rust_read_vormant":
                raise PermissionError(name)
            super().__setattr__(name, value)

    new, execute = fresh_module
    new.__class__ = Guarded
    with pytest.raises(PermissionError):
        execute()
    assert new.__all__ == ["rust_read_vormant"]


def test_exec_turns_a_returning_panic_into_a_new_panic_exception(
    fresh_module, panic_exception, capfd
):
    original = panic_exception("raised by __all__")
    new, execute = fresh_module
    new.__class__ = type("M", (AllRaises,), {"all_error": original, "set_error": None})
    capfd.readouterr()
    with pytest.raises(panic_exception) as info:
        execute()
    assert info.value is not original
    assert info.value.args == ("raised by __all__",)
    err = capfd.readouterr().err
    assert "Python stack trace below:\n" in err
    assert "panicked at" not in err
