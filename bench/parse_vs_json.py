#!/usr/bin/python3
"""Compares Graph.parse on a generated model with json.loads on JSON documents of the same records.

usage: PYTHONPATH=<build>/python parse_vs_json.py [BLOCKS] [ROUNDS]

The model is written by generate_model.py with BLOCKS blocks (default 1000, about 3 MB of source).
Two JSON documents are timed against it, both written compactly:
- "graph records": the entities, resources, flows, roles and relations as the parsed graph's
  getters show them; close to the source in size, but without the declarations the graph offers
  no getters for;
- "all records": those records plus every other declaration (dimensions, units, instances,
  patterns, policies, metrics, mappings, projections, concept changes) as its syntax-tree JSON;
  everything the source says, in a wordier form.
Each is timed ROUNDS times (default 5) and the best round is reported as MB/s of its own input,
with the ratios of throughput and of time against Graph.parse.

Only the standard library is used, so the script runs with the system's python3 against a build
directory of the module.
"""

import gc
import json
import os
import subprocess
import sys
import tempfile
import time

import vok_dsl

GRAPH_KINDS = {"Entity", "Resource", "Flow", "Role", "Relation"}


def generate(blocks):
    generator = os.path.join(os.path.dirname(os.path.abspath(__file__)), "generate_model.py")
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "model.vok")
        subprocess.run([sys.executable, generator, path, str(blocks)], check=True)
        with open(path, encoding="utf-8") as f:
            return f.read()


def graph_records(graph):
    def namespace(record):
        return record.namespace or "default"

    return {
        "entities": [{"id": e.id, "name": e.name, "namespace": namespace(e)}
                     for e in graph.all_entities()],
        "resources": [{"id": r.id, "name": r.name, "unit": r.unit, "namespace": namespace(r)}
                      for r in graph.all_resources()],
        "flows": [{"id": f.id, "resource_id": f.resource_id, "from_id": f.from_id,
                   "to_id": f.to_id, "quantity": f.quantity, "namespace": namespace(f)}
                  for f in graph.all_flows()],
        "roles": [{"id": r.id, "name": r.name, "namespace": namespace(r)}
                  for r in graph.all_roles()],
        "relations": [{"id": r.id, "name": r.name, "namespace": r.namespace,
                       "subject_role_id": r.subject_role_id, "predicate": r.predicate,
                       "object_role_id": r.object_role_id, "via_flow_id": r.via_flow_id}
                      for r in graph.all_relations()],
    }


def declaration_kind(declaration):
    node = declaration["node"]
    # An exported declaration wraps the one it exports, position and all.
    while node["type"] == "Export":
        node = node["declaration"]["node"]
    return node["type"]


def other_declarations(source):
    tree = json.loads(vok_dsl.Graph.parse_to_ast_json(source))
    return [d["node"] for d in tree["declarations"] if declaration_kind(d) not in GRAPH_KINDS]


def compact(document):
    return json.dumps(document, separators=(",", ":"), ensure_ascii=False)


# Like timeit, with the cycle collector off: json.loads makes millions of containers, and a
# collection that happens to fall inside a round would be timed as parsing.
def best_time(action, rounds):
    best = float("inf")
    collecting = gc.isenabled()
    gc.disable()
    try:
        for _ in range(rounds):
            start = time.perf_counter()
            action()
            best = min(best, time.perf_counter() - start)
    finally:
        if collecting:
            gc.enable()
    return best


def main():
    if len(sys.argv) > 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    blocks = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5

    source = generate(blocks)
    graph = vok_dsl.Graph.parse(source)  # also registers the model's units before timing
    records = graph_records(graph)
    documents = [("graph records", compact(records))]
    records["other_declarations"] = other_declarations(source)
    documents.append(("all records", compact(records)))

    source_bytes = len(source.encode("utf-8"))
    parse_seconds = best_time(lambda: vok_dsl.Graph.parse(source), rounds)
    parse_rate = source_bytes / parse_seconds / 1e6
    print(f"model: {blocks} blocks, {graph!r}, {graph.role_count()} roles, "
          f"{graph.relation_count()} relations, {graph.pattern_count()} patterns")
    print(f"{'Graph.parse (source)':34} {source_bytes / 1e6:7.2f} MB {parse_seconds * 1e3:8.1f} ms "
          f"{parse_rate:8.2f} MB/s")
    for name, document in documents:
        document_bytes = len(document.encode("utf-8"))
        loads_seconds = best_time(lambda: json.loads(document), rounds)
        loads_rate = document_bytes / loads_seconds / 1e6
        print(f"{'json.loads (' + name + ')':34} {document_bytes / 1e6:7.2f} MB "
              f"{loads_seconds * 1e3:8.1f} ms {loads_rate:8.2f} MB/s   "
              f"throughput x{loads_rate / parse_rate:.2f}, time x{loads_seconds / parse_seconds:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
