"""The package as users get it: `pip wheel .` with build isolation, installed into a fresh
virtual environment of the interpreter running these tests, then used and type-checked there.

Slow (a full build, and mypy from the registry), so these tests run once per interpreter, apart
from the suite of tests/python that runs against every build.
"""

import importlib.machinery
import json
import math
import pathlib
import struct
import sys
import textwrap
import tomllib
import zipfile

import pytest

from commands import run, run_ok

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "samples"
STUB = ROOT / "stubs" / "tarnex-stubs" / "__init__.pyi"
USAGE_SAMPLE = pathlib.Path(__file__).resolve().with_name("usage_sample.py")
VORMANT_USAGE = pathlib.Path(__file__).resolve().with_name("vormant_usage.py")
VORMANT_SOURCES = ROOT / "python" / "vormant"
VERSION = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]

# Per sample: width, time steps, columns after the time, and fields as written in the file at
# (column, time step), column -1 being the time.
SAMPLE_FACTS = {
    "plot-6digits.txt": (12, 40, 11, {
        (-1, 1): "1.00000E-03",
        (-1, -1): "3.90000E-02",
        (0, 0): "-0.00000E+00",
        (0, 1): "-8.46832E+02",
        (1, 0): "8.21954E-39",
        (9, 0): "-7.08844E+06",
        (9, -1): "-9.80651E+23",
        (10, -1): "3.03118E-03",
    }),
    "plot-9digits.txt": (15, 30, 22, {
        (-1, -1): "2.90000000E-02",
        (1, 0): "6.13215620E-39",
        (2, -1): "-3.69811034E+24",
        (19, 0): "9.75820518E-03",
        (21, 0): "-0.00000000E+00",
        (21, -1): "-2.94422736E+02",
    }),
}

# Run in the new environment with -I: only its own site-packages, nothing from the working
# folder or PYTHONPATH. Prints what the test checks as JSON.
SMOKE = textwrap.dedent("""
    import importlib.metadata, json, sys
    import tarnex

    def field(data, column, step):
        time, columns = data
        return (time if column == -1 else columns[column])[step]

    facts = json.loads(sys.argv[1])
    report = {"file": tarnex.__file__, "prefix": sys.prefix,
              "version": importlib.metadata.version("tarnex"), "samples": {}}
    for name, (path, width, wanted) in facts.items():
        data = tarnex.rust_read_vormant(path, width)
        report["samples"][name] = {
            "steps": [len(data[0])] + [len(column) for column in data[1]],
            "fields": [field(data, column, step) for column, step in wanted],
        }
    try:
        tarnex.rust_read_vormant(sys.argv[2], 12)
    except BaseException as caught:
        kind = type(caught)
        report["failure"] = [kind.__module__, kind.__qualname__, isinstance(caught, Exception),
                             list(caught.args)]
    print(json.dumps(report))
""")

# Misuses the stub must reject: (name, code, mypy error code).
MISUSES = [
    ("width_as_text", 'tarnex.rust_read_vormant("run.plt", "12")', "arg-type"),
    ("path_object", 'tarnex.rust_read_vormant(pathlib.Path("run.plt"), 12)', "arg-type"),
    ("width_missing", 'tarnex.rust_read_vormant("run.plt")', "call-arg"),
    ("keyword_misspelt", 'tarnex.rust_read_vormant("run.plt", digits=12)', "call-arg"),
    ("value_as_text", 'text: str = tarnex.rust_read_vormant("run.plt", 12)[0][0]', "assignment"),
    ("three_items", 'a, b, c = tarnex.rust_read_vormant("run.plt", 12)', "misc"),
    ("unknown_name", 'tarnex.read_vormant("run.plt", 12)', "attr-defined"),
]

# The same for vormant's inline types.
VORMANT_MISUSES = [
    ("width_as_text", 'vormant.read("run.plt", "12")', "arg-type"),
    ("path_as_number", "vormant.read(7)", "arg-type"),
    ("names_as_list", 'names: list[str] = vormant.read("run.plt").names', "assignment"),
    ("values_as_text", 'text: str = vormant.read("run.plt").values', "assignment"),
    ("workers_positional", 'vormant.read_many(["a"], 12, 4)', "call-overload"),
    ("errors_unknown", 'vormant.read_many(["a"], errors="ignore")', "call-overload"),
    ("error_without_line", 'vormant.PlotFileError("bad", "run.plt")', "call-arg"),
    ("line_as_text", 'text: str = vormant.PlotFileError("bad", "run.plt", 3).line', "assignment"),
]


