"""What the module writes on descriptor 2 when a call fails."""

import re


def report_pattern(message):
    """The report: its own line naming the thread, its id and the failing check, then the
    message, then a line feed."""
    return re.compile(
        r"\nthread '<unnamed>' \(\d+\) panicked at [^\n]+:\d+:\d+:\n" + re.escape(message) + r"\n"
    )
