#!/usr/bin/python3
"""What a short call costs, on the main thread and on threads with small stacks.

usage: small_stack_calls.py [BUILD_DIR]

Every call from Python passes the module's call frame, and a call made with little stack left (a
thread of `threading.stack_size(64 * 1024)`, say) runs its body on a stack segment of its own.
Times four calls that do little else: an enumeration member compared with another and with an
int (answered without the frame), `normalize_lookup_key("Hello World")` and
`Expression.literal(5)`, per call on the main thread and on threads of 64 and 192 KiB: each the
best of several rounds of 100,000 calls, less the time of the loop itself, the places taking turns
round by round so that all meet the machine in the same state. Reports each thread's time as a
multiple of the main thread's.
"""

import os
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CALLS = 100_000
ROUNDS = 7
STACKS_KIB = (64, 192)


def loops(vok_dsl):
    """Each call's label and a function timing CALLS of it; "loop" times the loop alone."""
    and_, or_ = vok_dsl.BinaryOp.And, vok_dsl.BinaryOp.Or
    normalize = vok_dsl.normalize_lookup_key
    literal = vok_dsl.Expression.literal

    def timed(body):
        start = time.perf_counter()
        body()
        return time.perf_counter() - start

    def empty():
        for _ in range(CALLS):
            pass

    def members():
        for _ in range(CALLS):
            and_ == or_  # noqa: B015

    def with_int():
        for _ in range(CALLS):
            and_ == 0  # noqa: B015

    def normalized():
        for _ in range(CALLS):
            normalize("Hello World")

    def literals():
        for _ in range(CALLS):
            literal(5)

    return {
        "loop": lambda: timed(empty),
        "BinaryOp.And == BinaryOp.Or": lambda: timed(members),
        "BinaryOp.And == 0": lambda: timed(with_int),
        "normalize_lookup_key": lambda: timed(normalized),
        "Expression.literal(5)": lambda: timed(literals),
    }


def one_round(vok_dsl):
    return {label: time_calls() for label, time_calls in loops(vok_dsl).items()}


def on_thread(vok_dsl, kib):
    result = []
    threading.stack_size(kib * 1024)
    try:
        thread = threading.Thread(target=lambda: result.append(one_round(vok_dsl)))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(0)
    return result[0]


def measure(build):
    """Per place and call, the best time per call in seconds, the loop's own time taken off:
    {"main": {label: s, ...}, 64: {...}, ...}."""
    sys.path.insert(0, os.path.join(build, "python"))
    import vok_dsl  # noqa: E402  (the build's module)

    best = {}
    for _ in range(ROUNDS):
        for place in ("main", *STACKS_KIB):
            seconds = one_round(vok_dsl) if place == "main" else on_thread(vok_dsl, place)
            kept = best.setdefault(place, {})
            for label, value in seconds.items():
                kept[label] = min(kept.get(label, value), value)
    return {place: {label: max(0.0, value - times["loop"]) / CALLS
                    for label, value in times.items() if label != "loop"}
            for place, times in best.items()}


def rows(build):
    best = measure(build)
    result = []
    for label, main in best["main"].items():
        notes = ", ".join(f"{kib} KiB {best[kib][label] / main:.2f}x" for kib in STACKS_KIB)
        result.append((f"{label}, per call", None, None,
                       f"main thread {main * 1e9:.0f} ns; threads: {notes}"))
    return result


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    best = measure(build)
    width = max(map(len, best["main"]))
    print(f"{'per call, loop taken off':<{width}}  {'main':>8}"
          + "".join(f"  {f'{kib} KiB':>16}" for kib in STACKS_KIB))
    for label, main_seconds in best["main"].items():
        line = f"{label:<{width}}  {main_seconds * 1e9:>5.1f} ns"
        for kib in STACKS_KIB:
            seconds = best[kib][label]
            line += f"  {seconds * 1e9:>5.1f} ns {seconds / main_seconds:>4.2f}x"
        print(line)


if __name__ == "__main__":
    main()
