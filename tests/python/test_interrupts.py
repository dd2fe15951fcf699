"""Long calls answer Ctrl-C, and running out of memory or reading an endless file ends in a clear
exception."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

import vok_dsl

# About 30 MB of declarations: parsing, formatting or writing the tree of this takes seconds.
LARGE_SOURCE = "\n".join(f'Entity "E{i}" v1.0.0 in d{i % 7}' for i in range(1_000_000))


@pytest.fixture
def interrupting_alarm():
    """SIGALRM raises KeyboardInterrupt, as Ctrl-C does, while the test runs."""

    def raise_interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, raise_interrupt)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


@pytest.mark.parametrize(
    "call",
    [
        vok_dsl.Graph.parse,
        vok_dsl.Graph.parse_to_ast_json,
        vok_dsl.format_source,
        vok_dsl.check_format,
    ],
    ids=lambda f: f.__name__,
)
def test_long_source_calls_stop_on_interrupt(call, interrupting_alarm):
    # The profiler tells a call that stopped with the exception from one that ran to its end
    # (after which the interrupt would be raised as well).
    endings = []

    def profiler(frame, event, arg):
        if event in ("c_return", "c_exception") and getattr(arg, "__name__", "") == call.__name__:
            endings.append(event)

    sys.setprofile(profiler)
    try:
        with pytest.raises(KeyboardInterrupt):
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            call(LARGE_SOURCE)
    finally:
        sys.setprofile(None)
    assert endings == ["c_exception"]


def test_registry_file_has_a_size_cap(tmp_path):
    # A sparse file just over the cap: read up to the cap, then refused.
    path = tmp_path / "huge.toml"
    with open(path, "wb") as file:
        file.truncate((1 << 20) + 1)
    with pytest.raises(RuntimeError, match=r"^Registry file too large: .*huge\.toml \(more than 1048576 bytes\)$"):
        vok_dsl.NamespaceRegistry.from_file(str(path))
    # An endless device is not read at all.
    with pytest.raises(
        RuntimeError,
        match=r"^Registry path is not a regular file: /dev/zero \(a character device\)$",
    ):
        vok_dsl.NamespaceRegistry.from_file("/dev/zero")


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer's allocator does not survive a capped address space",
)
def test_memory_error_names_the_operation():
    # In a child whose address space is capped, so that parsing runs out of memory quickly.
    script = textwrap.dedent(
        """
        import resource
        import vok_dsl
        source = "\\n".join(f'Entity "E{i}"' for i in range(1_500_000))
        # 64 MB beyond what the process maps already: far less than the graph alone needs.
        with open("/proc/self/status") as status:
            mapped = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) * 1024
        limit = mapped + (64 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            vok_dsl.Graph.parse(source)
        except MemoryError as error:
            print("MemoryError:", error)
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=300
    )
    assert result.stdout.strip() == "MemoryError: Out of memory in Graph.parse", result.stderr
