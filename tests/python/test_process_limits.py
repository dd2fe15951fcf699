"""What a program may do around a call never ends or hangs the interpreter: Python signal handlers
that run while a call polls (and call the module themselves), threads with small stacks and
lowered stack limits, caps on memory, and a libcrypto that offers no SHA-256.

Every case runs in child processes, so that a crash fails the test with its signal and a hang
with its timeout, and scans a range (of stack sizes, of caps) rather than single points: where a
process fails depends on the exact amount it has.
"""

import concurrent.futures
import json
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import vok_dsl
from poll_gaps import SANITIZED

ROOT = Path(__file__).resolve().parents[2]
MODULE_DIR = str(Path(vok_dsl.__file__).parent)
TESTS_DIR = str(Path(__file__).resolve().parent)
WORKERS = max(2, len(os.sched_getaffinity(0)))
# A hang fails here instead of holding up the run.
TIMEOUT = 120

NOT_CHAIN = "Policy p as: " + "not " * 9000 + "a"

capped = pytest.mark.skipif(
    SANITIZED, reason="the sanitizer's allocator does not survive a capped address space"
)


def run_child(script, *args, env=None, prefix=()):
    """Runs `script` in a fresh interpreter that imports this build; (exit code, stdout, stderr).
    A negative exit code is the signal that ended it."""
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join([MODULE_DIR, TESTS_DIR]))
    environment.update(env or {})
    try:
        done = subprocess.run([*prefix, sys.executable, "-c", script, *map(str, args)],
                              capture_output=True, text=True, timeout=TIMEOUT, env=environment)
    except subprocess.TimeoutExpired:
        return "hung", "", ""
    return done.returncode, done.stdout, done.stderr


def run_children(script, argument_lists, **options):
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        return list(pool.map(lambda args: run_child(script, *args, **options), argument_lists))


def failures(argument_lists, results, expected=None):
    """The runs that crashed, hung or printed other than `expected` (when given)."""
    return [(args, code, out[-300:], err[-300:])
            for args, (code, out, err) in zip(argument_lists, results)
            if code != 0 or (expected is not None and out != expected)]


@pytest.fixture(scope="module")
def model(tmp_path_factory):
    """The 3.1 MB benchmark model: every kind of declaration, many times over."""
    path = tmp_path_factory.mktemp("model") / "model.vok"
    subprocess.run([sys.executable, str(ROOT / "bench" / "generate_model.py"), str(path), "1000"],
                   check=True)
    return path


# ---- Python signal handlers ----------------------------------------------------------------

# Each runs while a call polls, on the thread that made the call, and may run for long enough that
# the interpreter lets another thread run in between. Neither may meet a lock the call holds.
HANDLER_CASES = {
    # A handler raises while another thread keeps registering units of its own.
    "raising, with a registering thread": """
        import signal, threading, vok_dsl
        big = "".join(f'Unit "u{i}" of "Mass" factor 2 base "kg"\\n' for i in range(20000))
        def on_alarm(signum, frame): raise KeyboardInterrupt
        signal.signal(signal.SIGALRM, on_alarm)
        def worker():
            i = 0
            while True:
                vok_dsl.Graph.parse(f'Unit "w{i}" of "Length" factor 5 base "m"\\n'); i += 1
        threading.Thread(target=worker, daemon=True).start()
        for r in range(100):
            signal.setitimer(signal.ITIMER_REAL, 0.005)
            try: vok_dsl.Graph.parse(big)
            except KeyboardInterrupt: pass
        """,
    # A handler that does nothing, often, while another thread only reads the registry.
    "idle, with a reading thread": """
        import signal, threading, vok_dsl
        big = "".join(f'Unit "u{i}" of "Mass" factor 2 base "kg"\\n' for i in range(20000))
        signal.signal(signal.SIGALRM, lambda s, f: None)
        def worker():
            while True:
                vok_dsl.Graph.parse('Resource "R" kg\\n')
        threading.Thread(target=worker, daemon=True).start()
        signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
        for r in range(20):
            vok_dsl.Graph.parse(big)
        signal.setitimer(signal.ITIMER_REAL, 0)
        """,
    # The handler itself registers units and reads the registry, on the calling thread.
    "parsing in the handler": """
        import signal, vok_dsl
        calls = [0]
        running = [False]
        def handler(s, f):
            # A parse can outlast the timer's interval: the timer that fires meanwhile finds this
            # handler running and returns at once, rather than nesting until the recursion limit.
            if running[0]:
                return
            running[0] = True
            try:
                calls[0] += 1
                vok_dsl.Graph.parse(f'Unit "h{calls[0]}" of "Length" factor 3 base "m"\\n'
                                    'Resource "R" kg\\n')
            finally:
                running[0] = False
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.0003, 0.0003)
        for r in range(6):
            vok_dsl.Graph.parse("".join(f'Unit "r{r}_{i}" of "Mass" factor 2 base "kg"\\n'
                                        for i in range(30000)))
        signal.setitimer(signal.ITIMER_REAL, 0)
        assert calls[0] > 0
        """,
    # A sampling profiler's handler during a large model, with a thread registering units.
    "sampling, with a registering thread": """
        import signal, sys, threading, vok_dsl
        source = open(sys.argv[1], encoding="utf-8").read()
        samples = []
        signal.signal(signal.SIGALRM, lambda s, f: samples.append(f.f_lineno if f else 0))
        def worker():
            i = 0
            while True:
                vok_dsl.Graph.parse(f'Unit "p{i}" of "Length" factor 7 base "m"\\n'); i += 1
        threading.Thread(target=worker, daemon=True).start()
        signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
        for r in range(4):
            vok_dsl.Graph.parse(source)
        signal.setitimer(signal.ITIMER_REAL, 0)
        """,
}


