#!/usr/bin/python3
"""Graph.parse on two cores: the worker threads it chooses against none.

usage: workers.py BUILD_DIR [BLOCKS] [CORES]

Under `taskset -c CORES` (default: the last two CPUs this process may run on), the build's C++
workers_bench times parse_to_graph, what Graph.parse runs, on one-line declarations (4,000 and
100,000 pairs of `Entity "E<i>"` and `Policy p<i> as: x > <i>`) and on the generated model of
BLOCKS blocks (default 1000) and of ten times as many. The ways of running take turns round by
round; each is reported as its time over the time without workers in the same round, the median
of those ratios with their middle half in brackets. "chosen" is what Graph.parse does;
"declaration workers" and "parts" force one kind of worker on whatever the file, as a parse that
always started them would. On a shared machine the ratios spread; a ratio from one round compares
runs made moments apart.
"""

import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

WAYS = (("chosen", "chosen"), ("declarations", "declaration workers"), ("parts", "parts"))


def one_line_declarations(count):
    return "".join(f'Entity "E{i}"\nPolicy p{i} as: x > {i}\n' for i in range(count))


def ratios(build, cores, path, rounds):
    """Per way: the sorted ratios of its time to the time without workers, round by round."""
    out = subprocess.run(["taskset", "-c", cores, os.path.join(build, "bench", "workers_bench"),
                          path, str(rounds)], check=True, capture_output=True, text=True).stdout
    times = {}
    for line in out.splitlines()[1:]:
        name, rest = line.split(None, 1)
        times[name] = [float(t) for t in rest.split("cpu:")[0].split()[1:]]
    none = times["none"]
    return min(none), {way: sorted(t / n for t, n in zip(times[way], none)) for way, _ in WAYS}


def summary(values):
    quarter = len(values) // 4
    middle = values[len(values) // 2]
    return f"{middle:.2f} [{values[quarter]:.2f}-{values[-1 - quarter]:.2f}]"


def default_cores():
    available = sorted(os.sched_getaffinity(0))
    return ",".join(str(c) for c in available[-2:]) if len(available) >= 2 else None


def measure(build, blocks=1000, cores=None):
    """Rows for run_all.py: (label, bytes, MB/s without workers (best round), note)."""
    cores = cores or default_cores()
    if cores is None:
        return [("2 cores, workers against none", None, None, "needs two cores")]
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        inputs = []
        for count, rounds in ((4_000, 41), (100_000, 15)):
            path = os.path.join(tmp, f"lines{count}.vok")
            with open(path, "w", encoding="utf-8") as f:
                f.write(one_line_declarations(count))
            inputs.append((f"{count:,} one-line pairs", path, rounds))
        for scale, rounds in ((1, 15), (10, 5)):
            path = os.path.join(tmp, f"model{scale}.vok")
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "generate_model.py"), path,
                            str(blocks * scale)], check=True)
            inputs.append((f"model of {blocks * scale} blocks", path, rounds))
        for label, path, rounds in inputs:
            size = os.path.getsize(path)
            fastest_alone, by_way = ratios(build, cores, path, rounds)
            note = ", ".join(f"{name} {summary(by_way[way])}" for way, name in WAYS)
            rows.append((f"2 cores, {label}", size, size / fastest_alone / 1e6,
                         f"cores {cores}, time / no workers: {note}"))
    return rows


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    blocks = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    cores = sys.argv[3] if len(sys.argv) > 3 else None
    for label, size, mbs, note in measure(build, blocks, cores):
        rate = "" if mbs is None else f"{mbs:.1f}"
        print(f"{label:<38} {size or '':>10} {rate:>8}  {note}")


if __name__ == "__main__":
    main()
