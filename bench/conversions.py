#!/usr/bin/python3
"""What converting open values costs: set_attribute, get_attribute and Expression.literal of five
values, beside json.dumps and json.loads of the same values.

usage: conversions.py [BUILD_DIR ...] [--processes N] [--cases "NAME|NAME..."]

The values: a small dict ({"a": 1, "b": "x", "c": [1, 2]}), 200,000 ints, 100,000 strs, 20,000
small records (dicts of an int, a str, a list of two strs and a bool), a list nested 5,000 deep,
dicts of 1,000, 10,000 and 100,000 distinct keys, 20,000 rows of an int, a float and a str as
tuples and as lists, and a bytes, a bytearray and a range of 1,000,000 elements (set and read
back only: Expression.literal and json refuse them). Each figure is the best of several rounds in a fresh interpreter, per call; the table gives
the lowest and highest over N processes (default 4). Given two or more builds, their processes
take turns (A B A B ...), so that all meet the machine in the same state, and each build after the
first gets a column of its ratio to the first. Run it pinned to one core (taskset -c 3) on a quiet
machine: the figures are wall-clock times. The collector stays on, as for users; each round starts
after a full collection.
"""

import gc
import json
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEEP = 5_000
ROUNDS = 7
# Each round makes at least this many calls and lasts at least about this long: a call that
# follows the collection before its round by little finds the allocator in another state than the
# calls after it.
ROUND_CALLS = 10
ROUND_SECONDS = 0.05


def values():
    deep = []
    for _ in range(DEEP - 1):
        deep = [deep]
    return {
        "small dict": {"a": 1, "b": "x", "c": [1, 2]},
        "200,000 ints": list(range(200_000)),
        "100,000 strs": [f"value {i}" for i in range(100_000)],
        "20,000 records": [{"id": i, "name": f"record {i}", "tags": ["a", "b"], "open": i % 2 == 0}
                           for i in range(20_000)],
        "5,000-deep list": deep,
        "1,000 keys": {f"key {i}": i for i in range(1_000)},
        "10,000 keys": {f"key {i}": i for i in range(10_000)},
        "100,000 keys": {f"key {i}": i for i in range(100_000)},
        "20,000 tuples": [(i, float(i), "t") for i in range(20_000)],
        "20,000 lists": [[i, float(i), "t"] for i in range(20_000)],
        "1,000,000 bytes": bytes(range(256)) * 3_907,
        "1,000,000 bytearray": bytearray(range(256)) * 3_907,
        "range(1,000,000)": range(1_000_000),
        "100,000 seven-key records": [
            {"id": i, "name": "n", "score": i * 1.5, "tags": ["a"], "open": True,
             "owner": f"owner {i % 100}", "rank": i % 7} for i in range(100_000)],
        "indexed records": {"index": {f"id{i}": i for i in range(1_000)},
                            "records": [{"id": i, "name": "n", "score": i * 1.5, "tags": ["a"],
                                         "open": True} for i in range(100_000)]},
        "20,000 list triples": [[[i], [i], [i]] for i in range(20_000)],
        "1,000 range(3)": [range(3)] * 1_000,
    }


CALLS = ("set_attribute", "get_attribute", "Expression.literal", "json.dumps", "json.loads")
# The memory held by what is read back, beside json.loads's.
HELD = "held by "
# Values that Expression.literal and json refuse: set_attribute and reading back only.
ARRAYS_ONLY = ("1,000,000 bytes", "1,000,000 bytearray", "range(1,000,000)", "1,000 range(3)")


def best_per_call(call):
    """The best time per call over ROUNDS rounds of `call` repeated."""
    start = time.perf_counter()
    call()
    once = time.perf_counter() - start
    repeat = max(ROUND_CALLS, int(ROUND_SECONDS / max(once, 1e-9)))
    best = float("inf")
    for _ in range(ROUNDS):
        gc.collect()
        start = time.perf_counter()
        for _ in range(repeat):
            call()
        best = min(best, (time.perf_counter() - start) / repeat)
    return best


