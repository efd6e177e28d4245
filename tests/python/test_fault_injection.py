"""The reader under injected system faults: interrupted calls, short reads, read errors, failing
writes to standard output and failing closes, put between the module and the C library by the
preloaded library of tests/fault_injection in a child interpreter."""

import errno
import json
import os
import re

import pytest

from reports import report_pattern

MARK = "fault-marked"
LIBRARY_NAME = "libtarnex_fault_injection.so"
COUNTERS = ("opens", "closes", "stale_closes", "reads", "injected_eintr")

# Runs the calls of argv[1], each [faults, path, width], with TARNEX_FI set to its faults, and
# writes per call the outcome and what the counters of the preloaded library moved by. Each
# call's output on descriptors 1 and 2 follows a step line of its own.
CHILD = """
import ctypes, json, os, sys, tarnex

library = ctypes.CDLL(os.environ["TARNEX_FI_LIBRARY"])
library.tarnex_fi_counter.restype = ctypes.c_long
library.tarnex_fi_counter.argtypes = [ctypes.c_char_p]
names = sys.argv[3].split(",")

def counters():
    return [library.tarnex_fi_counter(name.encode()) for name in names]

results = []
for number, (faults, path, width) in enumerate(json.loads(sys.argv[1])):
    os.write(1, b"<step %d>\\n" % number)
    os.write(2, b"<step %d>\\n" % number)
    os.environ["TARNEX_FI"] = faults
    before = counters()
    try:
        outcome = ["returned", repr(tarnex.rust_read_vormant(path, width))]
    except BaseException as error:
        outcome = [type(error).__name__, *error.args]
    os.environ["TARNEX_FI"] = ""
    moved = {name: after - earlier for name, after, earlier in zip(names, counters(), before)}
    results.append(dict(moved, outcome=outcome))
with open(sys.argv[2], "w") as out:
    json.dump(results, out)
"""


def panic_outcome(message):
    return ["PanicException", message]


@pytest.fixture(scope="module")
def interposer(module):
    folder = os.environ.get("TARNEX_MODULE_DIR") or os.path.dirname(module.__file__)
    path = os.path.join(os.path.abspath(folder), LIBRARY_NAME)
    if not os.path.exists(path):
        pytest.skip(f"{LIBRARY_NAME} is not next to the module in {folder}: fault injection "
                    "needs a build folder of the project (TARNEX_MODULE_DIR)")
    return path


class Step:
    def __init__(self, result, out, err):
        self.outcome = result.pop("outcome")
        self.counts = result
        self.out = out
        self.err = err


@pytest.fixture
def run_steps(interposer, run_python, monkeypatch, tmp_path):
    """Runs [(faults, path, width), ...] in one child with the faults library preloaded."""

    def run(steps):
        preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), interposer]))
        monkeypatch.setenv("LD_PRELOAD", preload)
        monkeypatch.setenv("TARNEX_FI_LIBRARY", interposer)
        monkeypatch.setenv("TARNEX_FI_MARK", MARK)
        results_path = tmp_path / "results.json"
        child = run_python(CHILD, json.dumps(steps), str(results_path), ",".join(COUNTERS))
        assert child.returncode == 0, child.err
        results = json.loads(results_path.read_text())
        outs = re.split(r"<step \d+>\n", child.out)
        errs = re.split(r"<step \d+>\n", child.err)
        assert outs[0] == "" and errs[0] == "" and len(outs) == len(errs) == len(steps) + 1
        return [Step(*parts) for parts in zip(results, outs[1:], errs[1:])]

    return run


@pytest.fixture
def marked_file(tmp_path):
    """Writes `content` to a new file whose path the faults library acts on."""
    counter = iter(range(1_000_000))

    def write(content):
        path = tmp_path / f"{MARK}-{next(counter)}.txt"
        path.write_bytes(content)
        return str(path)

    return write


def assert_closed_once(step, opened=1):
    counts = step.counts
    assert (counts["opens"], counts["closes"], counts["stale_closes"]) == (opened, opened, 0)


# --- interrupted calls, short reads and writes, failing closes change nothing -------------------


def blocks_file():
    """Twelve parameters in chunks of every size: a lead line longer than the 8192-byte read
    buffer, lines with carriage returns, values right up to the end of the file."""
    lines = [b"VORMANT plot 12"] + [b"parameter %d" % p for p in range(12)]
    for block in range(40):
        lead = b"x" * 20000 if block == 7 else b"  timestep %d\r" % block
        lines.append(lead)
        lines.append(b"".join(b"%12.5E" % (block * 1.25 - p * 0.5) for p in range(10)))
        lines.append(b"%12.5E%12.5E" % (block * 3.0, -block / 7))
    return b"\n".join(lines)


