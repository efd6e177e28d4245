#!/usr/bin/env python3
"""Benchmark of tarnex against what users would run instead, on realistic plot files.

For each file shape it times, in one process and in interleaved rounds, tarnex and its peers
(numpy-strided, the reference, numpy-fast, pure Python, numpy.genfromtxt, pandas.read_fwf), and
the floor that no reader can avoid: reading the file's bytes plus building the same lists from a
binary32 array. It checks every reader's values (tarnex bit for bit against the exact binary32 of
every field, the peers to within one unit), measures the peak memory of each reader in a fresh
process, and prints a markdown table of nanoseconds per value (the minimum over the rounds) with
tarnex's ratio to the floor and to the reference peer.

    python3 bench/run.py              # the four shapes, 5 rounds
    python3 bench/run.py --quick      # smaller files, 3 rounds
    python3 bench/run.py --output bench/results.md
    python3 bench/run.py --performance   # also docs/performance.md: dated, with the machine

The tarnex module is taken from --module-dir, else $TARNEX_MODULE_DIR, else built with
tools/build-module.sh into build/bench-module. Files are written once into --files-dir
(build/bench-files by default). Nothing here is a test: no time is ever judged.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import json
import os
import platform
import shlex
import subprocess
import sys
import time
from array import array
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import peers  # noqa: E402
import plotfiles  # noqa: E402

FULL_SHAPES = [(12, 20000, 12), (200, 5000, 15), (2000, 500, 12), (100, 200000, 12)]
QUICK_SHAPES = [(12, 4000, 12), (200, 1000, 15), (2000, 100, 12), (100, 20000, 12)]
MEMORY_BOUND_FACTOR = 1.15
REFERENCE_PEER = next(iter(peers.PEERS))  # the strongest peer: tarnex's ratio to it is reported
READ_CHUNK = 1 << 20
PERFORMANCE_PAGE = ROOT / "docs" / "performance.md"
# The reader's vector kernel levels, narrowest first, and the /proc/cpuinfo flag each needs.
KERNEL_LEVELS = ("portable", "sse41", "avx2", "avx512")
LEVEL_FLAGS = {"sse41": ("sse4_1",), "avx2": ("avx2",),
               "avx512": ("avx2", "avx512f", "avx512bw", "avx512dq", "avx512vl")}


def load_tarnex(module_dir: str | None):
    directory = module_dir or os.environ.get("TARNEX_MODULE_DIR")
    if not directory:
        build = ROOT / "build" / "bench-module"
        subprocess.run([str(ROOT / "tools" / "build-module.sh"), sys.executable, str(build)],
                       check=True, stdout=subprocess.DEVNULL)
        directory = str(build)
    sys.path.insert(0, str(Path(directory).resolve()))
    import tarnex

    return tarnex


# ------------------------------------------------------------------------------------------------
# The floor


def read_bytes(path: str) -> int:
    """Every byte of the file into one reused buffer."""
    buffer = bytearray(READ_CHUNK)
    total = 0
    with open(path, "rb", buffering=0) as f:
        while count := f.readinto(buffer):
            total += count
    return total


def build_lists(values: np.ndarray):
    """The result's lists from binary32 rows (parameters, steps), the cheaper of two ways."""
    return values[0].tolist(), [row.tolist() for row in values[1:]]


def build_lists_from_arrays(rows: list[array]):
    return rows[0].tolist(), [row.tolist() for row in rows[1:]]


# ------------------------------------------------------------------------------------------------
# Checks


def check_exact(result, reference: np.ndarray) -> None:
    """tarnex: every float is exactly the binary32 of its field, bit for bit, zeros' signs too."""
    time_list, columns = result
    if len(columns) != reference.shape[0] - 1:
        raise SystemExit(f"tarnex returned {len(columns)} columns, expected {reference.shape[0] - 1}")
    for row, values in zip(reference, [time_list] + columns):
        got = np.array(values, dtype=np.float64)
        if got.shape != row.shape or not np.array_equal(
                got.view(np.uint64), row.astype(np.float64).view(np.uint64)):
            raise SystemExit("tarnex differs from the exact binary32 values")


