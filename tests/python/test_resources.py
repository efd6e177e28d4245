"""What a call holds is released on every way out: descriptors, memory, references."""

import os
import sys

import pytest
from leak_check import assert_nothing_leaks, needs_debug_interpreter


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


# A capped address space leaves no room for a sanitizer runtime's shadow memory.
address_space_cap = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the address space cannot be capped under AddressSanitizer",
)


@pytest.mark.parametrize(
    "content, width",
    [
        (b"", 12),
        (b"title x\n", 12),
        (b"3\na\n", 12),
        (b"\xff\n", 12),
        (b"1\nt\nlead\n", 12),
        (b"1\nt\nlead\n    \n", 4),
        (b"1\nt\nlead\n1.0\n", 12),
        (b"1\nt\nlead\n1.0\n", 3),
    ],
)
def test_no_descriptor_is_left_open(read, plot_file, content, width):
    path = plot_file(content)
    before = open_descriptors()
    for _ in range(20):
        try:
            read(path, width)
        except BaseException:  # noqa: B036
            pass
    assert open_descriptors() == before


def test_no_descriptor_is_left_open_by_a_directory(read, tmp_path):
    before = open_descriptors()
    for _ in range(20):
        with pytest.raises(BaseException):
            read(str(tmp_path), 12)
    assert open_descriptors() == before


# A child that reads argv[1] (big) under a capped address space, then argv[2] (small).
CAPPED_CHILD = """
import os, resource, sys, tarnex

def cap_address_space(room_in_mib):
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
    limit = size + room_in_mib * 1024 * 1024
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

big, small = sys.argv[1], sys.argv[2]
"""

SMALL_FILE = "2\nt\nv\nlead\n         1.5        -2.0\n"

MEMORY_REFUSED = CAPPED_CHILD + """
descriptors = len(os.listdir("/proc/self/fd"))
# Room for the interpreter to go on, not for the reader's values of the big file.
cap_address_space(48)
for _ in range(3):
    try:
        tarnex.rust_read_vormant(big, 1)
        print("returned")
    except BaseException as e:
        print(type(e).__name__, e.args)
print(tarnex.rust_read_vormant(small, 12))
print(len(os.listdir("/proc/self/fd")) == descriptors)
"""


@address_space_cap
def test_memory_refused_is_memory_error_and_the_interpreter_goes_on(run_python, tmp_path):
    # Sixteen million one-byte values: 64 MB as binary32, more than the reader is given.
    big = tmp_path / "big.txt"
    with open(big, "wb") as out:
        out.write(b"1\nt\n")
        out.write(b"\n5\n" * 16_000_000)
    small = tmp_path / "small.txt"
    small.write_text(SMALL_FILE)
    child = run_python(MEMORY_REFUSED, str(big), str(small))
    assert child.returncode == 0, child.err
    assert child.out == "MemoryError ()\n" * 3 + "([1.5], [[-2.0]])\nTrue\n"
    assert child.err == ""


INTERPRETER_MEMORY_REFUSED = CAPPED_CHILD + """
# Room for the reader's binary32 values, not for the floats and lists made from them.
cap_address_space(96)
blocks = []
for _ in range(2):
    try:
        tarnex.rust_read_vormant(big, 1)
        print("returned")
    except BaseException as e:
        print(type(e).__name__, e.args)
    blocks.append(sys.getallocatedblocks())
print(tarnex.rust_read_vormant(small, 12))
print(abs(blocks[1] - blocks[0]) < 1000)
"""


@address_space_cap
def test_objects_refused_end_the_call_with_nothing_partial(run_python, tmp_path):
    # Four million blocks of two one-byte values: 32 MB as binary32, 256 MB as floats in lists.
    big = tmp_path / "big.txt"
    with open(big, "wb") as out:
        out.write(b"2\nt\nv\n")
        out.write(b"\n12\n" * 4_000_000)
    small = tmp_path / "small.txt"
    small.write_text(SMALL_FILE)
    child = run_python(INTERPRETER_MEMORY_REFUSED, str(big), str(small))
    assert child.returncode == 0, child.err
    null = "PyObject pointer is null"
    assert child.out == f"PanicException {(null,)!r}\n" * 2 + "([1.5], [[-2.0]])\nTrue\n"
    # The interpreter's MemoryError went to the unraisable hook before each report.
    assert child.err.count("MemoryError") == 2
    assert child.err.count(f"\n{null}\n") == 2


class Index:
    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()


def fail_with(error):
    raise error


# Each case: a call of `read` given the PanicException type and a good and a bad plot file.
LEAK_CASES = {
    "success": lambda read, panic, good, bad: read(good, 12),
    "too many": lambda read, panic, good, bad: read(good, 12, 3),
    "unexpected keyword": lambda read, panic, good, bad: read(good, x=1),
    "lone surrogate keyword": lambda read, panic, good, bad: read(good, **{"\ud800": 1}),
    "multiple values": lambda read, panic, good, bad: read(good, file_path=good),
    "missing": lambda read, panic, good, bad: read(),
    "cast error": lambda read, panic, good, bad: read(b"x", 12),
    "surrogate path": lambda read, panic, good, bad: read("\udc00", 12),
    "float width": lambda read, panic, good, bad: read(good, 1.5),
    "overflow": lambda read, panic, good, bad: read(good, -1),
    "index value": lambda read, panic, good, bad: read(good, Index(lambda: 12)),
    "index type error": lambda read, panic, good, bad: read(
        good, Index(lambda: fail_with(TypeError("t")))
    ),
    "index value error": lambda read, panic, good, bad: read(
        good, Index(lambda: fail_with(ValueError("v")))
    ),
    "returning panic": lambda read, panic, good, bad: read(
        good, Index(lambda: fail_with(panic("p")))
    ),
    "reader failure": lambda read, panic, good, bad: read(bad, 12),
    "missing file": lambda read, panic, good, bad: read("/nonexistent/plot.txt", 12),
}


@needs_debug_interpreter
@pytest.mark.parametrize("case", sorted(LEAK_CASES))
def test_no_reference_is_leaked(read, panic_exception, plot_file, capfd, case):
    good = plot_file("3\nt\nu\nv\nlead\n" + "1.5".rjust(12) * 3 + "\n")
    bad = plot_file("3\nt\nu\nv\nlead\n" + "1.5".rjust(12) * 2 + "\n")

    def call():
        try:
            LEAK_CASES[case](read, panic_exception, good, bad)
        except BaseException:  # noqa: B036
            pass

    assert_nothing_leaks(call)
    capfd.readouterr()
