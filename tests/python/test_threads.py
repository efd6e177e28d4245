"""Many Python threads calling the reader at once, on shared and on their own files, failing
and succeeding calls mixed: every result is right, every report on descriptor 2 is whole, and
no line on descriptor 1 mixes with another."""

import json
import re

THREADS = 8
ROUNDS = 3

# Every case once on this thread for the expected outcomes, then THREADS threads that each go
# through every case ROUNDS times in an order of their own, with descriptors 1 and 2 pointed at
# files. Writes what each thread saw, by its system thread id.
CHILD = """
import json, os, random, sys, threading, tarnex

cases = json.loads(open(sys.argv[1]).read())
threads, rounds = int(sys.argv[4]), int(sys.argv[5])

def outcome(path, width):
    try:
        return ["returned", repr(tarnex.rust_read_vormant(path, width))]
    except BaseException as error:
        return [type(error).__name__, *error.args]

expected = [outcome(*case) for case in cases["shared"]]
expected_own = [[outcome(*case) for case in own] for own in cases["own"]]

for target, name in ((1, sys.argv[2]), (2, sys.argv[3])):
    os.dup2(os.open(name, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), target)
sys.setswitchinterval(1e-6)
barrier = threading.Barrier(threads)
seen = {}

def work(number):
    chooser = random.Random(number)
    mine = [(case, want) for case, want in zip(cases["shared"], expected)]
    mine += list(zip(cases["own"][number], expected_own[number]))
    order = [pair for _ in range(rounds) for pair in mine]
    chooser.shuffle(order)
    wrong, failures = [], []
    barrier.wait()
    for case, want in order:
        got = outcome(*case)
        if got != want:
            wrong.append([case, got, want])
        elif got[0] != "returned":
            failures.append(got[1])
    seen[threading.get_native_id()] = {"wrong": wrong, "failures": failures}

workers = [threading.Thread(target=work, args=(n,)) for n in range(threads)]
for worker in workers:
    worker.start()
for worker in workers:
    worker.join()
with open(sys.argv[6], "w") as out:
    json.dump(seen, out)
"""

REPORT_START = "\nthread '<unnamed>' ("
REPORT = re.compile(r"(\d+)\) panicked at [^\n]+:\d+:\d+:\n(.*)\n", re.DOTALL)
LINE_END = "' is not a valid number of parameters!"


def plot_text(count, blocks, seed, width=12):
    lines = [f"VORMANT threads {count}"] + [f"p{p}" for p in range(count)]
    for block in range(blocks):
        values = [f"{(seed * 1000 + block * count + p) / 7:{width}.5E}" for p in range(count)]
        lines.append(f" step {block}")
        lines += ["".join(values[start : start + 10]) for start in range(0, count, 10)]
    return "\n".join(lines) + "\n"


def test_threads_read_at_once(run_python, plot_file, tmp_path):
    long_token = "3" * 2999 + "x"  # its stdout line goes out in three writes
    long_title = "title " * 200 + "7z"  # a report longer than 512 bytes goes out piece by piece
    shared = [
        (plot_file(plot_text(12, 150, 1)), 12),
        (plot_file(plot_text(25, 40, 2, 15)), 15),
        (plot_file(f"title {long_token}\n"), 12),
        (plot_file(f"{long_title}\n"), 12),
        (plot_file("title 12x\n"), 12),
        (plot_file("3\na\n"), 12),
        (plot_file(b"2\nt\nv\nlead\n\xff\n"), 12),
        (plot_file(plot_text(3, 5, 3) + "lead only\n"), 12),
        (plot_file(plot_text(2, 3, 4).replace("E+", "D+")), 12),
        (str(tmp_path / "missing.txt"), 12),
    ]
    own = [[(plot_file(plot_text(11, 60, 10 + n)), 12)] for n in range(THREADS)]
    cases = tmp_path / "cases.json"
    cases.write_text(json.dumps({"shared": shared, "own": own}))
    out, err, seen_path = tmp_path / "out.txt", tmp_path / "err.txt", tmp_path / "seen.json"

    child = run_python(
        CHILD, str(cases), str(out), str(err), str(THREADS), str(ROUNDS), str(seen_path)
    )
    assert child.returncode == 0, child.err
    seen = json.loads(seen_path.read_text())
    assert len(seen) == THREADS
    for thread in seen.values():
        assert thread["wrong"] == []

    # Descriptor 2 holds whole reports and nothing else, each by the thread that failed.
    text = err.read_text()
    assert text.startswith(REPORT_START)
    reports = {}
    for piece in text.split(REPORT_START)[1:]:
        report = REPORT.fullmatch(piece)
        assert report, piece[:300]
        reports.setdefault(report.group(1), []).append(report.group(2))
    assert reports.keys() == seen.keys()
    for tid, thread in seen.items():
        assert sorted(reports[tid]) == sorted(thread["failures"])
    assert max(len(message) for messages in reports.values() for message in messages) > 512

    # Descriptor 1 holds the bad counts' lines, each whole.
    lines = out.read_text().split("\n")
    assert lines.pop() == ""
    printed = {f"Error: '{token}{LINE_END}": 0 for token in (long_token, "7z", "12x")}
    for line in lines:
        assert line in printed, line[:100]
        printed[line] += 1
    assert list(printed.values()) == [THREADS * ROUNDS] * 3