@pytest.mark.parametrize("case", HANDLER_CASES)
def test_signal_handlers_never_meet_a_lock_the_call_holds(case, model):
    script = textwrap.dedent(HANDLER_CASES[case]) + "print('finished')\n"
    # Twice: whether the handler lands while the lock is held is a matter of timing.
    results = run_children(script, [(model,), (model,)])
    for code, out, err in results:
        assert (code, out) == (0, "finished\n"), err[-2000:]


def test_a_handler_may_call_the_module_while_a_call_polls(model):
    # The handler's calls give what they give anywhere, and the interrupted call the result it
    # would have had without them.
    script = textwrap.dedent("""
        import json, signal, sys, vok_dsl
        from authority_documents import READ_WRITE, request
        model = open(sys.argv[1], encoding="utf-8").read()
        units = "".join(f'Unit "q{i}" of "Mass" factor 3 base "kg"\\n' for i in range(20000))
        flows = "Entity \\"A\\"\\nEntity \\"B\\"\\nResource \\"R\\" kg\\n" + \\
            "Flow \\"R\\" from \\"A\\" to \\"B\\" quantity 2\\n" * 20000
        policy = json.dumps({"id": "07342664-9f2f-5afc-8222-ce5de9c154bf", "name": "p",
            "namespace": "n", "version": [1, 0, 0], "modality": "Obligation",
            "kind": "Constraint", "priority": 0, "tags": [], "expression": {"Quantifier": {
                "quantifier": "ForAll", "variable": "f",
                "collection": {"Variable": "flows"},
                "condition": {"Binary": {"op": "GreaterThan",
                    "left": {"MemberAccess": {"object": "f", "member": "quantity"}},
                    "right": {"Literal": 1}}}}}})
        big_graph = vok_dsl.Graph.parse(flows)
        outer = {
            "parse": lambda: vok_dsl.Graph.parse(model + units).entity_count(),
            "format": lambda: vok_dsl.format_source(model),
            "ast": lambda: len(vok_dsl.Graph.parse_to_ast_json(model)),
            "evaluate": lambda: big_graph.evaluate_policy(policy).is_satisfied,
            "export": lambda: big_graph.export_protobuf("p"),
        }
        small_graph = vok_dsl.Graph.parse('Entity "A"\\nEntity "B"\\nResource "R" kg\\n'
                                          'Flow "R" from "A" to "B" quantity 2\\n')
        inner = [
            lambda: vok_dsl.Graph.parse('Unit "hz" of "Mass" factor 4 base "kg"\\n'
                                        'Resource "R" hz\\n').resource_count(),
            lambda: vok_dsl.format_source('Entity   "A"'),
            lambda: small_graph.evaluate_policy(policy).is_satisfied,
            lambda: small_graph.export_protobuf("p"),
            lambda: vok_dsl.normalize_lookup_key("  Some  TEXT "),
            lambda: json.loads(vok_dsl.evaluate_authority(READ_WRITE, request(), "[]")[1])
                ["final_decision"],
        ]
        expected_inner = [call() for call in inner]
        expected = {name: call() for name, call in outer.items()}
        calls = [0]
        depth = [0]
        def handler(signum, frame):
            # Handlers nest when the timer fires again while one runs. Three levels deep, the
            # timer's run returns at once: a handler slower than the timer would otherwise nest
            # until the recursion limit.
            if depth[0] == 3:
                return
            depth[0] += 1
            try:
                which = calls[0] % len(inner)
                calls[0] += 1
                assert inner[which]() == expected_inner[which], which
            finally:
                depth[0] -= 1
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
        try:
            for name, call in outer.items():
                assert call() == expected[name], name
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        assert calls[0] > len(inner)
        print("finished")
        """)
    code, out, err = run_child(script, model)
    assert (code, out) == (0, "finished\n"), err[-2000:]


# ---- Stack room ------------------------------------------------------------------------------

# Deep input through every entry that reads it: a 9,000-deep policy, a 100,000-term sum, and a
# 60-deep policy document (about 3 KB of reader frames a level).
DEEP_INPUTS = textwrap.dedent("""
    import json, sys, threading, vok_dsl
    NOT_CHAIN = "Policy p as: " + "not " * 9000 + "a"
    SUM = "Policy p as: " + "a + " * 100000 + "a > 0"
    POLICY = ('{"id":"07342664-9f2f-5afc-8222-ce5de9c154bf","name":"p","namespace":"n",'
              '"version":[1,0,0],"expression":' + '{"Unary":{"op":"Not","operand":' * 60 +
              '{"Variable":"x"}' + "}}" * 60 + ',"modality":"Obligation",'
              '"kind":"Constraint","priority":0,"tags":[]}')
    # Made on the main thread, before any limit.
    CALM = {text: vok_dsl.Graph.parse(text).export_calm() for text in (NOT_CHAIN, SUM)}

    def outcome(call):
        try:
            call()
            return "ok"
        except Exception as error:
            return type(error).__name__ + ": " + str(error)[:60]

    def run_all():
        lines = []
        for text in (NOT_CHAIN, SUM):
            lines.append(outcome(lambda: vok_dsl.format_source(text)))
            lines.append(outcome(lambda: vok_dsl.Graph.parse(text)))
            lines.append(outcome(lambda: vok_dsl.Graph.parse_to_ast_json(text)))
            lines.append(outcome(lambda: vok_dsl.Graph.import_calm(CALM[text])))
        lines.append(outcome(lambda: vok_dsl.Graph().add_policy(POLICY)))
        lines.append(outcome(lambda: vok_dsl.Graph().evaluate_policy(POLICY)))
        return "\\n".join(lines) + "\\n"
""")

