#!/usr/bin/python3
"""Graph.parse on one declaration per line, and on one long operator chain.

usage: line_declarations.py BUILD_DIR [LINES]

For each of `Entity "E<i>"`, `Role "R<i>"` and `Resource "X<i>"` (LINES lines each, default
1,000,000) and for `Policy p as: a + a + ... + a` of 10 MB, a fresh interpreter builds the source,
parses it three times and reports the best time (the first parse of a process also pays for
memory the system has not handed it yet; its time is in the note) and the peak resident memory of
the first parse above what the process held before it. The C++ line_bench of the same build
reports what the finished graph holds, so that the peak can be compared with it. Prints one row per
input; run_all.py adds them to its table.
"""

import json
import os
import re
import subprocess
import sys

CHILD = r"""
import json, sys, time
sys.path.insert(0, sys.argv[1])
import vok_dsl

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

kind, count = sys.argv[2], int(sys.argv[3])
if kind == "chain":
    source = "Policy p as: a" + " + a" * ((count - 14) // 4) + "\n"
else:
    prefix = {"Entity": "E", "Role": "R", "Resource": "X"}[kind]
    source = "".join(f'{kind} "{prefix}{i}"\n' for i in range(count))
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
times = []
for run in range(3):
    start = time.perf_counter()
    graph = vok_dsl.Graph.parse(source)
    times.append(time.perf_counter() - start)
    if run == 0:
        peak = status("VmHWM") - before
    del graph
print(json.dumps({"bytes": len(source), "first": times[0], "seconds": min(times), "peak": peak}))
"""


def measure(build, lines=1_000_000, chain_bytes=10_000_000):
    """Rows (label, bytes, MB/s, note) for run_all.py."""
    rows = []
    for kind, count in (("Entity", lines), ("Role", lines), ("Resource", lines),
                        ("chain", chain_bytes)):
        out = subprocess.run([sys.executable, "-c", CHILD, os.path.join(build, "python"), kind,
                              str(count)], check=True, capture_output=True, text=True).stdout
        result = json.loads(out)
        native = subprocess.run([os.path.join(build, "bench", "line_bench"), kind, str(count), "1"],
                                check=True, capture_output=True, text=True).stdout
        graph_mb = float(re.search(r"graph: ([\d.]+) MB", native).group(1))
        per = re.search(r"\((\d+) bytes per (record|term)\)", native)
        seconds, first, size = result["seconds"], result["first"], result["bytes"]
        peak_mb = result["peak"] / 1e6
        if kind == "chain":
            label = f"Graph.parse, {size / 1e6:.0f} MB a + a chain"
            note = f"{per.group(1)} B per term in the graph, first parse {first:.2f} s"
        else:
            label = f"Graph.parse, {count:,} {kind} lines"
            note = (f"{seconds * 1e6 / count:.2f} us per declaration (first parse "
                    f"{first * 1e6 / count:.2f}), {per.group(1)} B per record")
        note += f"; peak {peak_mb:.0f} MB = {peak_mb / graph_mb:.2f}x the graph ({graph_mb:.0f} MB)"
        rows.append((label, size, size / seconds / 1e6, note))
    return rows


def main():
    if len(sys.argv) < 2 or len(sys.argv) > 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    for label, size, rate, note in measure(os.path.abspath(sys.argv[1]), lines):
        print(f"{label:<40} {size:>10} {rate:>8.1f}  {note}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
