#!/usr/bin/python3
"""Compares Graph.parse on a generated model with json.loads on a JSON document of the same records.

usage: PYTHONPATH=<build>/python parse_vs_json.py [BLOCKS] [ROUNDS]

The model is written by generate_model.py with BLOCKS blocks (default 1000, about 3 MB of source).
The JSON document holds every declaration of the model as one record, grouped by kind and written
compactly: names, versions, domains, units, references by name, quantities, annotations, policy
headers, mapping and projection rules, and policy and metric expressions as their source text; no
ids. It is what the source says, in JSON's own form, so the two parsers read the same facts.
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

# The document's key for each declaration kind, in the order the kinds appear in a block.
KIND_KEYS = {
    "Dimension": "dimensions", "UnitDeclaration": "units", "Entity": "entities",
    "Resource": "resources", "Flow": "flows", "Role": "roles", "Relation": "relations",
    "Instance": "instances", "Pattern": "patterns", "Policy": "policies", "Metric": "metrics",
    "MappingDecl": "mappings", "ProjectionDecl": "projections", "ConceptChange": "concept_changes",
}


def generate(blocks):
    generator = os.path.join(os.path.dirname(os.path.abspath(__file__)), "generate_model.py")
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "model.vok")
        subprocess.run([sys.executable, generator, path, str(blocks)], check=True)
        with open(path, encoding="utf-8") as f:
            return f.read()


def field_value(expression):
    """An instance field as the value it stands for (the field values the model uses)."""
    kind = expression["type"]
    if kind == "Literal":
        return expression["value"]
    if kind == "QuantityLiteral":
        return {"value": expression["value"], "unit": expression["unit"]}
    if kind == "TimeLiteral":
        return expression["timestamp"]
    return expression["name"]


def expression_text(text):
    """The expression of a policy or metric declaration's source text: what follows "as:", up to
    the annotations a metric may carry after it (generate_model.py starts them on a new line)."""
    text = text.split("as:", 1)[1]
    return text.split("\n    @", 1)[0].strip()


def same_records(source):
    """The compact JSON document of the model's records (see the module's docstring)."""
    tree = json.loads(vok_dsl.Graph.parse_to_ast_json(source))
    line_starts = [0]
    for line in source.splitlines(keepends=True):
        line_starts.append(line_starts[-1] + len(line))
    declarations = tree["declarations"]
    offsets = [line_starts[d["line"] - 1] + d["column"] - 1 for d in declarations]
    offsets.append(len(source))
    document = {"header": tree["metadata"]}
    for key in KIND_KEYS.values():
        document[key] = []
    for n, declaration in enumerate(declarations):
        node = declaration["node"]
        exported = node["type"] == "Export"
        # An exported declaration wraps the one it exports, position and all.
        while node["type"] == "Export":
            node = node["declaration"]["node"]
        record = {k: v for k, v in node.items() if k != "type"}
        if exported:
            record["exported"] = True
        if node["type"] in ("Policy", "Metric"):
            record["expression"] = expression_text(source[offsets[n]:offsets[n + 1]])
        elif node["type"] == "Instance":
            record["fields"] = {k: field_value(v) for k, v in node["fields"].items()}
        document[KIND_KEYS[node["type"]]].append(record)
    return document


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
    document = compact(same_records(source))

    source_bytes = len(source.encode("utf-8"))
    parse_seconds = best_time(lambda: vok_dsl.Graph.parse(source), rounds)
    parse_rate = source_bytes / parse_seconds / 1e6
    print(f"model: {blocks} blocks, {graph!r}, {graph.role_count()} roles, "
          f"{graph.relation_count()} relations, {graph.pattern_count()} patterns")
    print(f"{'Graph.parse (source)':34} {source_bytes / 1e6:7.2f} MB {parse_seconds * 1e3:8.1f} ms "
          f"{parse_rate:8.2f} MB/s")
    document_bytes = len(document.encode("utf-8"))
    loads_seconds = best_time(lambda: json.loads(document), rounds)
    loads_rate = document_bytes / loads_seconds / 1e6
    print(f"{'json.loads (same records)':34} {document_bytes / 1e6:7.2f} MB "
          f"{loads_seconds * 1e3:8.1f} ms {loads_rate:8.2f} MB/s   "
          f"json.loads time / Graph.parse time = {loads_seconds / parse_seconds:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