ON_A_THREAD = DEEP_INPUTS + textwrap.dedent("""
    threading.stack_size(int(sys.argv[1]) * 1024)
    results = []
    thread = threading.Thread(target=lambda: results.append(run_all()))
    thread.start()
    thread.join()
    print(results[0], end="")
""")

ON_THE_MAIN_THREAD = DEEP_INPUTS + textwrap.dedent("""
    if len(sys.argv) > 1:
        import resource
        run_all()  # the stack's limit as it was is known from here on
        resource.setrlimit(resource.RLIMIT_STACK, (int(sys.argv[1]) * 1024, resource.RLIM_INFINITY))
    print(run_all(), end="")
""")


@pytest.fixture(scope="module")
def deep_outcomes():
    code, out, err = run_child(ON_THE_MAIN_THREAD)
    assert code == 0, err[-2000:]
    return out


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's own frames need more than such stacks")
def test_threads_with_small_stacks_take_deep_input(deep_outcomes):
    sizes = [(kib,) for kib in range(48, 257, 8)]
    results = run_children(ON_A_THREAD, sizes)
    assert failures(sizes, results, deep_outcomes) == []


def test_stack_limits_set_before_or_during_the_run(deep_outcomes):
    limits = ["131072", "262144", "1048576", "8388608", "unlimited"]
    results = [run_child(ON_THE_MAIN_THREAD, prefix=("prlimit", f"--stack={limit}"))
               for limit in limits]
    assert failures(limits, results, deep_outcomes) == []
    lowered = [(128,), (512,), (2048,)]
    assert failures(lowered, run_children(ON_THE_MAIN_THREAD, lowered), deep_outcomes) == []


# ---- Python code the module calls ------------------------------------------------------------

# A conversion reaches Python code (__getitem__, __index__) at the bottom of a nested value, and the
# code recurses deeply itself, as much as it could at the call site.
CALLBACK_AT_DEPTH = textwrap.dedent("""
    import sys, threading, vok_dsl
    sys.setrecursionlimit(12000)
    class Node:
        def __init__(self, child): self.child = child
        def __repr__(self): return "Node(" + repr(self.child) + ")"
    chain = None
    for _ in range(900): chain = Node(chain)
    class Items:
        def __len__(self): return 1
        def __getitem__(self, i):
            if i: raise IndexError
            repr(chain)
            return 0
    class Indexed:
        def __index__(self):
            repr(chain)
            return 0
    def convert(depth):
        attribute, literal = [Items()], [Indexed()]
        for _ in range(depth):
            attribute, literal = [attribute], [literal]
        outcomes = []
        for call in (lambda: vok_dsl.Entity("E").set_attribute("v", attribute),
                     lambda: vok_dsl.Expression.literal(literal)):
            try:
                call()
                outcomes.append("ok")
            except RecursionError:
                outcomes.append("RecursionError")
        return outcomes
    def run():
        seen = set()
        for depth in map(int, sys.argv[2].split(",")):
            seen.update(convert(depth))
        print(" ".join(sorted(seen)))
    if int(sys.argv[1]):
        threading.stack_size(int(sys.argv[1]))
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    else:
        run()
""")


def test_python_code_called_at_depth_has_the_room_of_the_call():
    # Where the stack runs out depends on the exact depth: every 20th up to the module's own
    # limit of 10,000 levels on the main thread, and every 10th to 3,000 on a 1 MiB thread.
    runs = [(0, ",".join(map(str, range(start, 10001, 20 * WORKERS))))
            for start in range(0, 20 * WORKERS, 20)]
    runs += [(1 << 20, ",".join(map(str, range(start, 3001, 10 * WORKERS))))
             for start in range(0, 10 * WORKERS, 10)]
    results = run_children(CALLBACK_AT_DEPTH, runs)
    assert failures(runs, results) == []
    assert {out for _, out, _ in results} <= {"ok\n", "RecursionError ok\n"}


def test_a_signal_handler_run_at_depth_has_the_room_of_the_call():
    # The handler runs where a poll finds its signal: at every 40th level of a recursion whose
    # levels take about a kilobyte, past the end of the main stack and of the first segment.
    script = textwrap.dedent("""
        import signal, sys, _vok_testhooks as hooks
        sys.setrecursionlimit(12000)
        class Node:
            def __init__(self, child): self.child = child
            def __repr__(self): return "Node(" + repr(self.child) + ")"
        chain = None
        for _ in range(1500): chain = Node(chain)
        calls = [0]
        def handler(signum, frame):
            calls[0] += 1
            repr(chain)
        signal.signal(signal.SIGUSR1, handler)
        depths = list(map(int, sys.argv[1].split(",")))
        for depth in depths:
            hooks.poll_at_depth(depth, signal.SIGUSR1)
        print(calls[0] == len(depths))
    """)
    runs = [(",".join(map(str, range(start, 26001, 40 * WORKERS))),)
            for start in range(0, 40 * WORKERS, 40)]
    assert failures(runs, run_children(script, runs), "True\n") == []


