"""How promptly a call into vok_dsl would act on Ctrl-C, measured in CPU time of the calling thread.

A busy machine stretches the wall-clock time of a call but not the CPU time its thread spends, so
these measures do not move with the load. A profiling timer (SIGPROF every TICK seconds of the
process's CPU time) stands in for Ctrl-C: its handler runs only when the call consults the
interpreter's signal check, so the longest stretch of the thread's CPU time between two handler
runs is the most work the call does without a chance to stop. A call polls as it should when that
stretch is a small share of the call (ALLOWED_SHARE), or below a floor that noise cannot reach
(FLOOR): a loop that never polls shows as a stretch of nearly its whole length. The same bound
applies to the CPU time from a handler's KeyboardInterrupt to the call's end, which is what
dropping the half-built work costs.

What a stretch costs in CPU time also depends on the machine: a page fault costs 2 µs on one and
20 µs on another, so a call that writes much fresh memory between two polls is within its bound on
the first and over it on the second. The thread's minor page faults do not depend on what a fault
costs: counted at each run of a second handler, on a real-time timer so frequent (PAGE_TICK) that
its signal is waiting at nearly every poll, the most of them between two runs is the most fresh
memory the call writes without a chance to stop, which is bounded on every machine alike
(PAGE_BOUND).

The latencies in seconds are bench/interrupt_latency.py's to report, on a quiet machine.
"""

import os
import resource
import signal
import sys
import time

TICK = 0.005
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
# Seconds of the thread's CPU time, which the sanitized build spends several times as fast. A
# call's healthy stretches are at most a few hundredths of a second, or a few hundredths of its
# length; a loop that does not poll is several times either.
FLOOR = 0.3 if SANITIZED else 0.1
ALLOWED_SHARE = 0.08
# Pages of fresh memory the thread may fault in between two polls: 16 MB, 0.08 s at 20 µs a fault,
# within FLOOR wherever faults are that slow. A value copied in pieces with a poll between them
# faults in a piece a stretch (the pieces of a long text are 8 MB); one copied whole, all of it.
# The sanitizer faults in more (its shadow memory, and fresh memory where freed memory waits in its
# quarantine), but at the tenth-size inputs its runs use, calls that poll stay within 3,300 pages.
PAGE_BOUND = 4096
PAGE_SIZE = resource.getpagesize()
# Wall-clock seconds between the signals of the timer the pages are counted at. The profiling
# timer (TICK) comes only at the kernel's clock tick, 4 ms or more, in which a call that polls
# often but writes fresh memory at 2 µs a page faults in thousands; in 0.2 ms it faults in a hundred
# at most (a thousand where faults cost 0.2 µs), and a thread kept from its CPU finds the signal
# waiting at its next poll.
PAGE_TICK = 0.0002


# Even CPU time can come out long once: in a virtual machine the thread is charged for what its
# host does in the middle of a step (taking the CPU, faulting in fresh memory), and a busy host
# can stretch a 0.05 s step of an export to nearly half a second. A measurement over its bound
# is taken again, up to TRIES times in all, and the best counts: a loop that does not poll is
# over its bound every time. Page faults do not move with the load but do with what the process
# did before: a first run may fault in memory that the runs after it find already mapped (the
# allocator keeps what the first run freed). A count over PAGE_BOUND is taken again as well, and
# the smallest counts.
TRIES = 3


def allowance(call_cpu):
    """The longest stretch without a poll that a call of `call_cpu` CPU seconds may have."""
    return max(FLOOR, ALLOWED_SHARE * call_cpu)


def longest_poll_gap(call, name="the call"):
    """Runs `call` under the profiling and page timers; returns the longest stretch of the thread's
    CPU time between two chances to act on a signal, the thread's CPU time of the whole call, and
    the process's (worker threads included, which the profiling timer counts). A stretch over the
    call's allowance, or over PAGE_BOUND fresh pages, is measured again (TRIES); the run with the
    shortest stretch of CPU time is returned, and the fewest fresh pages of any run must be within
    PAGE_BOUND."""
    best = None
    fewest = None
    for _ in range(TRIES):
        gap, pages, thread_cpu, process_cpu = _one_poll_gap(call)
        if best is None or gap < best[0]:
            best = gap, thread_cpu, process_cpu
        fewest = pages if fewest is None else min(fewest, pages)
        if best[0] <= allowance(best[1]) and fewest <= PAGE_BOUND:
            break
    assert fewest <= PAGE_BOUND, (
        f"{name}: {fewest} fresh pages ({fewest * PAGE_SIZE >> 20} MB) without a poll")
    return best