BAD_COUNT_TOKEN = b"12" + b"x" * 3000
FAULTLESS_FILES = {
    "blocks": (blocks_file(), 12, "returned"),
    "empty": (b"", 12, "Failed ot read line!"),
    "bad count": (b"title 12x\n", 12, "The first line should end with the number of parameters"),
    "long bad count": (b"title " + BAD_COUNT_TOKEN + b"\n", 12, "The first line should end"),
    "zero count": (b"\n", 12, "The number of parameters must be at least 1"),
    "missing name line": (b"3\na\n", 12, "Failed to read line!"),
    "invalid UTF-8": (b"2\nt\nv\nlead\n" + b"\xff" * 9000, 12, "Failed to read line!: Error"),
    "ends after lead line": (b"1\nt\nlead\n   1.0\nlead\n", 6, "Error reading line"),
    "empty field": (b"1\nt\nlead\n" + b" " * 12, 12, "Could not parse line"),
    "short value line": (b"2\nt\nv\nlead\n" + b"1" * 23, 12, "end byte index 24 is out of"),
    "missing": (None, 12, "Plot file not found!: Os { code: 2, kind: NotFound"),
    "directory": ("dir", 12, "Failed to read line!: Os { code: 21, kind: IsADirectory"),
}
# close-fail=4: the descriptor is gone, yet close says EINTR; closing again would be a fault.
FAULT_SETS = [
    "eintr",
    "read-bytes=1",
    "read-bytes=7 write-bytes=1",
    "eintr read-bytes=1 write-bytes=3",
    "close-fail=5",
    "close-fail=4 eintr",
]


def faultless_path(name, content, marked_file, tmp_path):
    if content is None:
        return str(tmp_path / f"{MARK}-missing" / "plot.txt")
    if content == "dir":
        folder = tmp_path / f"{MARK}-folder"
        folder.mkdir()
        return str(folder)
    return marked_file(content)


def test_faults_that_must_stay_invisible(read, run_steps, marked_file, tmp_path):
    steps, names = [], []
    for name, (content, width, _) in FAULTLESS_FILES.items():
        path = faultless_path(name, content, marked_file, tmp_path)
        for faults in ["", *FAULT_SETS]:
            steps.append((faults, path, width))
            names.append(name)
    results = run_steps(steps)

    for step, name, (faults, path, width) in zip(results, names, steps):
        content, _, expected_start = FAULTLESS_FILES[name]
        case = f"{name} with {faults!r}"
        assert_closed_once(step, opened=0 if content is None else 1)
        if faults == "":
            baseline = step
            if name == "blocks":
                assert step.outcome == ["returned", repr(read(path, width))]
            else:
                assert step.outcome[0] == "PanicException"
                assert step.outcome[1].startswith(expected_start), case
            continue
        # Byte for byte what the call gives without faults: result or message, the line on
        # standard output, the report on standard error.
        assert (step.outcome, step.out, step.err) == (baseline.outcome, baseline.out, baseline.err)
        if "eintr" in faults:
            assert step.counts["injected_eintr"] > 0, case
        if faults == "read-bytes=1" and name == "blocks":
            # One read per byte, and at least one more that finds the end of the file.
            assert step.counts["reads"] > len(content)


