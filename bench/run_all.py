#!/usr/bin/python3
"""Runs every benchmark in one go and prints one table.

usage: /usr/bin/python3 bench/run_all.py [BUILD_DIR] [BLOCKS]

BUILD_DIR defaults to build/ (it must hold the benchmark executables and python/vok_dsl*.so);
BLOCKS sizes the generated model (default 1000 blocks, about 3 MB of source). Every figure is
measured in the same run on the same inputs, so the ratios compare like with like; absolute MB/s
depend on the machine and its load.
"""

import gc
import json
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def best_of(fn, rounds=5):
    gc.collect()
    gc.disable()
    try:
        best = float("inf")
        for _ in range(rounds):
            start = time.perf_counter()
            fn()
            best = min(best, time.perf_counter() - start)
        return best
    finally:
        gc.enable()


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def pack_rows(vok_dsl):
    """Sign, verify and diff the pack of the pack-hash benchmark (20,000 concepts, about 8 MB)."""
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    from pack_hash import generate  # noqa: E402  (bench/pack_hash.py)
    from interrupt_latency import PRIVATE_KEY, PUBLIC_KEY  # noqa: E402

    text = generate(20_000)
    size = len(text.encode())
    signed = vok_dsl.sign_pack(text, PRIVATE_KEY)
    if not vok_dsl.verify_pack_signature(signed, PUBLIC_KEY):
        raise SystemExit("the benchmark pack does not verify")
    # The reference for the notes: signing and verifying should cost little beyond the hash.
    hash_seconds = best_of(lambda: vok_dsl.compute_pack_hash(text))
    sign_seconds = best_of(lambda: vok_dsl.sign_pack(text, PRIVATE_KEY))
    verify_seconds = best_of(lambda: vok_dsl.verify_pack_signature(signed, PUBLIC_KEY))

    # The next version: every 50th concept deprecated, every 70th redefined, every 90th removed,
    # 200 added, and a new fingerprint without a new meaning version.
    pack = json.loads(text)
    concepts = []
    for n, concept in enumerate(pack["concepts"]):
        if n % 90 == 0:
            continue
        if n % 50 == 0:
            concept["status"] = "deprecated"
        if n % 70 == 0:
            concept["definition"]["definition_hash"] += "0"
        concepts.append(concept)
    for n in range(200):
        concepts.append(dict(concepts[0], id=f"added-{n:04d}"))
    pack["concepts"] = concepts
    pack["meaning_fingerprint"] += "0"
    newer = json.dumps(pack, ensure_ascii=False, separators=(",", ":"))
    both = size + len(newer.encode())
    diff_seconds = best_of(lambda: vok_dsl.diff_packs(text, newer))
    entries = len(json.loads(vok_dsl.diff_packs(text, newer))["entries"])
    return [
        ("sign_pack", size, size / sign_seconds / 1e6,
         f"sign / hash time = {sign_seconds / hash_seconds:.2f}"),
        ("verify_pack_signature", size, size / verify_seconds / 1e6,
         f"verify / hash time = {verify_seconds / hash_seconds:.2f}"),
        ("diff_packs", both, both / diff_seconds / 1e6, f"{entries} entries"),
    ]