def pip(*args):
    return [sys.executable, "-m", "pip", "--disable-pip-version-check", *args]


def binary32(text):
    return struct.unpack("<f", struct.pack("<f", float(text)))[0]


def same_float(a, b):
    """Equal as bits of a binary64: tells -0.0 from 0.0, and NaN equals itself."""
    return struct.pack("<d", a) == struct.pack("<d", b)


@pytest.fixture(scope="session")
def wheel(tmp_path_factory):
    """The wheel of the working tree, built as pip builds it: in a temporary folder, so that
    two builds from one checkout at once cannot break each other."""
    work = tmp_path_factory.mktemp("wheel")
    before = set(ROOT.glob("build/*"))
    run_ok(pip("wheel", ROOT, "--wheel-dir", work / "dist"))
    assert set(ROOT.glob("build/*")) <= before, "the build wrote into the checkout"
    wheels = list((work / "dist").glob("tarnex-*.whl"))
    assert len(wheels) == 1, wheels
    return wheels[0]


@pytest.fixture(scope="session")
def venv(wheel, tmp_path_factory):
    """A new virtual environment of this interpreter holding only the wheel.

    Made without pip (ensurepip is not usable on every interpreter this runs on) and filled by
    this interpreter's pip, pointed at it with --python.
    """
    folder = tmp_path_factory.mktemp("venv") / "env"
    run_ok([sys.executable, "-m", "venv", "--without-pip", folder])
    python = folder / "bin" / "python"
    run_ok(pip("--python", python, "install", "--no-index", wheel))
    return folder


@pytest.fixture(scope="session")
def venv_python(venv):
    return venv / "bin" / "python"


@pytest.fixture(scope="session")
def mypy(venv_python, tmp_path_factory):
    """Runs mypy of the test environment with a cache shared by the tests."""
    run_ok(pip("--python", venv_python, "install", "mypy"))
    cache = tmp_path_factory.mktemp("mypy-cache")

    def check(*args, cwd):
        return run([venv_python, "-I", "-m", "mypy", "--strict", "--cache-dir", cache, *args],
                   cwd=cwd)

    return check


def test_wheel_holds_the_modules_the_stubs_and_vormant(wheel):
    dist_info = f"tarnex-{VERSION}.dist-info"
    suffix = importlib.machinery.EXTENSION_SUFFIXES[0]
    module = "tarnex" + suffix
    reader = "vormant/_reader" + suffix
    sources = sorted(f"vormant/{path.name}" for path in VORMANT_SOURCES.iterdir()
                     if path.is_file())
    with zipfile.ZipFile(wheel) as archive:
        assert sorted(archive.namelist()) == sorted([
            module,
            reader,
            *sources,
            "tarnex-stubs/__init__.pyi",
            f"{dist_info}/METADATA",
            f"{dist_info}/WHEEL",
            f"{dist_info}/RECORD",
            f"{dist_info}/entry_points.txt",
        ])
        assert archive.read("tarnex-stubs/__init__.pyi") == STUB.read_bytes()
        for source in sources:
            assert archive.read(source) == (ROOT / "python" / source).read_bytes()
        assert archive.getinfo(module).file_size > 0
        assert archive.getinfo(reader).file_size > 0
        entry_points = archive.read(f"{dist_info}/entry_points.txt").decode()
        assert "vormant = vormant.cli:main" in entry_points
        metadata = archive.read(f"{dist_info}/METADATA").decode()
        for extra in ("numpy", "pandas", "parquet", "dask", "progress", "plot", "arrow", "polars",
                      "xarray"):
            assert f"Provides-Extra: {extra}" in metadata


