"""Writes the seed corpora of the fuzz targets: tests/fuzz/corpus/reader, .../binary32,
.../fast_fields and .../range_reader.

Reader inputs start with two bytes that choose n_digits (see fuzz_reader.cpp): b"\\x00\\x00"
for 12, b"\\x01\\x00" for 15, b"\\xc0" and a byte for a small raw width. Then comes the file:
valid files of both versions, and one file for each way a read can fail.
Run from anywhere: python3 tests/fuzz/make_corpus.py
"""

from __future__ import annotations

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tools"))

from plotgen import e_field, plot_file_text  # noqa: E402

W12 = b"\x00\x00"
W15 = b"\x01\x00"
W0 = b"\x02\x00"
W_MAX = b"\x0c\x00"  # 2^64 - 1
W_LAST_FIELD_NEAR_2_64 = b"\x0d\x00"  # (2^64 - 1) / 9


def raw_width(width: int) -> bytes:
    return bytes([0xC0 | (width >> 8), width & 0xFF])


def header(parameters: int) -> str:
    return f" VORMANT PLOT FILE   RUN 0001   {parameters}\n" + "".join(
        f"PARAM{p:04d}\n" for p in range(parameters)
    )


def block(values: list[str]) -> str:
    lines = [" TIME STEP        1"]
    lines += ["".join(values[start:start + 10]) for start in range(0, len(values), 10)]
    return "\n".join(lines) + "\n"


def fields(count: int, width: int = 12) -> list[str]:
    return [e_field(0.5 * p - 1.0, width) for p in range(count)]


def reader_inputs() -> dict[str, bytes]:
    inputs = {}
    for width, prefix in ((12, W12), (15, W15)):
        for parameters in (1, 10, 11, 25):
            text = plot_file_text(parameters, steps=3, width=width, seed=parameters)
            inputs[f"valid-w{width}-p{parameters}"] = prefix + text.encode()
    crlf = plot_file_text(11, steps=2, width=12, seed=7).replace("\n", "\r\n")
    inputs["valid-crlf-w12-p11"] = W12 + crlf.encode()
    inputs["valid-header-only-p3"] = W12 + header(3).encode()
    inputs["valid-no-final-line-feed"] = W12 + (header(2) + block(fields(2))).rstrip("\n").encode()
    inputs["valid-raw-width-7"] = raw_width(7) + (header(3) + block(["  1.5e0"] * 3)).encode()
    inputs["valid-header-only-width-0"] = W0 + header(2).encode()

    good = header(3) + block(fields(3))
    inputs["fail-empty-file"] = W12
    inputs["fail-bad-count"] = W12 + b" VORMANT PLOT FILE   RUN 0001   12a\nTIME\n"
    inputs["fail-minus-count"] = W12 + b"RUN -3\n"
    inputs["fail-blank-first-line"] = W12 + b" \t \nTIME\n"
    inputs["fail-zero-count"] = W12 + b"PLOT +0\n"
    inputs["fail-missing-name-line"] = W12 + header(5).encode().rsplit(b"PARAM", 1)[0]
    inputs["fail-invalid-utf8-header"] = W12 + b"PLOT \xc0\x80 2\nTIME\nA\n"
    inputs["fail-invalid-utf8-block"] = W12 + good.encode() + b" TIME STEP 2 \xed\xa0\x80\n"
    inputs["fail-lead-line-without-values"] = W12 + good.encode() + b"\n"
    first_value_line = "".join(fields(10))
    inputs["fail-missing-second-value-line"] = W12 + (
        header(11) + " TIME STEP\n" + first_value_line + "\n").encode()
    inputs["fail-short-value-line"] = W12 + (header(3) + block(fields(3))[:-2] + "\n").encode()
    inputs["fail-line-ends-at-field-border"] = W12 + (header(3) + " TIME STEP\n 1.00000E+00\n").encode()
    accented = " 1.00000E+0\u00e9 2.00000E+00 3.00000E+00"
    inputs["fail-character-across-border"] = W12 + (header(3) + " TIME\n" + accented + "\n").encode()
    inputs["fail-blank-field"] = W12 + (header(2) + " TIME\n 1.00000E+00            \n").encode()
    inputs["fail-fortran-d-exponent"] = W12 + (header(2) + " TIME\n 1.00000D+00 2.00000E+00\n").encode()
    inputs["fail-width-0"] = W0 + good.encode()
    inputs["fail-width-max"] = W_MAX + good.encode()
    inputs["fail-width-last-field-near-2-64"] = W_LAST_FIELD_NEAR_2_64 + good.encode()
    return inputs


def binary32_inputs() -> dict[str, bytes]:
    texts = {
        "one": "1.0E+00", "tenth": "0.1", "tie-to-even": "16777217", "largest": "3.4028235e38",
        "largest-upper": "3.40282356e38", "overflow": "3.40282357e38", "underflow": "1e-46",
        "smallest-subnormal": "1.4e-45", "negative-zero": "-0.0", "inf": "INF",
        "minus-infinity": "-Infinity", "nan": "nAn", "fortran-d": "1.0D+00",
        "exponent-without-letter": "1.0+100", "empty": "", "minus": "-", "plus": "+", "dot": ".",
        "trailing-dot": "5.", "leading-dot": ".5", "bare-e": "1e", "e-sign": "1e+",
        "hexadecimal": "0x1p3", "comma": "1,5", "nan-payload": "nan(1)", "infinit": "infinit",
        "long-exponent": "1e" + "0" * 40 + "1",
        "held-exponent": "0." + "0" * 300 + "1e100000" + "9" * 5,
        "many-digits": "1.00000005960464477539062500000000000000000000000000001",
        "subnormal-midpoint": "7.00649232162408535461864791644958065640130970938257885878534141944895541342930300743319094181060791015625e-46",
        "field-e12": " 1.23457E+02", "field-e12-negative": "-7.08844E+06",
        "field-e15": " 1.23456789E-39", "field-e15-subnormal": "-1.40129846E-45",
        "field-padded": "   -0.5e0   ", "field-ideographic-space": "\u30001.5\u3000",
    }
    return {name: text.encode() for name, text in texts.items()}