def test_exceptions_of_python_code_a_conversion_calls_are_not_swallowed():
    # A Ctrl-C that lands in __index__, or anything __index__ or __float__ raises for its own
    # reasons, ends the call; the method is not asked again. Only a TypeError ("not a number")
    # moves on to the next rule.
    script = textwrap.dedent("""
        import signal, vok_dsl
        from vok_dsl import BinaryOp, Expression
        # Python leaves SIGINT alone when it starts with the signal ignored, as it is for a
        # command a script sends to the background.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        class Number:
            def __init__(self, error):
                self.calls, self.error = 0, error
            def answer(self):
                self.calls += 1
                if self.error == "interrupt":
                    # Raised on this thread and handled before raise_signal returns: a signal
                    # sent to the process may be taken by another thread, and handled late.
                    signal.raise_signal(signal.SIGINT)
                raise self.error
        class Index(Number):
            def __index__(self): return self.answer()
        class Float(Number):
            def __float__(self): return self.answer()
        class IndexThenFloat(Number):
            def __index__(self): return self.answer()
            def __float__(self): return 1.5
        def outcome(call, number):
            try:
                result = call(number)
            except BaseException as error:
                result = type(error).__name__
            return f"{result} {number.calls}"
        literal = lambda n: Expression.literal(n) == Expression.literal(1.5) or "other"
        equal = lambda n: BinaryOp.And == n
        for kind, error in [(Index, "interrupt"), (Index, MemoryError()),
                            (Index, SystemExit(3)), (Index, ValueError("own")),
                            (Float, "interrupt"), (Float, MemoryError()),
                            (Float, RuntimeError("own")), (IndexThenFloat, TypeError("no")),
                            (Index, TypeError("no"))]:
            line = [kind.__name__, outcome(literal, kind(error))]
            if kind is Index:
                line.append(outcome(equal, kind(error)))
            print(*line)
    """)
    code, out, err = run_child(script)
    assert code == 0, err[-2000:]
    assert out.splitlines() == [
        "Index KeyboardInterrupt 1 KeyboardInterrupt 1",
        "Index MemoryError 1 MemoryError 1",
        "Index SystemExit 1 SystemExit 1",
        "Index ValueError 1 ValueError 1",
        "Float KeyboardInterrupt 1",
        "Float MemoryError 1",
        "Float RuntimeError 1",
        "IndexThenFloat True 1",
        "Index ValueError 1 False 1",
    ]


# ---- Python code the collector runs ----------------------------------------------------------

# The collector runs inside any allocation of a tracked object, and with it finalizers and weakref
# callbacks of whatever cyclic garbage there is. Conversions allocate at every level of a nested
# value; the finalizer then recurses as deeply as it could at the call site.
COLLECTOR_AT_DEPTH = textwrap.dedent("""
    import gc, sys, threading, weakref, vok_dsl
    sys.setrecursionlimit(100_000)
    stack, kind = int(sys.argv[1]), sys.argv[2]
    depths = list(map(int, sys.argv[3].split(",")))
    chain = []
    for _ in range(2_000 if stack else 10_000): chain = [chain]
    armed = False
    callbacks = set()
    class Garbage:  # a cycle: only the collector frees it
        def __init__(self):
            self.me = self
            if kind == "weakref": callbacks.add(weakref.ref(self, callback))
        def __del__(self):
            if kind == "del": work()
    def callback(ref):
        callbacks.discard(ref)
        work()
    def work():
        if armed:
            len(repr(chain))
            Garbage()
    def convert(depth):
        global armed
        value = 1
        for level in range(depth): value = {"k": value} if level % 2 else [value]
        entity = vok_dsl.Entity("E")
        entity.set_attribute("x", value)
        armed = True
        Garbage()
        try:
            for _ in range(3): entity.get_attribute("x")
            entity.set_attribute("x", value)
            vok_dsl.Expression.literal(value)
            return "ok"
        except RecursionError:
            return "RecursionError"
        finally:
            armed = False
    def run():
        print(" ".join(sorted({convert(depth) for depth in depths})))
    gc.set_threshold(100 if stack else 700)
    if stack:
        threading.stack_size(stack)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    else:
        run()
""")


def test_python_code_the_collector_runs_at_depth_has_the_room_of_the_call():
    runs = [(stack, kind, depths) for kind in ("del", "weakref")
            for stack, depths in [(0, "3000,9999"), (1 << 20, "1200,2000")]]
    results = run_children(COLLECTOR_AT_DEPTH, runs)
    assert failures(runs, results) == []
    assert {out for _, out, _ in results} <= {"ok\n", "RecursionError\n", "RecursionError ok\n"}


