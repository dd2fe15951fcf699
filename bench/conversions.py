#!/usr/bin/python3
"""What converting open values costs: set_attribute, get_attribute and Expression.literal of the
values below, beside json.dumps and json.loads of the same values.

usage: conversions.py [BUILD_DIR ...] [--processes N] [--cases "NAME|NAME..."] [--lookups]

BUILD_DIR is a build directory (its python/ holds vok_dsl*.so) or the directory of the module
itself; it defaults to build/.

The values: a small dict ({"a": 1, "b": "x", "c": [1, 2]}), 200,000 ints, 100,000 strs, 20,000
small records (dicts of an int, a str, a list of two strs and a bool), a list nested 5,000 deep,
dicts of 1,000, 10,000 and 100,000 distinct keys, 20,000 rows of an int, a float and a str as
tuples and as lists, 100,000 seven-key records, an index of 1,000 keys before 100,000 records,
20,000 list triples [[i], [i], [i]], and a bytes, a bytearray and a range of 1,000,000 elements
and 1,000 range(3) (set and read back only: Expression.literal and json refuse them). Then the
key families, 50,000 records each unless said: "2 long keys" (customer_billing_address,
customer_mailing_address), "7 attribute_j keys" (attribute_{j}_the_value, j < 7), "16 keys" and
"17 keys" (k00..k15, k00..k16), "5 of 1,000 keys" (100,000 records of five keys out of
field_0..field_999) and "API events" (10,000 events of the shape of a public API's, 13 keys,
nested); values are small ints or short strs. Among the key families too, records of long keys:
2,000 records of two 5,000-character keys, 100 of one 4,097-byte key, 10 of one 1 MB key and
100 of one non-ASCII key of 3,000 characters. For the key families, rows "key strs of ..." give
how many distinct key str objects the read-back result and json.loads's hold (json.loads shares
one per key text within a call); counted by walking one result, outside the timing. Last, wide
dicts of 100,000 and 1,000,000 keys of six shapes (key {i}, str(i), customer_id_{i}, ключ {i},
https://example.com/items/{i}, and half billing_address_{i}, half shipping_address_{i}), set and
made a literal only: their keys are sorted, and keys that share their first bytes are the hard
case of that sort. After them, wide dicts of 100,000 and 1,000,000 keys of five more shapes, each
inserted in three orders, set and made a literal only too: UUIDs (str(uuid.UUID) of 128 random
bits), SHA-1 hex digests (of str(i)), random-length keys (1 to 64 random ASCII letters and
digits, distinct), {i:012d} and str(i); the orders are random (shuffled), ascending and
descending (by the keys' bytes; str(i) ascending puts "10" before "2"). Each is named "COUNT SHAPE
keys, ORDER order", e.g. "100,000 UUID keys, random order". Their random draws are seeded, so
every process and build makes the same dicts, and a key's value is the same int in all three
orders. A call on a million keys is timed one call a round.

Each figure is the best of several rounds, per call. Every value is measured for every build in
a fresh interpreter that makes and holds only that value: a process that held all values found
its collector and allocator in a state that its build's earlier cases had left, so that even
json.loads of the same list took 3 to 4 times as long in one build's processes as in another's.
The cost is one interpreter start and one value made per (value, build, process), a few percent
of a run. The table gives the lowest and highest over N processes (default 4). Given two or more
builds, their processes take turns value by value (A B A B ...), so that both meet the machine in
the same state, and each build after the first gets a column of its ratio to the first: the median
of the ratios of the processes that ran side by side, their range in brackets. json's rows get
that ratio too: json's code is the same in every build, so it shows how alike the processes were,
and a line under the table names each json figure whose median differs by more than 5%.

--lookups adds, for the key families and the dict of 100,000 keys, a loop that looks up every key
of every dict read back, and of every dict json.loads made, with keys made afresh (interned where
they look like identifiers, as a user's code's literals are), and a row of the ratio read back /
json.loads per build (the median over processes, range in brackets). It adds about a fifth to a
run of those rows. A default run (all values, two builds, four processes) took nearly an hour
on a busy 8-core machine before the wide dicts and the records of long keys came, which took 25
minutes more in three processes; run_all.py's two processes of one build took 15 minutes before
them. The five key shapes in three orders add about 10 minutes per build and process.

Run it pinned to one core that nothing else uses, on a quiet machine (`taskset -c N
/usr/bin/python3 bench/conversions.py build ../old/build`; the processes it starts inherit the
pinning): the figures are wall-clock times. The collector stays on, as for users; each round starts after a full
collection.
"""