def fast_fields_inputs() -> dict[str, bytes]:
    """A byte for width (bit 0: 15) and count (bits above: count - 1), then the line."""
    inputs = {}
    for width, width_bit in ((12, 0), (15, 1)):
        values = [0.5 * p - 1.0 for p in range(10)] + [2.82518e8, -1.17549e-38, 3.40282e38, 1e-45]
        for count in (1, 3, 10):
            line = "".join(e_field(v, width) for v in values[:count])
            inputs[f"w{width}-c{count}"] = bytes([width_bit | (count - 1) << 1]) + line.encode()
        edges = "".join(e_field(v, width) for v in values[10:])
        inputs[f"w{width}-edges"] = bytes([width_bit | 3 << 1]) + edges.encode()
        broken = e_field(1.5, width) + e_field(-2.5, width).replace("E", "e") + e_field(3.0, width)
        inputs[f"w{width}-broken"] = bytes([width_bit | 2 << 1]) + broken.encode()
    return inputs


def selection(width: int | None = 12, threads: int = 1, mode: int = 0, first: int = 0,
              stride: int = 1, count: int = 255, columns: int = 0, seed: int = 0) -> bytes:
    """The eight bytes that choose a read of fuzz_range_reader.cpp: mode 0 reads everything, 1
    every column of some steps, 2 some columns of some steps, 3 some columns of every step."""
    width_byte = {None: 0, 12: 1, 15: 2}[width]
    return bytes([width_byte, (threads - 1) + 3 * mode, first, stride & 0xFF, count, columns,
                  seed & 0xFF, seed >> 8])


def range_reader_inputs() -> dict[str, bytes]:
    inputs = {}
    for width in (12, 15):
        for parameters in (1, 10, 11, 25):
            text = plot_file_text(parameters, steps=7, width=width, seed=parameters)
            if parameters > 10:
                read = selection(width, mode=2, first=1, stride=2, columns=5, seed=77)
            else:
                read = selection(width, mode=1, first=6, stride=-1, threads=3)
            inputs[f"valid-w{width}-p{parameters}"] = read + text.encode()

    # 25 parameters: a header of 26 lines, then steps of a lead line and three value lines, step
    # k's lead line at index 26 + 4 k.
    lines = plot_file_text(25, steps=20, width=12, seed=3).split("\n")

    def text(changes: dict[int, str] | None = None, eol: str = "\n") -> bytes:
        changed = [(changes or {}).get(index, line) for index, line in enumerate(lines)]
        return eol.join(changed).encode(errors="surrogateescape")

    def replaced(index: int, column: int, new: str) -> str:
        return lines[index][:column] + new + lines[index][column + len(new):]

    everything = selection(None, threads=2)
    backwards = selection(mode=1, first=19, stride=-1, count=20, threads=3)
    strided = selection(mode=2, first=1, stride=3, columns=5, seed=77)
    columns = selection(mode=3, columns=8, seed=4242, threads=2)
    # Spare bytes after the fields of some last value lines: those steps are read line by line.
    spare = {index: lines[index] + "  #" * (index % 3 + 1) for index in range(33, 100, 8)}
    inputs["spare-bytes-columns"] = columns + text(spare)
    inputs["crlf-backwards"] = backwards + text(eol="\r\n")
    inputs["no-final-line-feed-everything"] = everything + text().rstrip(b"\n")
    inputs["ends-inside-step-everything"] = everything + text() + b" TIME STEP\n"
    inputs["ends-inside-step-strided"] = strided + text() + (" TIME STEP\n" + lines[27]).encode()

    inputs["fault-bad-field-backwards"] = backwards + text({44: replaced(44, 36, " 1.2.3 ")})
    inputs["fault-blank-field-strided"] = strided + text({43: replaced(43, 0, " " * 12)})
    inputs["fault-short-line-columns"] = columns + text({45: lines[45][:30]})
    inputs["fault-invalid-utf8-everything"] = everything + text({44: replaced(44, 5, "\udcff")})
    inputs["fault-invalid-utf8-lead-line"] = selection(mode=1, first=2, count=5) + text(
        {42: lines[42] + "\udcc3("})
    several = {43: replaced(43, 0, " " * 12), 63: replaced(63, 20, "x"), 71: lines[71][:40]}
    inputs["faults-several-backwards"] = backwards + text(several)
    inputs["faults-several-strided"] = selection(mode=2, first=17, stride=-2, columns=3,
                                                 seed=9) + text(several)
    return inputs


def write(folder: pathlib.Path, inputs: dict[str, bytes]) -> None:
    """Writes the generated inputs; other files there (crash reproducers) stay."""
    folder.mkdir(parents=True, exist_ok=True)
    for name, content in inputs.items():
        (folder / name).write_bytes(content)


def main() -> None:
    write(HERE / "corpus" / "reader", reader_inputs())
    write(HERE / "corpus" / "binary32", binary32_inputs())
    write(HERE / "corpus" / "fast_fields", fast_fields_inputs())
    write(HERE / "corpus" / "range_reader", range_reader_inputs())


if __name__ == "__main__":
    main()