def count_differences(result, reference: np.ndarray) -> int:
    """A peer: values that are not the exact binary32; more than one unit off is an error."""
    time_list, columns = result
    different = 0
    for row, values in zip(reference, [time_list] + columns):
        got = np.array(values, dtype=np.float32)
        exact = got.view(np.uint32) == row.view(np.uint32)
        if not exact.all():
            near = np.abs(got.view(np.int32).astype(np.int64) - row.view(np.int32)) <= 1
            if not (exact | near | ((got == 0) & (row == 0))).all():
                raise SystemExit("a peer reader is more than one unit off")
            different += int((~exact).sum())
    return different


# ------------------------------------------------------------------------------------------------
# Memory, in a fresh process per reader


def resident_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def result_size(result) -> int:
    time_list, columns = result
    floats = len(time_list) * (1 + len(columns))
    return (sys.getsizeof(result) + sys.getsizeof(time_list) + sys.getsizeof(columns)
            + sum(sys.getsizeof(c) for c in columns) + floats * sys.getsizeof(0.0))


def restart_peak() -> int:
    """Starts the peak resident size (VmHWM) again from the current one, which it returns (KiB)."""
    gc.collect()
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    return resident_kib("VmRSS")


def probe_memory(reader_name: str, path: str, n_digits: int, module_dir: str) -> None:
    reader = reader_by_name(reader_name, module_dir)
    before = restart_peak()
    result = reader(path, n_digits)
    peak = resident_kib("VmHWM")
    gc.collect()
    after = resident_kib("VmRSS")  # the result alone is left, in the blocks that hold it
    print(json.dumps({"peak_bytes": (peak - before) * 1024, "result_bytes": result_size(result),
                      "resident_bytes": (after - before) * 1024}))


def longest_line(path: str) -> int:
    with open(path, "rb") as f:
        return max(len(line) for line in f)


def measure_memory(reader_name: str, path: str, n_digits: int, module_dir: str) -> dict:
    output = subprocess.run(
        [sys.executable, str(Path(__file__).resolve()), "--probe", reader_name, path,
         str(n_digits), "--module-dir", module_dir], check=True, capture_output=True, text=True)
    return json.loads(output.stdout)


def reader_by_name(name: str, module_dir: str):
    if name == "tarnex":
        return load_tarnex(module_dir).rust_read_vormant
    return peers.PEERS[name]


# ------------------------------------------------------------------------------------------------
# Timing


def timed(function, *args) -> tuple[float, object]:
    gc.collect()
    start = time.perf_counter_ns()
    result = function(*args)
    return time.perf_counter_ns() - start, result


def benchmark_shape(shape, args, tarnex) -> dict:
    parameters, steps, width = shape
    path = plotfiles.ensure_plot_file(Path(args.files_dir), parameters, steps, width)
    reference = plotfiles.reference_values(path, width, parameters)
    values = parameters * steps
    path_text = str(path)
    rows_f32 = np.ascontiguousarray(reference)
    rows_arrays = [array("f", row.tobytes()) for row in reference]

    readers = {"tarnex": tarnex.rust_read_vormant}
    readers.update({name: peers.PEERS[name] for name in args.peers})
    best = {name: float("inf") for name in list(readers) + ["read bytes", "build lists"]}
    differences: dict[str, int] = {}
    for round_index in range(args.rounds):
        order = list(readers)
        order = order[round_index % len(order):] + order[:round_index % len(order)]
        elapsed, _ = timed(read_bytes, path_text)
        best["read bytes"] = min(best["read bytes"], elapsed)
        for build, data in ((build_lists, rows_f32), (build_lists_from_arrays, rows_arrays)):
            elapsed, built = timed(build, data)
            del built
            best["build lists"] = min(best["build lists"], elapsed)
        for name in order:
            elapsed, result = timed(readers[name], path_text, width)
            best[name] = min(best[name], elapsed)
            if round_index == 0:
                if name == "tarnex":
                    check_exact(result, reference)
                else:
                    differences[name] = count_differences(result, reference)
            del result
        print(f"  {shape}: round {round_index + 1} of {args.rounds}", file=sys.stderr)

    per_value = {name: ns / values for name, ns in best.items()}
    row = {"shape": shape, "bytes": path.stat().st_size, "values": values,
           "ns": per_value, "differences": differences}
    if not args.no_memory:
        module_dir = str(Path(tarnex.__file__).parent)
        row["longest_line"] = longest_line(path_text)
        row["memory"] = {name: measure_memory(name, path_text, width, module_dir)
                         for name in readers}
    return row


