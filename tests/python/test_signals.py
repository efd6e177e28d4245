"""A storm of real signals during a read: the system interrupts the reader's open and read calls,
and the result is still the one a quiet read gives, bit for bit."""

import array
import hashlib
import os
import random

BLOCK_COUNT = 150_000  # about 24 MB with twelve parameters in fields of 12 bytes

# Reads argv[1] quietly, then under a 1 ms interval timer whose Python handler makes the system
# interrupt the calls it is in: once from the regular file, once through a named pipe that a
# slow writer process fills, so that reads wait for data and the open waits for the writer.
# Prints the digest of each result and how often the signal arrived.
STORM = """
import array, ctypes, hashlib, os, signal, subprocess, sys, tarnex

path, fifo = sys.argv[1], sys.argv[2]

def digest(result):
    time, columns = result
    values = array.array("d", time)
    for column in columns:
        values.extend(column)
    return hashlib.sha256(values.tobytes()).hexdigest(), len(time)

def system_eintr():
    library = os.environ.get("TARNEX_FI_LIBRARY")
    if not library:
        return -1
    counter = ctypes.CDLL(library).tarnex_fi_counter
    counter.restype = ctypes.c_long
    return counter(b"system_eintr")

quiet = digest(tarnex.rust_read_vormant(path, 12))

handled = 0
def on_alarm(signum, frame):
    global handled
    handled += 1

# Python's C-level handler writes one byte here for every signal that arrives, also while the
# reader runs; the Python handler itself runs only between calls.
arrived, wakeup = os.pipe()
os.set_blocking(wakeup, False)
signal.set_wakeup_fd(wakeup, warn_on_full_buffer=False)
signal.signal(signal.SIGALRM, on_alarm)  # no SA_RESTART: interrupted calls fail with EINTR
signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)

def outcome(path):
    try:
        return digest(tarnex.rust_read_vormant(path, 12))
    except BaseException as error:
        return repr(error)

stormed = outcome(path)
writer = subprocess.Popen([sys.executable, "-c", sys.argv[3], path, fifo])
piped = outcome(fifo)
if isinstance(piped, str):
    writer.kill()  # the read failed: nothing will take the rest of the data
writer.wait()

signal.setitimer(signal.ITIMER_REAL, 0, 0)
signal.set_wakeup_fd(-1)
os.set_blocking(arrived, False)
count = 0
try:
    while chunk := os.read(arrived, 65536):
        count += len(chunk)
except BlockingIOError:
    pass
print(quiet == stormed == piped, quiet[1], quiet[0], count, handled, system_eintr())
if not quiet == stormed == piped:
    print(stormed, piped, file=sys.stderr)
"""

# Feeds the named pipe slowly: after every megabyte it pauses, so the reader empties the pipe
# and waits in read, where the next signal interrupts it.
SLOW_WRITER = """
import os, sys, time
with open(sys.argv[1], "rb") as plot:
    data = plot.read()
time.sleep(0.05)
with open(sys.argv[2], "wb", buffering=0) as pipe:
    for start in range(0, len(data), 1 << 20):
        pipe.write(data[start : start + (1 << 20)])
        time.sleep(0.003)
"""


def big_plot_file(path):
    chooser = random.Random(20240611)
    fields = [f"{chooser.uniform(-1e6, 1e6):12.5E}".encode() for _ in range(4096)]
    with open(path, "wb") as out:
        out.write(b"VORMANT storm 12\n" + b"".join(b"p%d\n" % p for p in range(12)))
        for block in range(BLOCK_COUNT):
            first = (block * 12) % 4084
            out.write(b" step %d\n" % block)
            out.write(b"".join(fields[first : first + 10]) + b"\n")
            out.write(b"".join(fields[first + 10 : first + 12]) + b"\n")


def digest(result):
    time, columns = result
    values = array.array("d", time)
    for column in columns:
        values.extend(column)
    return hashlib.sha256(values.tobytes()).hexdigest()


def test_signal_storm_changes_nothing(read, run_python, tmp_path, monkeypatch, module):
    path = tmp_path / "fault-marked-storm.txt"
    big_plot_file(path)
    fifo = tmp_path / "fault-marked-storm.fifo"
    os.mkfifo(fifo)
    # With the fault library preloaded (and no faults asked for), it counts the calls that the
    # system interrupted.
    library = os.path.join(os.path.dirname(module.__file__), "libtarnex_fault_injection.so")
    if os.path.exists(library):
        preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), library]))
        monkeypatch.setenv("LD_PRELOAD", preload)
        monkeypatch.setenv("TARNEX_FI_LIBRARY", library)
        monkeypatch.setenv("TARNEX_FI_MARK", "fault-marked")
        monkeypatch.setenv("TARNEX_FI", "")

    child = run_python(STORM, str(path), str(fifo), SLOW_WRITER)
    assert child.returncode == 0, child.err
    assert child.err == ""
    same, blocks, child_digest, arrived, handled, interrupted = child.out.split()
    assert same == "True"
    assert (int(blocks), child_digest) == (BLOCK_COUNT, digest(read(str(path), 12)))
    # The storm was real: signals kept arriving while the reader ran, and the handler ran.
    assert int(arrived) >= 20
    assert int(handled) >= 1
    if int(interrupted) >= 0:
        assert int(interrupted) > 0