def test_reads_ask_for_8192_bytes_each(run_steps, marked_file):
    """Whoever watches the file's reads sees 8192 bytes asked each time, and one read more that
    finds the end of the file; the file sizes put the end just before, at and after a border."""
    content = blocks_file() + b"\n"
    sizes = [8192 * 5 + extra for extra in (-1, 0, 1)]
    paths = [marked_file(content.replace(b"x" * 20000, b"x" * (20000 + size - len(content))))
             for size in sizes]
    for step, size in zip(run_steps([("", path, 12) for path in paths]), sizes):
        assert step.outcome[0] == "returned"
        assert step.counts["reads"] == -(-size // 8192) + 1, size


# --- read errors --------------------------------------------------------------------------------

HEADER = b"2\ntime\nvalue\n"
BLOCK = b"lead\n         1.5        -2.0\n"

# (content, bytes delivered before the error, errno, its kind)
READ_ERRORS = [
    (HEADER + BLOCK, 0, errno.EIO, "Uncategorized"),
    (HEADER + BLOCK, 1, errno.EACCES, "PermissionDenied"),
    (HEADER + BLOCK, 2, errno.ENOMEM, "OutOfMemory"),  # right after the first line feed
    (HEADER + BLOCK, 5, errno.EAGAIN, "WouldBlock"),  # inside a parameter name line
    (HEADER + BLOCK, len(HEADER) + 5 + 12, errno.ESTALE, "StaleNetworkFileHandle"),
    # The line's bytes so far are not UTF-8: the read error is reported, not invalid data.
    (HEADER + b"lead\xff\xfe\n" + BLOCK, len(HEADER) + 6, errno.EIO, "Uncategorized"),
    # Every byte is there, the last line complete but for its line feed: the read that would
    # find the end of the file fails, and the line is lost with it.
    (HEADER + BLOCK[:-1], len(HEADER + BLOCK) - 1, errno.EISDIR, "IsADirectory"),
    # After the last block's line feed the next lead line's read fails: not the end of the file.
    (HEADER + BLOCK, len(HEADER + BLOCK), errno.ECONNRESET, "ConnectionReset"),
    (HEADER + BLOCK * 2000, 16384 + 3, errno.EINVAL, "InvalidInput"),
]


@pytest.mark.parametrize("chunking", ["", "read-bytes=1", "eintr read-bytes=5"])
def test_read_errors_end_the_call_and_lose_the_line(run_steps, marked_file, chunking):
    steps = [
        (f"{chunking} read-fail={code}@{after}", marked_file(content), 12)
        for content, after, code, _ in READ_ERRORS
    ]
    for step, (_, after, code, kind) in zip(run_steps(steps), READ_ERRORS):
        description = f'Os {{ code: {code}, kind: {kind}, message: "{os.strerror(code)}" }}'
        message = "Failed to read line!: " + description
        assert step.outcome == panic_outcome(message), (after, code)
        assert step.out == ""
        assert report_pattern(message).fullmatch(step.err)
        assert_closed_once(step)


# --- standard output fails ---------------------------------------------------------------------

SHORT = "12x"
LONG = "9" * 1999 + "x"  # 1024 bytes or more: written directly, not through the buffer
FILLING = "7" * 1015 + "x"  # with "Error: '" it fills the 1024-byte buffer exactly
LINE_END = "' is not a valid number of parameters!\n"
BUFFERED = "failed to write the buffered data"
DIRECT = "failed to write whole buffer"


def os_display(code):
    return f"{os.strerror(code)} (os error {code})"


# (token, faults, display text of the failure or None when the line is dropped silently,
# what reached descriptor 1). The writer's calls for "Error: '", the token and the rest: one
# for a short token, from the buffer; three for LONG (the buffered start, then the token and
# the rest directly, since nothing is buffered when they come); two for FILLING (the full
# buffer, then the rest through the buffer).
STDOUT_TOKENS = (SHORT, LONG, FILLING)
STDOUT_FAILURES = [
    (SHORT, "write-fail=zero@1", BUFFERED, ""),
    (SHORT, f"write-fail={errno.EPIPE}@1", os_display(errno.EPIPE), ""),
    (SHORT, f"write-fail={errno.ENOSPC}@1", os_display(errno.ENOSPC), ""),
    (SHORT, f"write-fail={errno.EIO}@1", os_display(errno.EIO), ""),
    (SHORT, f"write-fail={errno.EBADF}@1", None, ""),
    (SHORT, "eintr write-bytes=1 write-fail=zero@5", BUFFERED, "Erro"),
    (LONG, "write-fail=zero@1", BUFFERED, ""),
    (LONG, "write-fail=zero@2", DIRECT, "Error: '"),
    (LONG, "write-bytes=100 write-fail=zero@4", DIRECT, "Error: '" + LONG[:200]),
    (LONG, "write-fail=zero@3", DIRECT, "Error: '" + LONG),
    (LONG, f"write-fail={errno.EPIPE}@2", os_display(errno.EPIPE), "Error: '"),
    (LONG, f"write-fail={errno.EBADF}@2", None, "Error: '"),
    (FILLING, "write-fail=zero@2", BUFFERED, "Error: '" + FILLING),
    (FILLING, f"write-fail={errno.ENOSPC}@1", os_display(errno.ENOSPC), ""),
]


def test_standard_output_failures(run_steps, marked_file):
    files = {token: marked_file(f"plot {token}\r\nname\n".encode()) for token in STDOUT_TOKENS}
    steps = []
    for token, faults, _, _ in STDOUT_FAILURES:
        # Each failing call is followed by a faultless one on the same file: the failed line
        # leaves nothing behind in the writer to prefix the next.
        steps += [(faults, files[token], 12), ("", files[token], 12)]
    results = run_steps(steps)

    for (token, faults, display, printed), failing, clean in zip(
        STDOUT_FAILURES, results[::2], results[1::2]
    ):
        count_message = f"The first line should end with the number of parameters:\n'plot {token}'"
        message = count_message if display is None else "failed printing to stdout: " + display
        assert failing.outcome == panic_outcome(message), faults
        assert failing.out == printed, faults
        assert report_pattern(message).fullmatch(failing.err), faults
        assert clean.outcome == panic_outcome(count_message)
        assert clean.out == f"Error: '{token}{LINE_END}"
        assert_closed_once(failing)
        assert_closed_once(clean)