def specificity_rows(build):
    """The specificity step at 8,000 to 128,000 tied policies (bench/specificity_bench.cpp)."""
    out = run([os.path.join(build, "bench", "specificity_bench")])
    rows = []
    for shape in ("incomparable rows", "incomparable policies", "comparable policies",
                  "two-column antichain", "three-column random", "three-column antichain",
                  "five-column antichain"):
        times = re.findall(rf"^{shape} rows=(\d+) best: ([\d.]+) s", out, re.M)
        growth = re.findall(rf"^{shape} growth \d+ -> \d+ rows: ([\d.]+)x", out, re.M)
        sizes = " / ".join(f"{int(n) // 1000}k" for n, _ in times)
        seconds = " / ".join(f"{float(t) * 1000:.1f}" for _, t in times)
        rows.append((f"specificity, {shape}", None, None,
                     f"{sizes} rows: {seconds} ms; 4x rows: " +
                     ", ".join(f"{g}x" for g in growth) + " the time"))
    return rows


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    blocks = sys.argv[2] if len(sys.argv) > 2 else "1000"
    sys.path.insert(0, os.path.join(build, "python"))
    import vok_dsl  # noqa: E402  (the build's module)

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        model = os.path.join(tmp, "model.vok")
        run([sys.executable, os.path.join(ROOT, "bench", "generate_model.py"), model, blocks])
        with open(model, encoding="utf-8") as f:
            source = f.read()
        size = len(source.encode())

        out = run([os.path.join(build, "bench", "grammar_bench"), model])
        grammar_mbs = float(re.search(r"best: [\d.]+ s \(([\d.]+) MB/s\)", out).group(1))
        rows.append(("grammar only (C++)", size, grammar_mbs, ""))

        out = run([os.path.join(build, "bench", "lower_bench"), model])
        for label, key in (("parse_source (C++)", "parse:"), ("parse + lower (C++)", "parse+lower:")):
            line = next(l for l in out.splitlines() if l.startswith(key))
            rows.append((label, size, float(re.search(r"\(([\d.]+) MB/s\)", line).group(1)), ""))

        # The ratio of this pair is what the table reports: more rounds each, so that one slow
        # stretch of a shared machine does not decide it.
        seconds = best_of(lambda: vok_dsl.Graph.parse(source), rounds=15)
        parse_mbs = size / seconds / 1e6
        rows.append(("Graph.parse", size, parse_mbs, ""))

        # json.loads on a compact JSON document of the same records (bench/parse_vs_json.py).
        sys.path.insert(0, os.path.join(ROOT, "bench"))
        from parse_vs_json import compact, same_records  # noqa: E402

        document = compact(same_records(source))
        json_size = len(document.encode())
        seconds = best_of(lambda: json.loads(document), rounds=15)
        json_mbs = json_size / seconds / 1e6
        rows.append(("json.loads, same records", json_size, json_mbs,
                     f"json.loads time / Graph.parse time = "
                     f"{seconds / (size / parse_mbs / 1e6):.2f}"))

        # One declaration per line and one long operator chain, each in a fresh interpreter so
        # that its peak memory is its own (bench/line_declarations.py).
        import line_declarations  # noqa: E402

        rows.extend(line_declarations.measure(build))

        # Ten times the input, each size in fresh interpreters (bench/ten_times.py).
        import ten_times  # noqa: E402

        rows.extend(ten_times.measure(build, int(blocks)))

        # Worker threads against none on two cores (bench/workers.py).
        import workers  # noqa: E402

        rows.extend(workers.measure(build, int(blocks)))

        # The ten-times model failing on its last line, and interrupted, in fresh interpreters
        # (bench/failing_model.py).
        import failing_model  # noqa: E402

        rows.extend(failing_model.measure(build, 10 * int(blocks)))

        seconds = best_of(lambda: vok_dsl.format_source(source), rounds=3)
        rows.append(("format_source", size, size / seconds / 1e6, ""))

        doc = os.path.join(tmp, "doc.json")
        run([sys.executable, os.path.join(ROOT, "bench", "make_json_document.py"), doc])
        out = run([os.path.join(build, "bench", "json_bench"), doc])
        reader_mbs = float(re.search(r"mb_per_s=([\d.]+)", out).group(1))
        with open(doc, "rb") as f:
            raw = f.read()
        seconds = best_of(lambda: json.loads(raw), rounds=20)
        loads_mbs = len(raw) / seconds / 1e6
        rows.append(("JSON reader (C++), 1 MB", len(raw), reader_mbs,
                     f"reader / json.loads = {reader_mbs / loads_mbs:.2f}"))
        rows.append(("json.loads, same 1 MB", len(raw), loads_mbs, ""))

    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import pack_hash  # noqa: E402  (bench/pack_hash.py)

    size, native, python = pack_hash.measure(build, 20_000)
    rows.append(("compute_pack_hash", size, size / native / 1e6,
                 f"json + hashlib / compute_pack_hash = {python / native:.2f}"))
    rows.append(("json + hashlib, same pack", size, size / python / 1e6, ""))

    rows.extend(pack_rows(vok_dsl))
    big_pack = pack_hash.generate(100_000)
    big_size = len(big_pack.encode())
    for label, call in (
        ("validate_graph_with_pack", lambda: vok_dsl.validate_graph_with_pack(big_pack, "s", "{}")),
        ("resolve_concept", lambda: vok_dsl.resolve_concept("Alias 50", big_pack, "{}")),
    ):
        seconds = best_of(call, 3)
        rows.append((label, big_size, big_size / seconds / 1e6,
                     f"100,000 concepts in {seconds:.3f} s"))
    del big_pack

    import pack_build  # noqa: E402  (bench/pack_build.py)

    build_size, seconds = pack_build.measure(build, 100_000)
    rows.append(("build_semantic_pack", build_size, build_size / seconds / 1e6,
                 f"100,000 concepts and aliases in {seconds:.3f} s"))

    rows.extend(specificity_rows(build))

    # Short calls on small threads, and destroying large expression trees.
    import small_stack_calls  # noqa: E402  (bench/small_stack_calls.py)

    rows.extend(small_stack_calls.rows(build))
    # Open values converted each way, beside json.dumps and json.loads (bench/conversions.py).
    import conversions  # noqa: E402

    rows.extend(conversions.rows(build))
    out = run([os.path.join(build, "bench", "expression_teardown_bench")])
    for shape, destructor, reference, ratio in re.findall(
            r"^(\w+) +\d+ nodes: destructor ([\d.]+) ms, recursive teardown ([\d.]+) ms "
            r"\(([\d.]+)x\)", out, re.M):
        rows.append((f"dropping a 1M-node expression, {shape}", None, None,
                     f"{destructor} ms; recursive teardown {reference} ms ({ratio}x)"))

    out = run([os.path.join(build, "bench", "graph_bench")])
    total = float(re.search(r"total:\s+([\d.]+) s", out).group(1))

    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import authority  # noqa: E402  (bench/authority.py, against the same module)
    decisions, python_decisions, trace_bytes = authority.measure()

    print(f"{'benchmark':<38} {'bytes':>10} {'MB/s':>8}  note")
    for label, nbytes, mbs, note in rows:
        rate = "" if mbs is None else f"{mbs:.1f}"
        print(f"{label:<38} {nbytes or '':>10} {rate:>8}  {note}")
    print(f"{'graph from code':<38} {'':>10} {'':>8}  100,000 entities + 100,000 flows + "
          f"lookups in {total:.3f} s")
    print(f"{'AuthorityEnvironment.evaluate':<38} {'':>10} {'':>8}  {decisions:,.0f} decisions/s, "
          f"{decisions / python_decisions:.1f}x the Python loop, ~{trace_bytes:,.0f} B per trace")
    # Policy evaluation has its own script: it also measures memory, in a child process.
    print(run([sys.executable, os.path.join(ROOT, "bench", "policy_eval_bench.py"), build]), end="")
    # How late Ctrl-C is acted on, each call in fresh interpreters (bench/interrupt_latency.py).
    print()
    print(run([sys.executable, os.path.join(ROOT, "bench", "interrupt_latency.py"), build,
               "--rounds", "1"]), end="")


if __name__ == "__main__":
    main()
