"""The check that repeated calls leave nothing behind, on the debug interpreters that count
references and allocated blocks."""

import gc
import sys

import pytest

needs_debug_interpreter = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="counting references needs a debug interpreter")


def assert_nothing_leaks(call, warm_up=20, times=200):
    """Calls `call` `warm_up` times (caches fill, tracebacks tie frames into cycles), then
    `times` more: references and allocated blocks must end where they were."""
    for _ in range(warm_up):
        call()
    gc.collect()
    references, blocks = sys.gettotalrefcount(), sys.getallocatedblocks()
    for _ in range(times):
        call()
    gc.collect()
    assert sys.gettotalrefcount() - references < 100
    assert sys.getallocatedblocks() - blocks < 100