def test_installed_module_reads_the_samples(venv, venv_python, tmp_path):
    facts = {name: (str(SAMPLES / name), width, list(fields))
             for name, (width, _, _, fields) in SAMPLE_FACTS.items()}
    missing = tmp_path / "no-such-plot-file.txt"
    completed = run_ok([venv_python, "-I", "-c", SMOKE, json.dumps(facts), missing], cwd=tmp_path)
    report = json.loads(completed.stdout)

    location = pathlib.Path(report["file"]).resolve()
    assert location.is_relative_to(venv.resolve())
    assert location.parent.name == "site-packages"
    assert pathlib.Path(report["prefix"]).resolve() == venv.resolve()
    assert report["version"] == VERSION

    for name, (_, steps, n_columns, fields) in SAMPLE_FACTS.items():
        got = report["samples"][name]
        assert got["steps"] == [steps] * (n_columns + 1), name
        for (where, text), value in zip(fields.items(), got["fields"]):
            assert same_float(value, binary32(text)), (name, where, text, value)

    module, name, is_exception, args = report["failure"]
    assert (module, name, is_exception) == ("pyo3_runtime", "PanicException", False)
    assert len(args) == 1 and args[0].startswith("Plot file not found!")
    assert "Plot file not found!" in completed.stderr


@pytest.mark.parametrize("name", sorted(SAMPLE_FACTS))
def test_usage_sample_runs(venv_python, tmp_path, name):
    width, steps, n_columns, _ = SAMPLE_FACTS[name]
    completed = run_ok([venv_python, "-I", USAGE_SAMPLE, SAMPLES / name, width], cwd=tmp_path)
    lines = completed.stdout.splitlines()
    assert lines[0].startswith(f"{n_columns + 1} parameters, {steps} time steps over ")
    assert len(lines) == n_columns + 1
    assert all(not math.isnan(float(line.split()[3].rstrip(","))) for line in lines[1:])


def test_installed_vormant_reads_the_samples(venv, venv_python, tmp_path):
    samples = [SAMPLES / name for name in sorted(SAMPLE_FACTS)]
    completed = run_ok([venv_python, "-I", VORMANT_USAGE, *samples], cwd=tmp_path)
    lines = completed.stdout.splitlines()
    for line, name in zip(lines, sorted(SAMPLE_FACTS)):
        _, steps, n_columns, _ = SAMPLE_FACTS[name]
        assert line.startswith(f"{SAMPLES / name}: {n_columns + 1} parameters, {steps} time steps")
    assert lines[len(samples):] == ["failed: FileNotFoundError"]
    where = run_ok([venv_python, "-I", "-c", "import vormant._reader as r; print(r.__file__)"],
                   cwd=tmp_path)
    assert pathlib.Path(where.stdout.strip()).resolve().is_relative_to(venv.resolve())


def test_console_script_runs(venv, tmp_path):
    completed = run_ok([venv / "bin" / "vormant", "info", SAMPLES / "plot-6digits.txt"],
                       cwd=tmp_path)
    assert completed.stdout.splitlines()[1] == "  width 12, 40 time steps, 12 parameters"
    completed = run([venv / "bin" / "vormant", "info", tmp_path / "missing.txt"], cwd=tmp_path)
    assert completed.returncode == 1
    assert completed.stderr == f"vormant: error: {tmp_path / 'missing.txt'}: No such file or directory\n"


@pytest.mark.parametrize("sample", [USAGE_SAMPLE, VORMANT_USAGE], ids=["tarnex", "vormant"])
def test_usage_sample_type_checks_against_the_stubs(mypy, tmp_path, sample):
    completed = mypy(sample, cwd=tmp_path)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    assert completed.stdout.startswith("Success")


@pytest.mark.parametrize("module, misuses", [("tarnex", MISUSES), ("vormant", VORMANT_MISUSES)])
def test_stubs_reject_misuse(mypy, tmp_path, module, misuses):
    for name, code, _ in misuses:
        (tmp_path / f"misuse_{name}.py").write_text(f"import pathlib\nimport {module}\n{code}\n")
    completed = mypy(*sorted(tmp_path.glob("misuse_*.py")), cwd=tmp_path)
    assert completed.returncode == 1, completed.stdout + completed.stderr
    errors = {}
    for line in completed.stdout.splitlines():
        if ": error: " in line:
            file = pathlib.Path(line.split(".py:")[0]).name
            errors.setdefault(file, []).append(line.rsplit("[", 1)[-1].rstrip("]"))
    assert errors == {f"misuse_{name}": [error_code] for name, _, error_code in misuses}


@pytest.mark.usefixtures("mypy")
@pytest.mark.parametrize("module", ["tarnex", "vormant"])
def test_stubs_match_the_installed_module(venv_python, tmp_path, module):
    completed = run([venv_python, "-I", "-m", "mypy.stubtest", module], cwd=tmp_path)
    assert completed.returncode == 0, completed.stdout + completed.stderr