def _faults():
    return resource.getrusage(resource.RUSAGE_THREAD).ru_minflt


def _one_poll_gap(call):
    """One run of `call`: the longest stretch between two polls in the thread's CPU time and in its
    fresh pages, the thread's CPU time of the call and the process's."""
    handled = []
    faulted = []
    previous = signal.signal(
        signal.SIGPROF, lambda signum, frame: handled.append(time.thread_time()))
    previous_alarm = signal.signal(
        signal.SIGALRM, lambda signum, frame: faulted.append(_faults()))
    try:
        start, process_start, start_faults = time.thread_time(), time.process_time(), _faults()
        signal.setitimer(signal.ITIMER_PROF, TICK, TICK)
        signal.setitimer(signal.ITIMER_REAL, PAGE_TICK, PAGE_TICK)
        try:
            call()
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.setitimer(signal.ITIMER_PROF, 0)
        end, process_end, end_faults = time.thread_time(), time.process_time(), _faults()
    finally:
        signal.signal(signal.SIGALRM, previous_alarm)
        signal.signal(signal.SIGPROF, previous)
    moments = [start] + [t for t in handled if t <= end] + [end]
    gap = max(b - a for a, b in zip(moments, moments[1:]))
    counts = [start_faults] + faulted + [end_faults]
    pages = max(b - a for a, b in zip(counts, counts[1:]))
    return gap, pages, end - start, process_end - process_start


def interrupt(call, name, delay):
    """Calls `call` with a KeyboardInterrupt signal after `delay` seconds of the process's CPU
    time. Returns whether the call itself ended with the exception (rather than running to its
    end, the exception following it), and the thread's CPU time and minor page faults from the
    handler to the call's end."""
    endings = []
    raised = []

    def profiler(frame, event, arg):
        if event in ("c_return", "c_exception") and getattr(arg, "__name__", "") == name:
            endings.append(event)

    def raise_interrupt(signum, frame):
        raised.append((time.thread_time(), _faults()))
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGPROF, raise_interrupt)
    sys.setprofile(profiler)
    stopped = None
    try:
        try:
            signal.setitimer(signal.ITIMER_PROF, delay)
            try:
                call()
            finally:
                signal.setitimer(signal.ITIMER_PROF, 0)
        except KeyboardInterrupt:
            stopped = time.thread_time(), _faults()
    finally:
        sys.setprofile(None)
        signal.signal(signal.SIGPROF, previous)
    if endings != ["c_exception"]:
        return False, None, None
    return True, stopped[0] - raised[0][0], stopped[1] - raised[0][1]


def check_polls(call, name, fractions=(0.4,)):
    """Asserts that `call` (whose Python-visible name is `name`) never goes longer than its
    allowance without a poll, nor faults in more than PAGE_BOUND fresh pages, and that a signal at
    each fraction of its CPU time ends it with the exception within the allowance. Returns the
    call's CPU seconds."""
    gap, thread_cpu, process_cpu = longest_poll_gap(call, name)
    bound = allowance(thread_cpu)
    assert gap <= bound, f"{name}: {gap:.3f} s of {thread_cpu:.3f} s CPU without a poll"
    for fraction in fractions:
        delay = process_cpu * fraction
        shortest = None
        for _ in range(TRIES):
            interrupted, unwinding, _ = interrupt(call, name, delay)
            if not interrupted:
                # The run that measured the call may have been stretched (see TRIES), putting the
                # signal after the call's end: it comes earlier the next time.
                delay /= 2
                continue
            shortest = unwinding if shortest is None else min(shortest, unwinding)
            if shortest <= bound:
                break
        assert shortest is not None, f"{name} ran to its end"
        assert shortest <= bound, f"{name}: stopped {shortest:.3f} s CPU after the signal"
    return thread_cpu
