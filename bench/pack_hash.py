#!/usr/bin/python3
"""Times compute_pack_hash against Python's json and hashlib on the same pack.

usage: /usr/bin/python3 bench/pack_hash.py [BUILD_DIR] [CONCEPTS]

Generates a pack of CONCEPTS concepts (default 20,000, about 8 MB) with definitions, text lists
and source references, plus relations, metrics, dimensions, units, aliases and mapping rules. The
pack is written in its hashed form (empty `created_at` and `review_manifest_hash`, `trust` with
its two keys, collections and lists in canonical order, `compatibility` with every key), so that
its content hash is the SHA-256 of the sorted-key compact text Python's json module writes from
it. The benchmark checks that the two digests agree, times both in one run and prints the ratio.
"""

import hashlib
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_all import ROOT, best_of  # noqa: E402
KINDS = ("entity", "resource", "role", "flow", "policy", "metric", "dimension", "unit")


def span(uri, i):
    return {"uri": uri, "start_byte": i * 40, "end_byte": i * 40 + 37, "start_line": i + 1,
            "start_col": 1, "end_line": i + 1, "end_col": 38}


def generate(concepts):
    ids = sorted(f"concept-{i:06d}" for i in range(concepts))
    pack = {
        "schema_version": "0.3", "pack_id": "bench/pack", "org_id": "acme", "domain_id": "sales",
        "pack_version": "1.0.0", "meaning_version": "3.2.1",
        "meaning_fingerprint": "sha256:" + "ab" * 32, "source_graph_hash": "sha256:" + "cd" * 32,
        "build_config_hash": "sha256:" + "ef" * 32, "review_manifest_hash": "", "created_at": "",
        "generator": {"name": "vok-core", "version": "0.3"},
        "trust": {"approval_state": "approved", "signature_state": "unsigned"},
        "concepts": [], "relations": [], "metrics": [], "dimensions": [], "units": [],
        "aliases": [], "mapping_rules": [],
        "compatibility": {"brisvandole_min_version": "0.3", "brisvandole_max_version": "0.9",
                          "lsp_min_version": "1.0", "deprecated_after": "2030-01-01",
                          "retired_after": "2031-01-01", "replaces_pack_ids": ["old/a", "old/b"]},
    }
    for n, cid in enumerate(ids):
        uri = f"file:///m/b{n % 97}.vok"
        pack["concepts"].append({
            "id": cid, "canonical_name": f"C{n} «Ü»", "kind": KINDS[n % len(KINDS)],
            "status": "active",
            "definition": {"text": f"C{n}:\t\"x\"",
                           "definition_hash": f"sha256:{n:016x}", "decision_ref": f"d-{n}"},
            "owner": f"t{n % 13}",
            "source_refs": [span(uri, n)],
            "examples": [f"e{n}"],
            "counterexamples": [],
            "allowed_predicates": ["has"],
            "valid_contexts": ["sales"],
        })
    for n in range(0, concepts - 1, 10):
        pack["relations"].append({"id": f"rel-{n:06d}", "predicate": "owns", "subject_id": ids[n],
                                  "object_id": ids[n + 1], "cardinality": "1..n",
                                  "source_refs": [span("file:///rel.vok", n)]})
    pack["dimensions"] = [{"id": "currency", "name": "Currency", "source_refs": []}]
    pack["units"] = [{"id": "usd", "symbol": "$", "dimension_id": "currency", "source_refs": []}]
    pack["metrics"] = [{"id": f"metric-{n:04d}", "name": f"Metric {n}", "dimension_id": "currency",
                        "unit_id": "usd", "source_refs": []} for n in range(100)]
    aliases = [{"alias": f"Alias {n}", "normalized_alias": f"alias {n}", "target_concept_id": ids[n],
                "status": "approved", "confidence": "0.9", "decision_ref": f"a-{n}",
                "source_ref": span("file:///aliases.vok", n)} for n in range(0, concepts, 10)]
    pack["aliases"] = sorted(aliases, key=lambda a: (a["normalized_alias"].encode(),
                                                     a["target_concept_id"].encode()))
    pack["mapping_rules"] = [{"id": f"map-{n:05d}", "source_term": f"term {n}",
                              "target_concept_id": ids[n], "confidence": "high",
                              "decision_ref": f"m-{n}"} for n in range(0, concepts, 20)]
    return json.dumps(pack, ensure_ascii=False, separators=(",", ":"))


def python_hash(text):
    canonical = json.dumps(json.loads(text), sort_keys=True, separators=(",", ":"),
                           ensure_ascii=False)
    return "sha256:" + hashlib.sha256(canonical.encode()).hexdigest()


def measure(build, concepts):
    sys.path.insert(0, os.path.join(build, "python"))
    import vok_dsl  # noqa: E402  (the build's module)

    text = generate(concepts)
    ours, theirs = vok_dsl.compute_pack_hash(text), python_hash(text)
    if ours != theirs:
        raise SystemExit(f"digests differ: compute_pack_hash {ours}, json+hashlib {theirs}")
    native = best_of(lambda: vok_dsl.compute_pack_hash(text))
    python = best_of(lambda: python_hash(text))
    return len(text.encode()), native, python


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    concepts = int(sys.argv[2]) if len(sys.argv) > 2 else 20_000
    size, native, python = measure(build, concepts)
    print(f"pack: {size} bytes, {concepts} concepts")
    print(f"compute_pack_hash: {native:.4f} s ({size / native / 1e6:.1f} MB/s)")
    print(f"json+hashlib: {python:.4f} s ({size / python / 1e6:.1f} MB/s)")
    print(f"ratio: {python / native:.2f}x")


if __name__ == "__main__":
    main()
