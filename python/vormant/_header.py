"""The parameter names of a plot file, read from its header alone.

This lets many files be checked against each other before any value is read. It reads the
header the way the native reader does (lines end in LF or CR LF, Unicode White_Space splits
and trims) and gives up on anything unusual, leaving the verdict to a full read.
"""

from __future__ import annotations

import re

# Unicode's White_Space property: the characters the reader splits and trims at.
_WHITESPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
               "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")
_LAST_TOKEN = re.compile(f"([^{_WHITESPACE}]+)[{_WHITESPACE}]*$")
_COUNT = re.compile(r"\+?[0-9]+")
_MAX_COUNT = 2**64 - 1


def _text(line: bytes) -> str | None:
    try:
        return line.decode("utf-8")
    except UnicodeDecodeError:
        return None


def _parameter_count(first_line: str) -> int | None:
    token = _LAST_TOKEN.search(first_line)
    if token is None or not _COUNT.fullmatch(token[1]):
        return None
    count = int(token[1])
    return count if 0 < count <= _MAX_COUNT else None


def read_names(path: str) -> tuple[str, ...] | None:
    """The trimmed name lines of the file at `path`, or None when its header is not whole and
    well formed (a full read then says what is wrong). OSError when it cannot be opened."""
    with open(path, "rb") as file:
        first_line = _text(file.readline())
        count = _parameter_count(first_line) if first_line else None
        if count is None:
            return None
        names = []
        for _ in range(count):
            raw = file.readline()
            line = _text(raw)
            if not raw or line is None:
                return None
            names.append(line.strip(_WHITESPACE))
        return tuple(names)
