"""What the modules make of a fixed set of plot files, to be held equal across processors.

Each case reads files made here (the bundled samples, generated files of every number shape,
broken files) through `tarnex.rust_read_vormant` or `vormant.read`, and gives a plain record:
the values as the bits of each float, or the exception's type and text with the fatal report's
shape. Run as a script on the reference machine, it writes every record to a JSON file:

    python port_cases.py EXPECTED.json

test_port.py computes the same records wherever it runs and compares them with that file.
Only the standard library is used: the emulated interpreter has nothing else.
"""

import hashlib
import json
import math
import os
import platform
import random
import re
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import plotgen  # noqa: E402  (the generator of realistic plot files)

SAMPLES = {"plot-6digits.txt": 12, "plot-9digits.txt": 15}

# --- files --------------------------------------------------------------------------------


def plot_text(rows, width, count, lead="lead"):
    """A plot file of `count` parameters whose blocks hold `rows` (lists of field texts)."""
    lines = [f"PLOT {count}"] + [f"P{index}" for index in range(count)]
    for row in rows:
        lines.append(lead)
        for start in range(0, len(row), 10):
            lines.append("".join(text.rjust(width) for text in row[start:start + 10]))
    return "\n".join(lines) + "\n"


def random_binary32(rng):
    """Any finite binary32 value, subnormals included, uniformly over its bit patterns."""
    while True:
        value = struct.unpack("<f", rng.getrandbits(32).to_bytes(4, "little"))[0]
        if math.isfinite(value):
            return value


# Every way a field may write a number: E fields of the two file versions, other exponent
# forms, plain decimals and integers, signs, and the words for infinities and NaN.
SHAPES = {
    "e6": lambda v: f"{v:.5E}",
    "e9": lambda v: f"{v:.8E}",
    "shortest": lambda v: repr(struct.unpack("<f", struct.pack("<f", v))[0]),
    "lower_e": lambda v: f"{v:.6e}".replace("e+", "e"),
    "plus_sign": lambda v: f"{abs(v):+.4E}",
    "plain": lambda v: f"{v:.6f}",
    "integer": lambda v: str(int(v) % 100_000_000),
    "nine_digits": lambda v: f"{v:.9g}",
}
SPECIAL_TEXTS = ["0.1", "-0.0", "+1.5e3", "16777217", "3.4028235e38", "3.5e38", "-Infinity",
                 "inf", "1e-46", "-1e-46", "1.4e-45", "nAn", "-nan", "1.00000005960464477539",
                 "1.0000000596046447753906251", "0.000000000000000000000000000000000000011754943"]


def shape_rows(shape, width, seed):
    rng = random.Random(seed)
    values = [random_binary32(rng) if index % 2 else rng.uniform(-1e3, 1e3)
              for index in range(24 * 25)]
    texts = [SHAPES[shape](value)[:width - 1] if shape != "e9" else SHAPES[shape](value)
             for value in values]
    return [texts[start:start + 25] for start in range(0, len(texts), 25)]


def value_files():
    """(name, text, width) of every file whose values are compared."""
    files = []
    for parameters, steps, width, seed in [(12, 40, 12, 1), (40, 30, 15, 2), (1, 50, 12, 3),
                                           (11, 25, 15, 4), (23, 60, 12, 5)]:
        files.append((f"plotgen-{parameters}x{steps}-w{width}",
                      plotgen.plot_file_text(parameters, steps, width, seed), width))
    for shape in SHAPES:
        width = 20 if shape in ("e9", "plain", "nine_digits") else 15
        files.append((f"shape-{shape}", plot_text(shape_rows(shape, width, len(files)), width, 25),
                      width))
    for width in (12, 15):
        rows = [SPECIAL_TEXTS[i:] + SPECIAL_TEXTS[:i] for i in range(len(SPECIAL_TEXTS))]
        files.append((f"special-w{width}", plot_text([[t[:width - 1] for t in row] for row in rows],
                                                     width, len(SPECIAL_TEXTS)), width))
    files.append(("crlf", plot_text(shape_rows("e6", 12, 99), 12, 25).replace("\n", "\r\n"), 12))
    return files


NOT_A_NUMBER_LINE = b"11\n" + b"n\n" * 11 + b"lead\n" + b"1.0 " * 10 + b"\n"
# Files every one of which the reader refuses, each with its own message.
BROKEN_FILES = {
    "empty": (b"", 12),
    "count-word": (b"title x\nname\n", 12),
    "count-decimal": (b"  two words  1.0\r\n", 12),
    "names-missing": (b"3\nname\nname\n", 12),
    "utf8-first-line": (b"\xff 2\n", 12),
    "utf8-name": (b"2\nt\n\xc0\x80\n", 12),
    "block-lead-only": (b"1\nt\nlead\n", 12),
    "block-empty-line": (b"1\nt\nlead\n         5.0\n\n", 12),
    "block-short-fields": (NOT_A_NUMBER_LINE, 4),
    "field-blank": (b"1\nt\nlead\n            \n", 12),
    "field-fortran-d": (b"1\nt\nlead\n     1.0D+00\n", 12),
    "field-inner-space": (b"2\nt\nv\nlead\n  1.0  1 0\n", 5),
    "field-past-line": (b"1\nt\nlead\n12345678\n", 12),
    "field-past-second": (b"3\nt\nu\nv\nlead\n" + b"1".rjust(12) * 2 + b"\n", 12),
    "field-in-character": ("2\nt\nv\nlead\na\u00e9x\n".encode(), 2),
    # The widest width and the narrowest: a field ending at the top of 64 bits, empty fields.
    "width-largest": (b"2\nt\nv\nlead\n 1.0 2.0\n", 2**64 - 1),
    "width-zero": (b"1\nt\nlead\n 1.0\n", 0),
}

