#!/usr/bin/python3
"""Times build_semantic_pack on a large approved build.

usage: /usr/bin/python3 bench/pack_build.py [BUILD_DIR] [CONCEPTS]

Generates a build input of CONCEPTS concepts (default 100,000) and as many aliases, in scrambled
order. Even concepts are active, carry a definition hash and have an approving review record with
that hash; odd ones are proposed with an empty hash, which the build computes. Every alias points
at a concept; one in ten shares its key with the next alias. The build passes every check, so the
figure covers all of them, the hashes, the canonical sort and writing the pack.
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_all import ROOT, best_of  # noqa: E402


def generate(concepts):
    order = [(n * 7919) % concepts for n in range(concepts)]
    items, records, aliases = [], [], []
    for n in order:
        active = n % 2 == 0
        digest = f"sha256:{n:064x}" if active else ""
        items.append({
            "id": f"concept-{n:06d}", "canonical_name": f"Concept {n} «Ü»", "kind": "entity",
            "status": "active" if active else "proposed",
            "definition": {"text": f"Concept {n}:\t\"x\"", "definition_hash": digest,
                           "decision_ref": f"d-{n}"},
            "owner": f"team-{n % 13}", "examples": [f"e{n}", f"a{n}"], "counterexamples": [],
        })
        if active:
            records.append({
                "decision_id": f"r-{n:06d}", "subject_type": "concept",
                "subject_id": f"concept-{n:06d}", "decision": "approve", "rationale": "ok",
                "reviewer": "rev", "reviewed_at": "2024-01-01T00:00:00Z",
                "definition_hash": digest,
            })
        key = n - 1 if n % 10 == 1 else n
        aliases.append({
            "alias": f"Alias  {key}", "normalized_alias": f"alias {key}",
            "target_concept_id": f"concept-{n:06d}",
            "status": "ambiguous" if n % 10 < 2 else "approved", "decision_ref": f"a-{n}",
            "source_ref": {"uri": "file:///aliases.vok", "start_byte": n, "end_byte": n + 5,
                           "start_line": 1, "start_col": 1, "end_line": 1, "end_col": 6},
        })
    document = {
        "org_id": "acme", "domain_id": "sales", "pack_version": "1.0.0",
        "meaning_version": "1.0.0", "approval": "approved", "concepts": items, "relations": [],
        "metrics": [], "dimensions": [], "units": [], "aliases": aliases, "mapping_rules": [],
        "review_records": records, "previous_pack": None, "allow_first_approved_version": True,
        "source_graph_hash": "sha256:" + "cd" * 32,
    }
    return json.dumps(document, ensure_ascii=False, separators=(",", ":"))


def measure(build_dir, concepts):
    """(input bytes, seconds of the best of three builds)."""
    sys.path.insert(0, os.path.join(build_dir, "python"))
    import vok_dsl

    text = generate(concepts)
    pack, diagnostics = vok_dsl.build_semantic_pack(text)
    if not pack or any(json.loads(d)["severity"] == "error" for d in diagnostics):
        raise SystemExit("the benchmark build was refused: " + "; ".join(diagnostics[:3]))
    return len(text.encode()), best_of(lambda: vok_dsl.build_semantic_pack(text), 3)


def main():
    build_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    concepts = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    size, seconds = measure(build_dir, concepts)
    print(f"build_semantic_pack: {concepts} concepts and aliases, {size} bytes, {seconds:.3f} s")


if __name__ == "__main__":
    main()