# Python code run while a dict's value is converted reaches the list of items being walked
# (gc.get_referrers is public) and empties it, or fills it with anything, and empties the dict:
# the entry being converted, its key and its value must outlive that.
EMPTIED_ITEMS = textwrap.dedent("""
    import gc, sys, vok_dsl
    case = sys.argv[1]
    # Freed with the entry unless the conversion holds it; long enough to come from malloc, where
    # AddressSanitizer sees a use after it is freed.
    key = "".join(["k"] * 600)
    def empty_items():
        # The conversion's own list of the dict's keys and values (or of a mapping's items).
        referrers = gc.get_referrers(marker)
        lists = [holder for holder in referrers if type(holder) is list]
        lists += [holder for entry in referrers if type(entry) is tuple and len(entry) == 2
                  for holder in gc.get_referrers(entry) if type(holder) is list]
        if lists:
            data.clear()
            for holder in lists:
                holder[:] = [0, 1, 2, 3] if case == "refilled" else []
        return bool(lists)
    class Index:
        def __index__(self):
            empty_items()
            return 7
    class Items:
        def __len__(self): return 1
        def __getitem__(self, i):
            if i: raise IndexError
            empty_items()
            return 7
    class Emptier:  # cyclic garbage whose finalizer tries until the items list exists
        def __init__(self): self.me = self
        def __del__(self):
            if armed and not empty_items(): Emptier()
    armed = False
    marker = {"literal": Index, "refilled": Index, "sequence": Items}.get(case, set)()
    if case == "collector": marker.update((1, 2))
    data = {key: marker, "z": 1}
    del key
    entity = vok_dsl.Entity("E")
    try:
        if case in ("literal", "refilled"):
            vok_dsl.Expression.literal(data)
        else:
            if case == "collector":
                armed = True
                Emptier()
                gc.set_threshold(1)
            entity.set_attribute("v", data)
            gc.set_threshold(700)
            armed = False
            print(sorted(entity.get_attribute("v").items()))
        print("ok")
    except TypeError as error:
        print(type(error).__name__)
""")


@pytest.mark.parametrize("case", ["literal", "refilled", "sequence", "collector"])
def test_a_dicts_items_emptied_while_they_are_converted(case):
    # The entry converted first stays, with its key; nothing after it is read.
    expected = {"literal": "ok", "refilled": "TypeError",
                "sequence": f"[('{'k' * 600}', [7])]\nok",
                "collector": f"[('{'k' * 600}', [1, 2])]\nok"}[case]
    code, out, err = run_child(EMPTIED_ITEMS, case)
    assert (code, out) == (0, expected + "\n"), err[-2000:]


# A list given to set_attribute is copied before it is walked. Making the copy can run the
# collector, and with it a callback or a finalizer that empties or shortens the list (freeing the
# items it held): the copy is the list as it was at one moment, before or after.
CHANGED_WHILE_COPIED = textwrap.dedent("""
    import gc, sys, vok_dsl
    case = sys.argv[1]
    target = [str(i) * 20 for i in range(2000)]  # long enough to come from malloc
    before = list(target)
    armed = False
    def change():
        global armed
        if armed:
            armed = False
            if case == "shortened":
                del target[10:]
            else:
                target.clear()
    class Garbage:  # a cycle: only the collector frees it
        def __init__(self): self.me = self
        def __del__(self): change()
    if case != "finalizer":
        gc.callbacks.append(lambda phase, info: change())
    entity = vok_dsl.Entity("E")
    # The first object the call makes is the copy: the collection falls due there.
    gc.set_threshold(100000)
    gc.collect()
    hold = [[] for _ in range(200)]
    if case == "finalizer":
        Garbage()
    gc.set_threshold(1)
    armed = True
    entity.set_attribute("k", target)
    gc.set_threshold(700)
    stored = entity.get_attribute("k")
    print(armed, stored == before or stored == target)
""")


@pytest.mark.parametrize("case", ["emptied", "shortened", "finalizer"])
def test_a_list_changed_while_it_is_copied(case):
    code, out, err = run_child(CHANGED_WHILE_COPIED, case)
    assert (code, out) == (0, "False True\n"), err[-2000:]


# The copy of a long list is let go of a few elements at a time once it is converted. Dropping an
# element may run its finalizer, which may find the copy through the collector and empty it: the
# release reads the copy afresh at each step.
COPY_EMPTIED_WHILE_RELEASED = textwrap.dedent("""
    import gc, vok_dsl
    class Emptier:  # a sequence whose reading empties the list being set
        def __len__(self): return 0
        def __getitem__(self, i):
            value.clear()
            raise IndexError
    class Finalized(str):  # its last reference is the copy's
        def __del__(self):
            for found in gc.get_objects():
                if type(found) is list and len(found) > 5000 and found is not expected:
                    found.clear()
    value = [str(i) * 5 for i in range(10_000)] + [Emptier(), Finalized("last")]
    expected = value[:-2] + [[], "last"]
    entity = vok_dsl.Entity("E")
    entity.set_attribute("k", value)
    print(value == [], entity.get_attribute("k") == expected)
""")


def test_a_list_copy_emptied_while_it_is_released():
    code, out, err = run_child(COPY_EMPTIED_WHILE_RELEASED)
    assert (code, out) == (0, "True True\n"), err[-2000:]


# A bytearray is read straight into its array, polling as it goes: a signal handler at a poll may
# shorten or lengthen it, and the array ends where the bytearray does then, as list()'s does.
RESIZED_WHILE_READ = textwrap.dedent("""
    import signal, vok_dsl
    data = bytearray(b"\\x07" * 3_000_000)
    hits = 0
    def resize(signum, frame):
        global hits
        hits += 1
        if hits % 3:
            del data[len(data) // 2:]
        else:
            data.extend(b"\\x09" * 100_000)
    entity = vok_dsl.Entity("E")
    signal.signal(signal.SIGPROF, resize)
    signal.setitimer(signal.ITIMER_PROF, 0.001, 0.001)
    seen = set()
    for _ in range(20):
        entity.set_attribute("v", data)
        seen.update(entity.get_attribute("v"))
    signal.setitimer(signal.ITIMER_PROF, 0)
    print(hits > 0, seen <= {7, 9})
""")


