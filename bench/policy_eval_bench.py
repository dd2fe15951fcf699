#!/usr/bin/python3
"""Policy evaluation against plain Python, and the memory of nested quantifiers.

usage: /usr/bin/python3 bench/policy_eval_bench.py [BUILD_DIR] [FLOWS]

1. ForAll over FLOWS flows (default 1,000,000) comparing each quantity with a number, evaluated
   by Graph.evaluate_policy, side by side in the same run with a pure-Python loop applying the same
   check to the same records held as dicts. The loop follows the engine's rules: a missing
   quantity makes the outcome unknown, a value that is not a number fails, and there is no early
   exit. Both are timed best of three; the growth of peak RSS during evaluation is reported too.
2. ForAll entities x Exists flows over 2,000 x 2,000 records (an id comparison per pair), run in a
   child process whose peak RSS is reported as a whole.
"""

import json
import os
import resource
import subprocess
import sys
import time

from run_all import ROOT, best_of


def policy(expression):
    return json.dumps({
        "id": "00000000-0000-0000-0000-000000000001", "name": "bench", "namespace": "default",
        "version": {"major": 1, "minor": 0, "patch": 0}, "expression": expression,
        "modality": "Obligation", "kind": "Constraint", "priority": 0, "tags": [],
    })


def forall(variable, collection, condition):
    return {"Quantifier": {"quantifier": "ForAll", "variable": variable,
                           "collection": {"Variable": collection}, "condition": condition}}


def exists(variable, collection, condition):
    return {"Quantifier": {"quantifier": "Exists", "variable": variable,
                           "collection": {"Variable": collection}, "condition": condition}}


def member(obj, name):
    return {"MemberAccess": {"object": obj, "member": name}}


def binary(op, left, right):
    return {"Binary": {"op": op, "left": left, "right": right}}


def python_check(records):
    """The quantity check by the engine's rules, in plain Python."""
    failed = unknown = False
    for record in records:
        quantity = record.get("quantity")
        if quantity is None:
            unknown = True
        elif type(quantity) is not float and type(quantity) is not int:
            raise ValueError("Left operand is not numeric")
        elif not quantity > 0:
            failed = True
    return False if failed else (None if unknown else True)


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def flat(vok_dsl, count):
    graph = vok_dsl.Graph()
    a, b, steel = vok_dsl.Entity("A"), vok_dsl.Entity("B"), vok_dsl.Resource("Steel", "kg")
    graph.add_entity(a)
    graph.add_entity(b)
    graph.add_resource(steel)
    for i in range(count):
        graph.add_flow(vok_dsl.Flow(steel.id, a.id, b.id, 1 + i % 97))
    text = policy(forall("f", "flows", binary("GreaterThan", member("f", "quantity"),
                                              {"Literal": 0})))
    before = peak_rss_mb()
    assert graph.evaluate_policy(text).is_satisfied
    growth = peak_rss_mb() - before
    engine = best_of(lambda: graph.evaluate_policy(text), rounds=3)

    records = [{"id": f.id, "from_entity": f.from_id, "to_entity": f.to_id,
                "resource": f.resource_id, "quantity": float(f.quantity)}
               for f in graph.all_flows()]
    assert python_check(records) is True
    loop = best_of(lambda: python_check(records), rounds=3)
    return engine, loop, growth


NESTED = r"""
import sys, time
sys.path.insert(0, sys.argv[1])
import vok_dsl
sys.path.insert(0, sys.argv[2])
from policy_eval_bench import policy, forall, exists, member, binary
graph = vok_dsl.Graph()
steel = vok_dsl.Resource("Steel", "kg")
graph.add_resource(steel)
entities = [vok_dsl.Entity("E%d" % i) for i in range(2000)]
for e in entities:
    graph.add_entity(e)
for i in range(2000):
    graph.add_flow(vok_dsl.Flow(steel.id, entities[i].id, entities[(i + 1) % 2000].id, 1))
text = policy(forall("e", "entities", exists("f", "flows", binary(
    "Equal", member("f", "from_entity"), member("e", "id")))))
start = time.perf_counter()
result = graph.evaluate_policy(text)
seconds = time.perf_counter() - start
assert result.is_satisfied
# VmHWM, not ru_maxrss: the latter keeps the parent's peak across exec.
with open("/proc/self/status") as status:
    peak_kb = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
print(seconds, peak_kb / 1024)
"""


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    python_dir = os.path.join(build, "python")
    sys.path.insert(0, python_dir)
    import vok_dsl  # noqa: E402  (the build's module)

    engine, loop, growth = flat(vok_dsl, count)
    print(f"ForAll over {count:,} flows: evaluate_policy {engine * 1e3:.1f} ms "
          f"({engine / count * 1e9:.1f} ns/flow), Python loop over dicts {loop * 1e3:.1f} ms "
          f"({loop / count * 1e9:.1f} ns/record): {loop / engine:.1f}x; "
          f"peak RSS growth during evaluation {growth:.1f} MB")

    out = subprocess.run([sys.executable, "-c", NESTED, python_dir,
                          os.path.dirname(os.path.abspath(__file__))],
                         check=True, capture_output=True, text=True).stdout.split()
    print(f"ForAll x Exists over 2,000 x 2,000: {float(out[0]):.2f} s, "
          f"peak RSS of the whole process {float(out[1]):.0f} MB")


if __name__ == "__main__":
    main()