# --- records ------------------------------------------------------------------------------


def float_bits(values):
    """The values' binary64 bits, in order, as one digest: equal digests, equal bits."""
    return hashlib.sha256(struct.pack(f"<{len(values)}d", *values)).hexdigest()


def tarnex_record(result):
    time, columns = result
    return {"time": [len(time), float_bits(time)],
            "columns": [[len(column), float_bits(column)] for column in columns]}


def vormant_record(plot):
    values = plot.values
    return {"names": list(plot.names), "shape": list(values.shape),
            "values": hashlib.sha256(values.tobytes()).hexdigest()}


class CapturedDescriptors:
    """What the module writes to descriptors 1 and 2 (not through sys.stdout) while open."""

    def __enter__(self):
        self.files = [tempfile.TemporaryFile() for _ in range(2)]
        self.saved = [os.dup(1), os.dup(2)]
        for descriptor, file in zip((1, 2), self.files):
            os.dup2(file.fileno(), descriptor)
        return self

    def __exit__(self, *_):
        self.texts = []
        for descriptor, saved, file in zip((1, 2), self.saved, self.files):
            os.dup2(saved, descriptor)
            os.close(saved)
            file.seek(0)
            self.texts.append(file.read().decode("utf-8", "replace"))
            file.close()
        return False


def failure_record(call, folder):
    """The exception of `call` as type and text, with what went to descriptors 1 and 2; the
    folder's path and the report's thread id (the same shape, other digits) made neutral."""
    with CapturedDescriptors() as captured:
        try:
            call()
        except BaseException as error:  # noqa: B036  (PanicException is a BaseException)
            caught = error
        else:
            caught = None
    if caught is None:
        return {"error": None}
    out, err = captured.texts
    err = re.sub(r"^\nthread '<unnamed>' \(\d+\) panicked at ", "\nthread '<unnamed>' (ID) "
                 "panicked at ", err)
    return {"error": type(caught).__name__,
            "args": [str(arg).replace(folder, "DIR") for arg in caught.args],
            "stdout": out, "stderr": err}


# --- the cases ----------------------------------------------------------------------------


def write(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(content.encode() if isinstance(content, str) else content)
    return path


def cases():
    """{name: function(folder) -> record} of every case."""
    import tarnex
    import vormant

    found = {}
    samples = [(name, open(os.path.join(ROOT, "samples", name)).read(), width)
               for name, width in SAMPLES.items()]
    for name, text, width in samples + value_files():
        def read_values(folder, name=name, text=text, width=width):
            return tarnex_record(tarnex.rust_read_vormant(write(folder, name, text), width))

        found[f"values:{name}"] = read_values
        if width in (12, 15):
            def read_plot(folder, name=name, text=text, width=width):
                path = write(folder, name, text)
                whole = vormant.read(path, n_digits=width)
                split = vormant.read(path, n_digits=width, threads=2)
                last = len(whole.names) - 1
                chosen = [last, 1] if last > 1 else None
                part = vormant.read(path, width, columns=chosen, steps=slice(3, None, 2))
                return [vormant_record(plot) for plot in (whole, split, part)]

            found[f"vormant:{name}"] = read_plot
    for name, (content, width) in BROKEN_FILES.items():
        def fail_tarnex(folder, name=name, content=content, width=width):
            path = write(folder, name, content)
            return failure_record(lambda: tarnex.rust_read_vormant(path, width), folder)

        def fail_vormant(folder, name=name, content=content, width=width):
            path = write(folder, name, content)
            n_digits = width if width in (12, 15) else None
            return failure_record(lambda: vormant.read(path, n_digits), folder)

        found[f"panic:{name}"] = fail_tarnex
        found[f"vormant-error:{name}"] = fail_vormant
    for name, path in [("missing", "DIR/missing.txt"), ("not-a-folder", "DIR/file/plot.txt"),
                       ("nul-byte", "DIR/plot\0.txt"), ("a-folder", "DIR")]:
        def fail_open(folder, path=path):
            write(folder, "file", "1\n")
            real = path.replace("DIR", folder)
            return [failure_record(lambda: tarnex.rust_read_vormant(real, 12), folder),
                    failure_record(lambda: vormant.read(real), folder)]

        found[f"open:{name}"] = fail_open
    return found


def record(name, function):
    """The record of one case, made in a folder of its own."""
    with tempfile.TemporaryDirectory() as folder:
        return function(os.path.realpath(folder))


def main(argv):
    found = cases()
    records = {name: record(name, function) for name, function in found.items()}
    with open(argv[1], "w") as out:
        json.dump({"machine": platform.machine(), "records": records}, out, indent=1)
    print(f"port_cases: {len(records)} records of {platform.machine()} in {argv[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