import gc
import glob
import hashlib
import json
import os
import random
import string
import subprocess
import sys
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEEP = 5_000
ROUNDS = 7
# Each round makes at least this many calls and lasts at least about this long: a call that
# follows the collection before its round by little finds the allocator in another state than the
# calls after it.
ROUND_CALLS = 10
ROUND_SECONDS = 0.05


def deep_list():
    deep = []
    for _ in range(DEEP - 1):
        deep = [deep]
    return deep


def records_of(keys, count):
    return [{key: (i + j) % 100 for j, key in enumerate(keys)} for i in range(count)]


def pooled_records():
    # Record i takes five keys spread over the pool, so that neighbours share few.
    pool = [f"field_{n}" for n in range(1_000)]
    return [{pool[(i * 7 + m * 131) % 1_000]: m for m in range(5)} for i in range(100_000)]


def api_events():
    # Thirteen distinct keys: the event's seven, the actor's five more ("id" is shared), the
    # repository's "name"; the payload reuses names already there.
    events = []
    for i in range(10_000):
        login = f"user{i % 997}"
        name = f"org{i % 89}/project{i % 311}"
        events.append({
            "id": str(30_000_000_000 + i),
            "type": ("PushEvent", "WatchEvent", "IssuesEvent", "CreateEvent")[i % 4],
            "actor": {"id": 1_000 + i % 997, "login": login, "display_login": login,
                      "gravatar_id": "", "url": f"https://api.example.org/users/{login}",
                      "avatar_url": f"https://avatars.example.org/u/{1_000 + i % 997}?"},
            "repo": {"id": 5_000 + i % 311, "name": name,
                     "url": f"https://api.example.org/repos/{name}"},
            "payload": {"id": 900_000 + i, "name": "refs/heads/main",
                        "url": f"https://api.example.org/repos/{name}/commits/{i:x}"},
            "public": True,
            "created_at": f"2024-03-{1 + i % 28:02}T{i % 24:02}:{i % 60:02}:{i * 7 % 60:02}Z",
        })
    return events


# The key shapes of the wide dicts, by name.
WIDE_SHAPES = {
    "key {i}": lambda i: f"key {i}",
    "str(i)": str,
    "customer_id_{i}": lambda i: f"customer_id_{i}",
    "ключ {i}": lambda i: f"ключ {i}",
    "https://example.com/items/{i}": lambda i: f"https://example.com/items/{i}",
    "billing_/shipping_address_{i}": lambda i: (
        f"billing_address_{i}" if i % 2 else f"shipping_address_{i}"),
}


def distinct_keys(count, make):
    """`count` distinct keys, each `make()` in turn, a repeat left out."""
    keys = {}
    while len(keys) < count:
        keys.setdefault(make(), None)
    return list(keys)


def uuid_keys(count):
    rng = random.Random(1)
    return distinct_keys(count, lambda: str(uuid.UUID(int=rng.getrandbits(128))))


def random_length_keys(count):
    # Few texts of one or two characters exist, so those lengths are rarer than the others.
    rng = random.Random(2)
    letters = string.ascii_letters + string.digits
    return distinct_keys(count, lambda: "".join(rng.choices(letters, k=rng.randint(1, 64))))


# The key shapes of the wide dicts in three insertion orders, by name: per shape, the function
# making the list of `count` distinct keys.
ORDERED_SHAPES = {
    "UUID": uuid_keys,
    "SHA-1 hex digest": lambda count: [
        hashlib.sha1(str(i).encode()).hexdigest() for i in range(count)],
    "random-length": random_length_keys,
    "{i:012d}": lambda count: [f"{i:012d}" for i in range(count)],
    "str(i)": lambda count: [str(i) for i in range(count)],
}


def shuffled(keys):
    random.Random(3).shuffle(keys)
    return keys


# The insertion orders, by name. Sorting strs orders them as their UTF-8 bytes.
ORDERS = {
    "random": shuffled,
    "ascending": sorted,
    "descending": lambda keys: sorted(keys, reverse=True),
}


def ordered_dict_of(shape, order, count):
    """The dict of `count` keys of the shape, inserted in the order; a key's value is its index
    in the shape's list, so that the three orders make equal dicts."""
    keys = ORDERED_SHAPES[shape](count)
    value = {key: i for i, key in enumerate(keys)}
    return {key: value[key] for key in ORDERS[order](keys)}


