#!/usr/bin/python3
"""Graph.parse on a large model that fails on its last line, and on one interrupted part way.

usage: failing_model.py BUILD_DIR [BLOCKS]

The model of BLOCKS blocks (default 10000, about 32 MB: ten times run_all.py's) is parsed in
fresh interpreters: four rounds of parse and drop of the model as it is; four failing rounds of the
model with a flow between undeclared entities appended, so that the whole file is read and built
and the lowering refuses it on that line; and single rounds with a signal arriving at a tenth,
three tenths, ... of a successful round's time. Each interpreter reports the time of its best round,
the peak resident memory of its first round and the resident memory left after each round, both
above what it held before the first round (the source already read). Of three interpreters per
input, the best time and the median memory figures are reported.

A failing or interrupted parse should leave about what a successful parse and drop leaves, however
often it fails, and should not need much more memory while it runs than a successful one.
"""

import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The line that makes the model fail: a flow between entities nobody declares.
FAILING_LINE = 'Flow "Cash_1" from "Nope" to "Nope"\n'

CHILD = r"""
import gc, json, signal, sys, time
sys.path.insert(0, sys.argv[1])
import vok_dsl

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

kind, path, rounds = sys.argv[2], sys.argv[3], int(sys.argv[4])
with open(path, encoding="utf-8") as f:
    source = f.read()
if kind == "failing":
    source += sys.argv[5]
delay = float(sys.argv[5]) if kind == "interrupted" else 0.0

def interrupt(signum, frame):
    raise KeyboardInterrupt
signal.signal(signal.SIGALRM, interrupt)

gc.disable()
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
times, left, outcomes = [], [], []
for run in range(rounds):
    start = time.perf_counter()
    try:
        if delay:
            signal.setitimer(signal.ITIMER_REAL, delay)
        graph = vok_dsl.Graph.parse(source)
        signal.setitimer(signal.ITIMER_REAL, 0)
        outcomes.append("graph")
        del graph
    except ValueError as error:
        outcomes.append("error: " + str(error).splitlines()[0][:80])
    except KeyboardInterrupt:
        outcomes.append("interrupted")
        # The stopped parse's state is freed on a thread of its own once the exception has left.
        time.sleep(1.0)
    times.append(time.perf_counter() - start)
    if run == 0:
        peak = status("VmHWM") - before
    left.append(status("VmRSS") - before)
print(json.dumps({"bytes": len(source), "seconds": min(times), "peak": peak, "left": left,
                  "outcomes": outcomes}))
"""


def child(build, kind, path, rounds, extra=None):
    command = [sys.executable, "-c", CHILD, os.path.join(build, "python"), kind, path, str(rounds)]
    if extra is not None:
        command.append(extra)
    return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)


def median(values):
    return sorted(values)[len(values) // 2]


def of_three(build, kind, path, rounds, extra=None):
    """The best time and the median memory figures of three fresh interpreters: one slow or
    crowded moment of a shared machine should not decide them."""
    results = [child(build, kind, path, rounds, extra) for _ in range(3)]
    return {
        "bytes": results[0]["bytes"],
        "seconds": min(r["seconds"] for r in results),
        "peak": median([r["peak"] for r in results]),
        "left": [median([r["left"][i] for r in results]) for i in range(rounds)],
        "outcomes": results[0]["outcomes"],
    }


def measure(build, blocks=10000):
    """Rows (label, bytes, MB/s, note) for run_all.py."""
    mb = 1 << 20
    with tempfile.TemporaryDirectory() as tmp:
        model = os.path.join(tmp, "model.vok")
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "generate_model.py"), model,
                        str(blocks)], check=True)
        good = of_three(build, "model", model, 4)
        bad = of_three(build, "failing", model, 4, FAILING_LINE)
        if good["outcomes"] != ["graph"] * 4 or not all(
                o.startswith("error") for o in bad["outcomes"]):
            raise SystemExit(f"unexpected outcomes: {good['outcomes']} {bad['outcomes']}")
        interrupted = []
        for tenth in (1, 3, 5, 7, 9):
            result = of_three(build, "interrupted", model, 1, str(good["seconds"] * tenth / 10))
            interrupted.append((tenth, result))

    base = good["left"][-1]
    rows = [("Graph.parse, failing model", bad["bytes"], bad["bytes"] / bad["seconds"] / 1e6,
             f"{bad['seconds'] / good['seconds']:.2f}x the time, peak {bad['peak'] / mb:.0f} MB "
             f"= {bad['peak'] / good['peak']:.2f}x a successful parse's ({good['peak'] / mb:.0f} "
             f"MB); left after 1-4 failures: "
             + ", ".join(f"{left / mb:.0f}" for left in bad["left"])
             + f" MB, {(bad['left'][-1] - base) / mb:+.0f} MB against a parse and drop "
             f"({base / mb:.0f} MB)")]
    notes = []
    for tenth, result in interrupted:
        state = "" if result["outcomes"] == ["interrupted"] else f" ({result['outcomes'][0]})"
        notes.append(f"{tenth / 10:.1f}: {(result['left'][0] - base) / mb:+.0f}{state}")
    rows.append(("Graph.parse, interrupted model", good["bytes"], None,
                 "left against a parse and drop (MB), by when the signal came: "
                 + ", ".join(notes)))
    return rows


def main():
    if len(sys.argv) < 2 or len(sys.argv) > 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    blocks = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    for label, size, rate, note in measure(os.path.abspath(sys.argv[1]), blocks):
        print(f"{label:<32} {size or '':>10} {f'{rate:.1f}' if rate else '':>8}  {note}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