def test_a_bytearray_resized_while_it_is_read():
    code, out, err = run_child(RESIZED_WHILE_READ)
    assert (code, out) == (0, "True True\n"), err[-2000:]


# Lists read back are filled in place. Python code that runs meanwhile (a finalizer the collector
# runs as the next element is made, a signal handler at a poll) and reads every list the
# collector knows of must never meet one whose slots are not all filled.
LISTS_BEING_FILLED = textwrap.dedent("""
    import gc, signal, sys, vok_dsl
    case = sys.argv[1]
    reads = 0
    def read_every_list():
        global reads
        reads += 1
        for found in gc.get_objects():
            if type(found) is list and found is not value:
                for item in found:
                    pass
    entity = vok_dsl.Entity("E")
    if case == "collector":
        value = [[i, [i, str(i)]] for i in range(150)]
        armed = False
        class Garbage:  # a cycle: only the collector frees it, and it makes the next one
            def __init__(self): self.me = self
            def __del__(self):
                if armed:
                    read_every_list()
                    Garbage()
        entity.set_attribute("v", value)
        gc.set_threshold(1)
        armed = True
        Garbage()
        same = entity.get_attribute("v") == value
        armed = False
        gc.set_threshold(700)
    else:
        value = list(range(500_000))
        entity.set_attribute("v", value)
        walking = False
        def on_signal(signum, frame):
            # A walk of every object can outlast the timer's interval: the timer that fires
            # meanwhile finds the walk under way and returns at once, rather than nesting walks
            # until the recursion limit.
            global walking
            if walking:
                return
            walking = True
            try:
                read_every_list()
            finally:
                walking = False
        signal.signal(signal.SIGPROF, on_signal)
        signal.setitimer(signal.ITIMER_PROF, 0.003, 0.003)
        same = all(entity.get_attribute("v") == value for _ in range(10))
        signal.setitimer(signal.ITIMER_PROF, 0)
    print(same, reads > 0)
""")


@pytest.mark.parametrize("case", ["collector", "signal"])
def test_no_list_is_seen_before_it_is_filled(case):
    code, out, err = run_child(LISTS_BEING_FILLED, case)
    assert (code, out) == (0, "True True\n"), err[-2000:]


# The same for the lists and tuples of results: build_semantic_pack's (pack, warnings) holds a pack
# text long enough to be copied in pieces, with a poll between them, where a signal handler runs.
RESULT_BEING_FILLED = textwrap.dedent("""
    import gc, re, signal, sys, vok_dsl
    sys.path.insert(0, sys.argv[1])
    from pack_build import generate
    # Plain ASCII, which is copied in pieces, and over 8 MiB as a pack.
    text = generate(20_000).replace("«Ü»", "abc")
    reads = 0
    def read_every_sequence():
        global reads
        reads += 1
        for found in gc.get_objects():
            if type(found) in (list, tuple):
                for item in found:
                    pass
    def build():  # the pack's stamp aside
        pack, warnings = vok_dsl.build_semantic_pack(text)
        return re.sub('"created_at":"[^"]*"', "", pack), warnings
    expected = build()
    assert len(expected[0]) > 8 << 20
    walking = False
    def on_signal(signum, frame):
        # As for the lists above: a walk under way is not nested in.
        global walking
        if walking:
            return
        walking = True
        try:
            read_every_sequence()
        finally:
            walking = False
    signal.signal(signal.SIGPROF, on_signal)
    signal.setitimer(signal.ITIMER_PROF, 0.001, 0.001)
    same = all(build() == expected for _ in range(10))
    signal.setitimer(signal.ITIMER_PROF, 0)
    print(same, reads > 0)
""")


def test_no_result_is_seen_before_it_is_filled():
    code, out, err = run_child(RESULT_BEING_FILLED, ROOT / "bench")
    assert (code, out) == (0, "True True\n"), err[-2000:]


# Each open container takes a level of Python's recursion budget; a conversion that fails by
# running out of memory, or by an interrupt while a long text is copied back, gives them back.
BUDGET_AFTER_FAILURES = textwrap.dedent("""
    import os, resource, signal, sys, vok_dsl
    def depth():
        n = 0
        def down():
            nonlocal n
            n += 1
            down()
        try:
            down()
        except RecursionError:
            pass
        return n
    nested = [[{"k": "x" * (64 << 20)}]]
    entity = vok_dsl.Entity("E")
    before, failed = depth(), 0
    if sys.argv[1] == "memory":
        with open("/proc/self/statm") as statm:
            mapped = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        resource.setrlimit(resource.RLIMIT_AS, (mapped + (32 << 20), resource.RLIM_INFINITY))
        for _ in range(25):
            for call in (lambda: entity.set_attribute("k", nested),
                         lambda: vok_dsl.Expression.literal(nested)):
                try:
                    call()
                except MemoryError:
                    failed += 1
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY,) * 2)
    else:
        entity.set_attribute("k", nested)
        class Stop(Exception): pass
        inside = False
        def handler(signum, frame):
            global failed
            failed += inside
            raise Stop
        signal.signal(signal.SIGALRM, handler)
        for _ in range(50):
            try:
                signal.setitimer(signal.ITIMER_REAL, 0.001)
                inside = True
                entity.get_attribute("k")  # the text is copied in pieces, polling between them
                inside = False
                while True: pass
            except Stop:
                inside = False
    print(failed > 0, depth() == before)
""")


