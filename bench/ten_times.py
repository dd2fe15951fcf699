#!/usr/bin/python3
"""Ten times the input against the time it takes: Graph.parse on the generated model and on one
declaration per line, json.loads on the model's records.

usage: ten_times.py BUILD_DIR [BLOCKS]

The model of BLOCKS blocks (default 1000) is compared with the model of ten times as many; the
lines of `Entity`, `Role` and `Resource` 100,000 against 1,000,000. Each input is timed in three
fresh interpreters: the first parse of each, then several more rounds, each dropping the graph
before the next, as every timed round of run_all.py does; the best first parse and the best later
round are reported. The two part on large inputs: a graph of more than 64 MB gives its free
memory back to the system when dropped, and the next parse takes that memory again and has it
cleared, while a smaller graph's memory stays with the process for the next parse to reuse. The
first parse of a process takes all its memory fresh at either size.
"""

import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CHILD = r"""
import gc, json, sys, time
sys.path.insert(0, sys.argv[1])
import vok_dsl

kind, argument, rounds = sys.argv[2], sys.argv[3], int(sys.argv[4])
if kind == "records":
    with open(argument, encoding="utf-8") as f:
        text = f.read()
    action = lambda: json.loads(text)
elif kind == "model":
    with open(argument, encoding="utf-8") as f:
        text = f.read()
    action = lambda: vok_dsl.Graph.parse(text)
else:
    text = "".join(f'{kind} "X{i}"\n' for i in range(int(argument)))
    action = lambda: vok_dsl.Graph.parse(text)
gc.disable()
times = []
for _ in range(1 + rounds):
    start = time.perf_counter()
    action()
    times.append(time.perf_counter() - start)
print(json.dumps({"bytes": len(text.encode()), "first": times[0], "best": min(times[1:])}))
"""


def timed(build, kind, argument, rounds, processes=3):
    """The best first round and the best later round of several fresh interpreters."""
    results = []
    for _ in range(processes):
        out = subprocess.run([sys.executable, "-c", CHILD, os.path.join(build, "python"), kind,
                              str(argument), str(rounds)],
                             check=True, capture_output=True, text=True).stdout
        results.append(json.loads(out))
    return {key: min(r[key] for r in results) for key in results[0]}


def factors(small, large):
    """(input factor, time factor of the repeated rounds, time factor of the first parses)."""
    return (large["bytes"] / small["bytes"], large["best"] / small["best"],
            large["first"] / small["first"])


def measure(build, blocks=1000):
    """Rows (label, bytes, MB/s, note) for run_all.py."""
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    sys.path.insert(0, os.path.join(build, "python"))
    from parse_vs_json import compact, generate, same_records  # noqa: E402

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        result = {}
        for count, rounds in ((blocks, 30), (10 * blocks, 10)):
            source = generate(count)
            model = os.path.join(tmp, f"model{count}.vok")
            records = os.path.join(tmp, f"records{count}.json")
            with open(model, "w", encoding="utf-8") as f:
                f.write(source)
            with open(records, "w", encoding="utf-8") as f:
                f.write(compact(same_records(source)))
            del source
            result[count] = (timed(build, "model", model, rounds),
                             timed(build, "records", records, rounds))
        small, large = result[blocks], result[10 * blocks]
        grown, repeated, first = factors(small[0], large[0])
        json_repeated = factors(small[1], large[1])[1]
        rows.append(("Graph.parse, the model ten times", large[0]["bytes"],
                     large[0]["bytes"] / large[0]["best"] / 1e6,
                     f"{grown:.1f} times the input: {repeated:.1f} times the time (first parse of "
                     f"a process: {first:.1f}); json.loads on the records: {json_repeated:.1f} "
                     f"times"))

    notes = []
    for kind in ("Entity", "Role", "Resource"):
        _, repeated, first = factors(timed(build, kind, 100_000, 10),
                                     timed(build, kind, 1_000_000, 5))
        notes.append(f"{kind} {repeated:.1f} ({first:.1f})")
    rows.append(("Graph.parse, one declaration per line ten times", None, None,
                 "1,000,000 lines against 100,000, times the time (first parse): " +
                 ", ".join(notes)))
    return rows


def main():
    if len(sys.argv) < 2 or len(sys.argv) > 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    blocks = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    for label, size, rate, note in measure(os.path.abspath(sys.argv[1]), blocks):
        print(f"{label:<48} {size or '':>10} {f'{rate:.1f}' if rate else '':>8}  {note}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