def child(build, cases):
    """Per case and call, seconds per call, as JSON on standard output."""
    sys.path.insert(0, os.path.join(build, "python"))
    import vok_dsl  # noqa: E402  (the build's module)

    # The deep list takes a level of the recursion budget per list, in json too.
    sys.setrecursionlimit(3 * DEEP)
    entity = vok_dsl.Entity("E")
    literal = vok_dsl.Expression.literal
    result = {}
    for case, value in values().items():
        if case not in cases:
            continue
        entity.set_attribute("s", value)
        calls = {
            "set_attribute": lambda: entity.set_attribute("s", value),
            "get_attribute": lambda: entity.get_attribute("s"),
        }
        if case not in ARRAYS_ONLY:
            text = json.dumps(value)
            calls.update({
                "Expression.literal": lambda: literal(value),
                "json.dumps": lambda: json.dumps(value),
                "json.loads": lambda: json.loads(text),
            })
        result[case] = {name: best_per_call(call) for name, call in calls.items()}
        held = {"get_attribute": calls["get_attribute"]}
        if "json.loads" in calls:
            held["json.loads"] = calls["json.loads"]
        for name, call in held.items():
            result[case][HELD + name] = held_by(call)
    print(json.dumps(result))


def held_by(call):
    """The bytes of memory that what `call` returns holds, as the allocator counts them."""
    import tracemalloc

    gc.collect()
    tracemalloc.start()
    try:
        made = call()
        size = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    del made
    return size


def measure(builds, processes=4, cases=None):
    """{build: {case: {call: [seconds per call, one per process]}}}."""
    cases = list(cases or values())
    figures = {build: {} for build in builds}
    for _ in range(processes):
        for build in builds:
            out = subprocess.run(
                [sys.executable, os.path.abspath(__file__), "--child", build, "|".join(cases)],
                check=True, capture_output=True, text=True).stdout
            for case, calls in json.loads(out).items():
                for call, seconds in calls.items():
                    figures[build].setdefault(case, {}).setdefault(call, []).append(seconds)
    return figures


def shown(seconds):
    if seconds >= 1:  # bytes held
        return f"{seconds / 1e6:.2f} MB" if seconds >= 1e5 else f"{seconds / 1e3:.1f} kB"
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} us"
    return f"{seconds * 1e3:.2f} ms"


def spread(figures):
    low, high = shown(min(figures)), shown(max(figures))
    return low if low == high else f"{low}-{high}"


def ratio_spread(figures, reference):
    # Process by process, as the processes took turns; the median in brackets.
    ratios = sorted(a / b for a, b in zip(figures, reference))
    middle = len(ratios) // 2
    median = ratios[middle] if len(ratios) % 2 else (ratios[middle - 1] + ratios[middle]) / 2
    return f"{ratios[0]:.2f}-{ratios[-1]:.2f} ({median:.2f})"


def table(figures):
    builds = list(figures)
    first = figures[builds[0]]
    lines = []
    header = f"{'value':<19} {'call':<19}" + "".join(
        f" {os.path.basename(os.path.dirname(b)) or b:>21}" for b in builds)
    header += "".join(f" {'ratio ' + str(n + 2):>18}" for n in range(len(builds) - 1))
    lines.append(header)
    for case, calls in first.items():
        for call in CALLS + tuple(HELD + c for c in ("get_attribute", "json.loads")):
            if call not in calls:
                continue
            row = f"{case:<19} {call:<19}"
            row += "".join(f" {spread(figures[b][case][call]):>21}" for b in builds)
            if "json." not in call:
                row += "".join(
                    f" {ratio_spread(figures[b][case][call], first[case][call]):>18}"
                    for b in builds[1:])
            lines.append(row)
    return "\n".join(lines)


def rows(build):
    """Rows for run_all.py: per value, the three calls beside json.dumps and json.loads."""
    figures = measure([build], processes=2)[build]
    result = []
    for case, calls in figures.items():
        best = {call: min(seconds) for call, seconds in calls.items()}
        text = (f"set_attribute {shown(best['set_attribute'])}, get_attribute "
                f"{shown(best['get_attribute'])}")
        if "Expression.literal" in best:
            text += (f", Expression.literal {shown(best['Expression.literal'])}; json.dumps "
                     f"{shown(best['json.dumps'])}, json.loads {shown(best['json.loads'])}")
        result.append((f"conversions, {case}", None, None, text))
    return result


def main():
    args = sys.argv[1:]
    if args[:1] == ["--child"]:
        child(os.path.abspath(args[1]), args[2].split("|"))
        return
    processes = 4
    cases = None
    if "--processes" in args:
        at = args.index("--processes")
        processes = int(args[at + 1])
        del args[at:at + 2]
    if "--cases" in args:
        at = args.index("--cases")
        cases = args[at + 1].split("|")
        del args[at:at + 2]
    builds = [os.path.abspath(b) for b in args] or [os.path.join(ROOT, "build")]
    print(table(measure(builds, processes, cases)))


if __name__ == "__main__":
    main()