def wide_dicts():
    """{name: function making it} of the wide dicts; "100,000 keys" is the first of them."""
    made = {}
    for count in (100_000, 1_000_000):
        for shape, key in WIDE_SHAPES.items():
            name = f"{count:,} {shape} keys"
            if name != "100,000 key {i} keys":
                made[name] = lambda key=key, count=count: {key(i): i for i in range(count)}
    for count in (100_000, 1_000_000):
        for shape in ORDERED_SHAPES:
            for order in ORDERS:
                made[f"{count:,} {shape} keys, {order} order"] = (
                    lambda shape=shape, order=order, count=count: ordered_dict_of(
                        shape, order, count))
    return made


def values():
    """Per value, the function that makes it: a process makes only the value it measures."""
    return {
        "small dict": lambda: {"a": 1, "b": "x", "c": [1, 2]},
        "200,000 ints": lambda: list(range(200_000)),
        "100,000 strs": lambda: [f"value {i}" for i in range(100_000)],
        "20,000 records": lambda: [
            {"id": i, "name": f"record {i}", "tags": ["a", "b"], "open": i % 2 == 0}
            for i in range(20_000)],
        "5,000-deep list": deep_list,
        "1,000 keys": lambda: {f"key {i}": i for i in range(1_000)},
        "10,000 keys": lambda: {f"key {i}": i for i in range(10_000)},
        "100,000 keys": lambda: {f"key {i}": i for i in range(100_000)},
        "20,000 tuples": lambda: [(i, float(i), "t") for i in range(20_000)],
        "20,000 lists": lambda: [[i, float(i), "t"] for i in range(20_000)],
        "1,000,000 bytes": lambda: bytes(range(256)) * 3_907,
        "1,000,000 bytearray": lambda: bytearray(range(256)) * 3_907,
        "range(1,000,000)": lambda: range(1_000_000),
        "100,000 seven-key records": lambda: [
            {"id": i, "name": "n", "score": i * 1.5, "tags": ["a"], "open": True,
             "owner": f"owner {i % 100}", "rank": i % 7} for i in range(100_000)],
        "indexed records": lambda: {
            "index": {f"id{i}": i for i in range(1_000)},
            "records": [{"id": i, "name": "n", "score": i * 1.5, "tags": ["a"], "open": True}
                        for i in range(100_000)]},
        "20,000 list triples": lambda: [[[i], [i], [i]] for i in range(20_000)],
        "1,000 range(3)": lambda: [range(3)] * 1_000,
        "2 long keys": lambda: records_of(
            ("customer_billing_address", "customer_mailing_address"), 50_000),
        "7 attribute_j keys": lambda: records_of(
            [f"attribute_{j}_the_value" for j in range(7)], 50_000),
        "16 keys": lambda: records_of([f"k{j:02}" for j in range(16)], 50_000),
        "17 keys": lambda: records_of([f"k{j:02}" for j in range(17)], 50_000),
        "5 of 1,000 keys": pooled_records,
        "API events": api_events,
        "2,000 records of two 5,000-character keys": lambda: records_of(
            ("a" * 5_000, "b" * 5_000), 2_000),
        "100 records of a 4,097-byte key": lambda: records_of(("k" * 4_097,), 100),
        "10 records of a 1 MB key": lambda: records_of(("m" * 1_000_000,), 10),
        "100 records of a non-ASCII key of 3,000 characters": lambda: records_of(
            ("ж" * 3_000,), 100),
        **wide_dicts(),
    }


CALLS = ("set_attribute", "get_attribute", "Expression.literal", "json.dumps", "json.loads")
READS = ("get_attribute", "json.loads")
# The memory held by what is read back, beside json.loads's.
HELD = "held by "
# How many distinct key str objects what is read back holds, beside json.loads's.
KEY_STRS = "key strs of "
# Every key of every dict looked up, in what is read back and in what json.loads made.
LOOKUPS = "lookups in "
# Per build, the median and range of the processes' ratio of those two lookups.
LOOKUP_RATIO = "lookups read/json"
# Values that Expression.literal and json refuse: set_attribute and reading back only.
ARRAYS_ONLY = ("1,000,000 bytes", "1,000,000 bytearray", "range(1,000,000)", "1,000 range(3)")
LONG_KEY_RECORDS = ("2,000 records of two 5,000-character keys", "100 records of a 4,097-byte key",
                    "10 records of a 1 MB key",
                    "100 records of a non-ASCII key of 3,000 characters")
KEY_FAMILIES = ("2 long keys", "7 attribute_j keys", "16 keys", "17 keys", "5 of 1,000 keys",
                "API events") + LONG_KEY_RECORDS