# ------------------------------------------------------------------------------------------------
# The table


def mib(count: int) -> str:
    return f"{count / (1 << 20):.0f}"


def format_table(rows: list[dict], peer_names: list[str]) -> str:
    head = ["file (P, T, n_digits)", "read bytes", "build lists", "floor", "tarnex",
            "tarnex / floor", f"tarnex / {REFERENCE_PEER}"] + peer_names
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in rows:
        ns = row["ns"]
        floor = ns["read bytes"] + ns["build lists"]
        reference = ns.get(REFERENCE_PEER, float("nan"))
        p, t, n = row["shape"]
        size = f"{row['bytes'] / 1e6:.0f} MB"
        cells = [f"P={p}, T={t}, n={n} ({size})", f"{ns['read bytes']:.1f}",
                 f"{ns['build lists']:.1f}", f"{floor:.1f}", f"**{ns['tarnex']:.1f}**",
                 f"{ns['tarnex'] / floor:.2f}", f"{ns['tarnex'] / reference:.2f}"]
        cells += [f"{ns[name]:.1f}" for name in peer_names]
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    lines.append("Nanoseconds per value, the minimum over interleaved rounds in one process. "
                 "floor = read bytes + build lists.")
    if any("memory" in row for row in rows):
        lines += ["", "| file | result objects (MiB) | result resident (MiB) | bound (MiB) | " +
                  " | ".join(f"{name} peak (MiB)" for name in ["tarnex"] + peer_names) + " |",
                  "|" + "---|" * (4 + 1 + len(peer_names))]
        for row in rows:
            memory = row["memory"]
            size = memory["tarnex"]["result_bytes"]
            resident = memory["tarnex"]["resident_bytes"]
            bound = MEMORY_BOUND_FACTOR * size + row["longest_line"]
            p, t, n = row["shape"]
            cells = [f"P={p}, T={t}, n={n}", mib(size), mib(resident), mib(bound)]
            for name in ["tarnex"] + peer_names:
                peak = memory[name]["peak_bytes"]
                cells.append(f"{mib(peak)} ({peak / size:.2f}× objects, "
                             f"{peak / resident:.2f}× resident)")
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")
        lines.append(
            "Peak resident memory of one read in a fresh process, above what the process held "
            "before it. Result objects: the tuple, the lists and 24 bytes per float "
            "(sys.getsizeof); result resident: what the result holds once the read is over, "
            "where the interpreter's allocator gives every float a 32-byte block. "
            "bound = 1.15 × result objects + longest line.")
    differences = {name: sum(row["differences"].get(name, 0) for row in rows)
                   for name in peer_names}
    lines.append("")
    lines.append("tarnex: every value bit for bit the exact binary32. Peers' values that are one "
                 "unit off (double rounding): " +
                 ", ".join(f"{name} {count}" for name, count in differences.items()) + ".")
    return "\n".join(lines) + "\n"


# ------------------------------------------------------------------------------------------------
# The dated page of figures


def processor(cpuinfo: str) -> tuple[str, set[str]]:
    """The model name and the flags of the first processor listed in /proc/cpuinfo's text."""
    model, flags = "", set()
    for line in cpuinfo.splitlines():
        key, _, value = line.partition(":")
        key = key.strip()
        if key == "model name" and not model:
            model = value.strip()
        elif key in ("flags", "Features") and not flags:
            flags = set(value.split())
    return model or platform.processor() or platform.machine() or "unknown", flags