@pytest.mark.parametrize("cause", [pytest.param("memory", marks=capped), "interrupt"])
def test_failed_conversions_give_back_the_recursion_budget(cause):
    code, out, err = run_child(BUDGET_AFTER_FAILURES, cause)
    assert (code, out) == (0, "True True\n"), err[-2000:]


# ---- Memory caps -----------------------------------------------------------------------------

# One call under a cap of the address space (AS) or the data segment (DATA) a given number of
# KiB above what the process maps: the result, or MemoryError, and nothing else.
CAPPED_CALL = textwrap.dedent("""
    import resource, sys, vok_dsl
    entry, path, limit, kib = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    source = open(path, encoding="utf-8").read() if path != "-" else (
        "Policy p as: " + "not " * 9000 + "a")
    graph = vok_dsl.Graph.parse(source) if entry in ("export_calm", "import_calm") else None
    calm = graph.export_calm() if entry == "import_calm" else None
    calls = {
        "parse": lambda: vok_dsl.Graph.parse(source).entity_count(),
        "parse_to_ast_json": lambda: len(vok_dsl.Graph.parse_to_ast_json(source)),
        "format_source": lambda: len(vok_dsl.format_source(source)),
        "check_format": lambda: vok_dsl.check_format(source),
        "export_calm": lambda: len(graph.export_calm()),
        "import_calm": lambda: vok_dsl.Graph.import_calm(calm).entity_count(),
    }
    key = "VmSize:" if limit == "AS" else "VmData:"
    with open("/proc/self/status") as status:
        mapped = next(int(line.split()[1]) for line in status if line.startswith(key)) * 1024
    resource.setrlimit(resource.RLIMIT_AS if limit == "AS" else resource.RLIMIT_DATA,
                       (mapped + kib * 1024, resource.RLIM_INFINITY))
    try:
        calls[entry]()
        print("ok")
    except MemoryError:
        print("MemoryError")
""")


def capped_runs(entries, path, limits, kib_range):
    runs = [(entry, path, limit, kib) for entry in entries for limit in limits
            for kib in kib_range]
    results = run_children(CAPPED_CALL, runs)
    bad = failures(runs, results)
    bad += [(args, out) for args, (_, out, _) in zip(runs, results)
            if out not in ("ok\n", "MemoryError\n")]
    return bad, {out for _, out, _ in results}


@capped
def test_memory_caps_on_the_model_give_the_result_or_memory_error(model):
    # The first MiB, then every MiB to 64: where formatting the model starts to fit (about 40 MiB
    # beyond what the process maps), the first exception of the call, the first use of its
    # thread's storage and the unwinding of a half-built result all meet the cap.
    bad, outcomes = capped_runs(["format_source", "parse_to_ast_json", "parse"], model,
                                ["AS", "DATA"], [0, 256, 512, 768, *range(1024, 65537, 1024)])
    assert bad == []
    assert outcomes == {"ok\n", "MemoryError\n"}
    bad, _ = capped_runs(["export_calm", "import_calm"], model, ["AS"],
                         range(0, 65537, 2048))
    assert bad == []


@capped
def test_memory_caps_on_deep_input_give_the_result_or_memory_error():
    # The stack cannot grow under a cap: only what is mapped counts, and a segment that cannot be
    # mapped is MemoryError.
    bad, outcomes = capped_runs(["parse", "format_source", "check_format"], "-", ["AS", "DATA"],
                                range(0, 40961, 1024))
    assert bad == []
    assert outcomes == {"ok\n", "MemoryError\n"}


@capped
def test_freeing_under_a_cap_needs_no_memory():
    script = textwrap.dedent("""
        import resource, sys, vok_dsl
        entity = vok_dsl.Entity("E")
        entity.set_attribute("v", {f"k{i}": {"a": [1, {"b": [2]}]} for i in range(100000)})
        expression = vok_dsl.Expression.variable("x")
        for i in range(20000):
            expression = vok_dsl.Expression.unary(vok_dsl.UnaryOp.Not, expression)
        with open("/proc/self/status") as status:
            mapped = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS,
                           (mapped + int(sys.argv[1]) * 1024, resource.RLIM_INFINITY))
        del entity, expression
        print("freed")
    """)
    caps = [(kib,) for kib in (0, 64, 256, 1024, 4096)]
    assert failures(caps, run_children(script, caps), "freed\n") == []


@capped
def test_a_new_thread_under_a_cap_gets_memory_error_not_an_abort():
    # Its first call into the module needs the thread's own storage, which the C library
    # allocates on first use and cannot report failing to allocate.
    script = textwrap.dedent("""
        import resource, sys, threading, vok_dsl
        threading.stack_size(256 * 1024)
        with open("/proc/self/status") as status:
            mapped = next(int(l.split()[1]) for l in status if l.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS,
                           (mapped + int(sys.argv[1]) * 1024, resource.RLIM_INFINITY))
        outcome = []
        def call():
            try:
                vok_dsl.format_source('Entity "A"\\n' * 2000)
                outcome.append("ok")
            except MemoryError:
                outcome.append("MemoryError")
        try:
            thread = threading.Thread(target=call)
            thread.start()
            thread.join()
        except RuntimeError:  # no memory for the thread itself
            outcome.append("MemoryError")
        print(outcome[0])
    """)
    caps = [(kib,) for kib in range(256, 16385, 256)]
    results = run_children(script, caps)
    assert failures(caps, results) == []
    assert {out for _, out, _ in results} <= {"ok\n", "MemoryError\n"}