# Values set and made a literal only, and those timed one call a round.
SET_AND_LITERAL_ONLY = tuple(wide_dicts())
ONE_CALL_A_ROUND = tuple(name for name in SET_AND_LITERAL_ONLY if name.startswith("1,000,000"))
LOOKUP_CASES = KEY_FAMILIES + ("100,000 keys",)
# How far json's own median may stray between builds before a line says so.
JSON_TOLERANCE = 0.05


def best_per_call(call, one_call_a_round=False):
    """The best time per call over ROUNDS rounds of `call` repeated."""
    start = time.perf_counter()
    call()
    once = time.perf_counter() - start
    repeat = 1 if one_call_a_round else max(ROUND_CALLS, int(ROUND_SECONDS / max(once, 1e-9)))
    best = float("inf")
    for _ in range(ROUNDS):
        gc.collect()
        start = time.perf_counter()
        for _ in range(repeat):
            call()
        best = min(best, (time.perf_counter() - start) / repeat)
    return best


def module_dir(build):
    """The directory holding the build's vok_dsl: the build directory's python/, or itself."""
    return build if glob.glob(os.path.join(build, "vok_dsl*.so")) else os.path.join(build, "python")


def label(build):
    """A short name for a build's column: its directory, or the checkout's for a build/."""
    path = build.rstrip(os.sep)
    if os.path.basename(path) == "python" and glob.glob(os.path.join(path, "vok_dsl*.so")):
        path = os.path.dirname(path)
    if os.path.basename(path) == "build":
        path = os.path.dirname(path)
    return os.path.basename(path) or build


def dicts_in(value):
    """Every dict in `value`, walked without recursion (the deep list would exhaust it)."""
    found, stack = [], [value]
    while stack:
        item = stack.pop()
        if isinstance(item, dict):
            found.append(item)
            stack.extend(item.values())
        elif isinstance(item, (list, tuple)):
            stack.extend(item)
    return found


def distinct_key_strs(value):
    # The result is alive throughout, so no id is reused by another key.
    return len({id(key) for d in dicts_in(value) for key in d})


def literal_like(key):
    """A key made afresh, as a user's code would write it: a copy of the text, interned when it
    looks like an identifier, as the compiler interns such constants."""
    fresh = key.encode().decode()
    if fresh.isascii() and (fresh.replace("_", "a").isalnum()):
        fresh = sys.intern(fresh)
    return fresh


def lookup_groups(value):
    """[(keys made afresh, dicts that have those keys)], to look up every key of every dict."""
    groups = {}
    for d in dicts_in(value):
        groups.setdefault(tuple(d), []).append(d)
    return [(tuple(literal_like(key) for key in keys), dicts) for keys, dicts in groups.items()]


def look_up(groups):
    for keys, dicts in groups:
        for d in dicts:
            for key in keys:
                d[key]


def child(build, case, lookups):
    """For one value, per call, seconds per call (and bytes or counts), as JSON on standard
    output."""
    sys.path.insert(0, module_dir(build))
    import vok_dsl  # noqa: E402  (the build's module)

    # The deep list takes a level of the recursion budget per list, in json too.
    sys.setrecursionlimit(3 * DEEP)
    entity = vok_dsl.Entity("E")
    literal = vok_dsl.Expression.literal
    value = values()[case]()
    entity.set_attribute("s", value)
    calls = {
        "set_attribute": lambda: entity.set_attribute("s", value),
        "get_attribute": lambda: entity.get_attribute("s"),
    }
    if case in SET_AND_LITERAL_ONLY:
        del calls["get_attribute"]
        calls["Expression.literal"] = lambda: literal(value)
    elif case not in ARRAYS_ONLY:
        text = json.dumps(value)
        calls.update({
            "Expression.literal": lambda: literal(value),
            "json.dumps": lambda: json.dumps(value),
            "json.loads": lambda: json.loads(text),
        })
    result = {name: best_per_call(call, case in ONE_CALL_A_ROUND) for name, call in calls.items()}
    reads = [name for name in READS if name in calls]
    for name in reads:
        result[HELD + name] = held_by(calls[name])
    if case in KEY_FAMILIES:
        for name in reads:
            result[KEY_STRS + name] = distinct_key_strs(calls[name]())
    if lookups and case in LOOKUP_CASES:
        for name in reads:
            groups = lookup_groups(calls[name]())
            result[LOOKUPS + name] = best_per_call(lambda: look_up(groups))
            del groups
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


