#!/usr/bin/python3
"""What a short call costs on threads with small stacks, against the main thread.

usage: small_stack_calls.py [BUILD_DIR]

A call made with little stack left (a thread of `threading.stack_size(64 * 1024)`, say) runs its
body on a stack segment of its own. Times `normalize_lookup_key("Hello World")`, a call that needs
little stack, per call on the main thread and on threads of 64, 192, 256 and 1,024 KiB: each the
best of several rounds of 100,000 calls, the places taking turns round by round so that all meet
the machine in the same state. Reports each thread's time as a multiple of the main thread's.
"""

import os
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CALLS = 100_000
ROUNDS = 7
STACKS_KIB = (64, 192, 256, 1024)


def per_call(vok_dsl):
    call = vok_dsl.normalize_lookup_key
    start = time.perf_counter()
    for _ in range(CALLS):
        call("Hello World")
    return (time.perf_counter() - start) / CALLS


def on_thread(vok_dsl, kib):
    result = []
    threading.stack_size(kib * 1024)
    try:
        thread = threading.Thread(target=lambda: result.append(per_call(vok_dsl)))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(0)
    return result[0]


def measure(build):
    """Per place, the best time per call in seconds: {"main": s, 64: s, ...}."""
    sys.path.insert(0, os.path.join(build, "python"))
    import vok_dsl  # noqa: E402  (the build's module)

    best = {}
    for _ in range(ROUNDS):
        for place in ("main", *STACKS_KIB):
            seconds = per_call(vok_dsl) if place == "main" else on_thread(vok_dsl, place)
            best[place] = min(best.get(place, seconds), seconds)
    return best


def rows(build):
    best = measure(build)
    main = best["main"]
    notes = ", ".join(f"{kib} KiB {best[kib] / main:.2f}x" for kib in STACKS_KIB)
    return [("normalize_lookup_key, per call", None, None,
             f"main thread {main * 1e6:.2f} us; threads: {notes}")]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    best = measure(build)
    main_thread = best["main"]
    print(f"main thread      {main_thread * 1e6:.3f} us per call")
    for kib in STACKS_KIB:
        print(f"{kib:>5} KiB thread {best[kib] * 1e6:.3f} us per call  "
              f"{best[kib] / main_thread:.2f}x the main thread")


if __name__ == "__main__":
    main()
