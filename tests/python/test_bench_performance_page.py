"""The dated page of figures that bench/run.py writes names the processor and the kernel level
the reader's dispatcher takes: the widest the processor offers, held to the level a test build
was forced to."""

import sys
from pathlib import Path

import pytest

pytest.importorskip("numpy", reason="the benchmark is numpy code")

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import run  # noqa: E402


@pytest.mark.parametrize("flags, forced, level", [
    ("fpu sse2 sse4_1 avx avx2", None, "avx2"),
    ("sse2 sse4_1 avx2 avx512f avx512bw avx512dq avx512vl", None, "avx512"),
    ("sse2 sse4_1 avx2 avx512f avx512bw avx512vl", None, "avx2"),
    ("sse2 sse4_1 avx2 avx512f avx512bw avx512dq avx512vl", "avx2", "avx2"),
    ("fpu sse2 sse4_1", None, "sse41"),
    ("fp asimd", None, "portable"),
    ("sse2 sse4_1 avx2", "sse41", "sse41"),
    ("sse2 sse4_1", "avx2", "sse41"),
])
def test_processor_and_kernel_level(tmp_path, flags, forced, level):
    if forced:
        (tmp_path / "CMakeCache.txt").write_text(f"TARNEX_FORCE_SIMD_LEVEL:STRING={forced}\n")
    cpuinfo = f"processor\t: 0\nmodel name\t: Some CPU\nflags\t\t: {flags}\n\nprocessor\t: 1\n"
    model, found = run.processor(cpuinfo)
    assert (model, run.kernel_level(found, run.forced_level(tmp_path))) == ("Some CPU", level)