def measure(builds, processes=4, cases=None, lookups=False):
    """{build: {case: {call: [seconds per call, one per process]}}}."""
    known = values()
    cases = list(cases or known)
    unknown = [case for case in cases if case not in known]
    if unknown:
        raise SystemExit(f"unknown values: {', '.join(unknown)}; known: {', '.join(known)}")
    figures = {build: {case: {} for case in cases} for build in builds}
    for _ in range(processes):
        for case in cases:
            for build in builds:
                command = [sys.executable, os.path.abspath(__file__), "--child", build, case]
                out = subprocess.run(command + ["--lookups"] * lookups, check=True,
                                     capture_output=True, text=True).stdout
                for call, figure in json.loads(out).items():
                    figures[build][case].setdefault(call, []).append(figure)
    return figures


def shown(seconds):
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} us"
    return f"{seconds * 1e3:.2f} ms"


def shown_bytes(size):
    return f"{size / 1e6:.2f} MB" if size >= 1e5 else f"{size / 1e3:.1f} kB"


def spread(figures, show):
    low, high = show(min(figures)), show(max(figures))
    return low if low == high else f"{low}-{high}"


def median(figures):
    ordered = sorted(figures)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def ratios(figures, reference):
    # Process by process: the processes of the builds took turns.
    return [a / b for a, b in zip(figures, reference)]


def median_range(values):
    return f"{median(values):.2f} ({min(values):.2f}-{max(values):.2f})"


def table(figures):
    builds = list(figures)
    first = figures[builds[0]]
    names = [label(b) for b in builds]
    rows = []  # (value, row name, per build cell, per later build ratio cell)
    for case, calls in first.items():
        order = (CALLS + tuple(HELD + c for c in READS) + tuple(KEY_STRS + c for c in READS)
                 + tuple(LOOKUPS + c for c in READS))
        for call in order:
            if call not in calls:
                continue
            if call.startswith(HELD):
                show = shown_bytes
            elif call.startswith(KEY_STRS):
                show = "{:,}".format
            else:
                show = shown
            cells = [spread(figures[b][case][call], show) for b in builds]
            timed = call in CALLS or call.startswith(LOOKUPS)
            ratio_cells = [median_range(ratios(figures[b][case][call], first[case][call]))
                           if timed else "" for b in builds[1:]]
            rows.append((case, call, cells, ratio_cells))
        if LOOKUPS + "json.loads" in calls:
            cells = [median_range(ratios(figures[b][case][LOOKUPS + "get_attribute"],
                                         figures[b][case][LOOKUPS + "json.loads"]))
                     for b in builds]
            rows.append((case, LOOKUP_RATIO, cells, [""] * (len(builds) - 1)))
    ratio_names = [f"{name} / {names[0]}" for name in names[1:]]
    widths = [max(len(row[0]) for row in rows) if rows else 5,
              max(len(row[1]) for row in rows) if rows else 4]
    widths += [max([len(name)] + [len(row[2][n]) for row in rows]) for n, name in enumerate(names)]
    widths += [max([len(name)] + [len(row[3][n]) for row in rows])
               for n, name in enumerate(ratio_names)]

    def line(cells):
        return " ".join(f"{cell:<{width}}" if n < 2 else f"{cell:>{width}}"
                        for n, (cell, width) in enumerate(zip(cells, widths))).rstrip()

    lines = [line(["value", "call"] + names + ratio_names)]
    lines += [line([case, call] + cells + ratio_cells) for case, call, cells, ratio_cells in rows]
    for case, calls in first.items():
        for call in ("json.dumps", "json.loads"):
            for build, name in zip(builds[1:], names[1:]):
                if call not in calls:
                    continue
                middle = median(ratios(figures[build][case][call], calls[call]))
                if abs(middle - 1) > JSON_TOLERANCE:
                    lines.append(f"note: {call} of {case} took {middle:.2f} times as long in "
                                 f"{name}'s processes as in {names[0]}'s: that row's processes "
                                 "are not alike")
    return "\n".join(lines)


def rows(build):
    """Rows for run_all.py: per value, the three calls beside json.dumps and json.loads."""
    figures = measure([build], processes=2)[build]
    result = []
    for case, calls in figures.items():
        best = {call: min(seconds) for call, seconds in calls.items()}
        text = ", ".join(f"{call} {shown(best[call])}" for call in CALLS if call in best)
        result.append((f"conversions, {case}", None, None, text))
    return result


def main():
    args = sys.argv[1:]
    lookups = "--lookups" in args
    if lookups:
        args.remove("--lookups")
    if args[:1] == ["--child"]:
        child(os.path.abspath(args[1]), args[2], lookups)
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
    print(table(measure(builds, processes, cases, lookups)))


if __name__ == "__main__":
    main()