# ---- The machine's libcrypto -----------------------------------------------------------------

def test_a_libcrypto_without_sha256_is_a_runtime_error(tmp_path):
    # A configuration that loads only the null provider offers no algorithm at all.
    config = tmp_path / "openssl.cnf"
    config.write_text("openssl_conf = init\n[init]\nproviders = providers\n"
                      "[providers]\nnull = null\n[null]\nactivate = 1\n")
    pack = (ROOT / "examples" / "warehouse.pack-input.json").read_text()
    built, _ = vok_dsl.build_semantic_pack(pack)
    script = textwrap.dedent("""
        import json, sys, vok_dsl
        pack_input, pack = json.loads(sys.stdin.read())
        graph = vok_dsl.Graph.parse('Entity "A"\\nEntity "B"\\nResource "R" kg\\n'
                                    'Flow "R" from "A" to "B" quantity 1\\n')
        for call in (graph.export_calm, lambda: vok_dsl.build_semantic_pack(pack_input),
                     lambda: vok_dsl.compute_pack_hash(pack),
                     lambda: vok_dsl.validate_semantic_pack(pack)):
            try:
                call()
                print("ok")
            except Exception as error:
                print(f"{type(error).__name__}: {error}")
    """)
    done = subprocess.run(
        [sys.executable, "-c", script], input=json.dumps([pack, built]), capture_output=True,
        text=True, timeout=TIMEOUT,
        env=dict(os.environ, PYTHONPATH=MODULE_DIR, OPENSSL_CONF=str(config)))
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.splitlines() == ["RuntimeError: SHA-256 is not available from libcrypto"] * 4


# ---- What a stopped or failed conversion leaves ----------------------------------------------

# Each child runs in Python's development mode, whose allocator checks that every free holds the
# interpreter lock. What a conversion made or copied is freed before its exception reaches the
# caller, on the calling thread: finalizers run there, may take the lock through PyGILState as C
# extensions do, and have all run before the interpreter ends.
LEFT_BEHIND_PRELUDE = """
import ctypes, signal, sys, vok_dsl
N = 300_000

class Items:
    # A sequence whose elements exist only in the copy that set_attribute makes of it.
    def __init__(self, make):
        self.make = make
    def __len__(self):
        return N
    def __getitem__(self, index):
        if index >= N:
            raise IndexError(index)
        return self.make(index)

def stop(signum, frame):
    raise KeyboardInterrupt

def stopped(call):
    # Signals sooner and sooner until one stops the call.
    signal.signal(signal.SIGPROF, stop)
    for delay in (0.2, 0.1, 0.05, 0.02, 0.01, 0.005, 0.002, 0.001):
        try:
            signal.setitimer(signal.ITIMER_PROF, delay)
            call()
            signal.setitimer(signal.ITIMER_PROF, 0)
        except KeyboardInterrupt:
            return True
    return False
"""

LEFT_BEHIND_CASES = {
    "failed": """
        try:
            vok_dsl.Entity("E").set_attribute("x", [[i] for i in range(N)] + [object()])
        except TypeError:
            print("ok")
    """,
    "stopped, set": """
        value = [[i, str(i)] for i in range(N)]
        if stopped(lambda: vok_dsl.Entity("E").set_attribute("x", value)):
            print("ok")
    """,
    "stopped, read back": """
        entity = vok_dsl.Entity("E")
        entity.set_attribute("x", [{"id": i, "tags": ["a"], "n": "n"} for i in range(N)])
        if stopped(lambda: entity.get_attribute("x")):
            print("ok")
    """,
    "a finalizer that takes the lock through PyGILState": """
        ctypes.pythonapi.PyGILState_Ensure.restype = ctypes.c_int
        ctypes.pythonapi.PyGILState_Release.argtypes = [ctypes.c_int]
        finalized = []
        class Held(list):
            def __del__(self):
                ctypes.pythonapi.PyGILState_Release(ctypes.pythonapi.PyGILState_Ensure())
                finalized.append(1)
        try:
            vok_dsl.Entity("E").set_attribute(
                "x", Items(lambda i: Held([i]) if i < N - 1 else object()))
        except TypeError:
            print("ok" if len(finalized) == N - 1 else f"{len(finalized)} finalized")
    """,
    "a file the copy alone holds": """
        def make(index):
            if index < N - 1:
                return [index]
            held = open(sys.argv[1], "w")
            held.write("fifteen bytes!!")
            return held
        try:
            vok_dsl.Entity("E").set_attribute("x", Items(make))
        except TypeError:
            print("ok")
    """,
}


@pytest.mark.parametrize("case", list(LEFT_BEHIND_CASES))
def test_what_a_stopped_or_failed_conversion_made_is_freed_before_its_exception(case, tmp_path):
    path = tmp_path / "written.txt"
    script = LEFT_BEHIND_PRELUDE + textwrap.dedent(LEFT_BEHIND_CASES[case])
    code, out, err = run_child(script, path, env={"PYTHONDEVMODE": "1"})
    assert (code, out) == (0, "ok\n"), err[-2000:]
    if case == "a file the copy alone holds":
        assert path.read_text() == "fifteen bytes!!"