def kernel_level(flags: set[str], forced: str | None) -> str:
    """The level the reader's dispatcher takes: the widest the processor has (only x86-64 lists
    these flags), at most the one a test build was held to."""
    level = "portable"
    for candidate, needed in LEVEL_FLAGS.items():
        if flags.issuperset(needed):
            level = candidate
    if forced in KERNEL_LEVELS:
        level = KERNEL_LEVELS[min(KERNEL_LEVELS.index(level), KERNEL_LEVELS.index(forced))]
    return level


def forced_level(module_dir: Path) -> str | None:
    """The level a module built by CMake in `module_dir` was held to, if any."""
    try:
        cache = (module_dir / "CMakeCache.txt").read_text(errors="replace")
    except OSError:
        return None
    for line in cache.splitlines():
        if line.startswith("TARNEX_FORCE_SIMD_LEVEL:"):
            return line.partition("=")[2].strip() or None
    return None


def performance_page(table: str, module_dir: Path, rounds: int) -> str:
    try:
        cpuinfo = Path("/proc/cpuinfo").read_text(errors="replace")
    except OSError:
        cpuinfo = ""
    model, flags = processor(cpuinfo)
    level = kernel_level(flags, forced_level(module_dir))
    when = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    command = shlex.join(["python3", "bench/run.py", *sys.argv[1:]])
    return (f"# Performance\n\n"
            f"Written by `{command}` on {when}. Do not edit it by hand: run the command again "
            f"(see [bench/README.md](../bench/README.md) for what it measures).\n\n"
            f"- Processor: {model}, {os.cpu_count()} logical processors\n"
            f"- Kernel level: {level}\n"
            f"- Interpreter: {platform.python_implementation()} {platform.python_version()}\n"
            f"- Rounds: {rounds}\n\n{table}")


def common_parser(description: str) -> argparse.ArgumentParser:
    """The options of every benchmark on these files: their size, rounds, folders, output."""
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="smaller files, 3 rounds")
    parser.add_argument("--rounds", type=int, help="interleaved rounds (default 5, quick 3)")
    parser.add_argument("--files-dir", default=str(ROOT / "build" / "bench-files"))
    parser.add_argument("--module-dir", help="folder holding the built modules")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory probes")
    parser.add_argument("--output", help="also write the tables to this file")
    return parser


def main() -> None:
    parser = common_parser(__doc__)
    parser.add_argument("--peers", nargs="*", default=list(peers.PEERS),
                        choices=list(peers.PEERS), help="peer readers to run")
    parser.add_argument("--shapes", type=int, nargs="*",
                        help="indexes (0 to 3) of the shapes to run")
    parser.add_argument("--performance", nargs="?", const=str(PERFORMANCE_PAGE), metavar="PAGE",
                        help="also write the tables, dated, with the processor and kernel level, "
                             f"to PAGE (default {PERFORMANCE_PAGE.relative_to(ROOT)})")
    parser.add_argument("--probe", nargs=3, metavar=("READER", "PATH", "N_DIGITS"),
                        help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.probe:
        name, path, n_digits = args.probe
        probe_memory(name, path, int(n_digits), args.module_dir)
        return
    args.rounds = args.rounds or (3 if args.quick else 5)
    shapes = QUICK_SHAPES if args.quick else FULL_SHAPES
    if args.shapes is not None:
        shapes = [shapes[i] for i in args.shapes]
    tarnex = load_tarnex(args.module_dir)
    rows = [benchmark_shape(shape, args, tarnex) for shape in shapes]
    table = format_table(rows, args.peers)
    print(table)
    if args.output:
        Path(args.output).write_text(table)
    if args.performance:
        module_dir = Path(tarnex.__file__).resolve().parent
        Path(args.performance).parent.mkdir(parents=True, exist_ok=True)
        Path(args.performance).write_text(performance_page(table, module_dir, args.rounds))


if __name__ == "__main__":
    main()
