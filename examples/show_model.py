"""Parse a VOK DSL model and print what it holds.

Usage: python3 examples/show_model.py [path/to/model.vok]
"""

import json
import os
import sys
from pathlib import Path

import vok_dsl


def main() -> None:
    path = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).with_name("warehouse.vok"))
    source = path.read_text(encoding="utf-8")

    graph = vok_dsl.Graph.parse(source)
    print(f"{path.name}: {graph!r}")
    print(
        f"  {graph.entity_count()} entities, {graph.resource_count()} resources, "
        f"{graph.flow_count()} flows, {graph.role_count()} roles, "
        f"{graph.relation_count()} relations, {graph.pattern_count()} patterns"
    )

    print("\nEntities:")
    for entity in graph.all_entities():
        print(f"  {entity.name:<12} namespace={entity.namespace or 'default':<10} id={entity.id}")

    print("\nFlows:")
    names = {e.id: e.name for e in graph.all_entities()}
    resources = {r.id: r for r in graph.all_resources()}
    for flow in graph.all_flows():
        resource = resources[flow.resource_id]
        print(
            f"  {resource.name:<12} {names[flow.from_id]:>10} -> {names[flow.to_id]:<10} "
            f"{flow.quantity:>10} {resource.unit}"
        )

    tree = json.loads(vok_dsl.Graph.parse_to_ast_json(source))
    kinds: dict[str, int] = {}
    for declaration in tree["declarations"]:
        kind = declaration["node"]["type"]
        kinds[kind] = kinds.get(kind, 0) + 1
    print("\nSyntax tree:")
    print(f"  header: {json.dumps(tree['metadata'])}")
    print("  declarations: " + ", ".join(f"{n} {k}" for k, n in sorted(kinds.items())))

    print(f"\nFormatted source is canonical: {vok_dsl.check_format(source)}")

    # A fixed stamp (unless the caller set one) makes both exports the same on every run.
    os.environ.setdefault("SOURCE_DATE_EPOCH", "1700000000")
    print("\nProtobuf projection:")
    print(graph.export_protobuf("logistics", "", path.stem, True, True), end="")
    calm = graph.export_calm()
    print(f"\nCALM export ({len(calm)} characters):")
    print(calm)
    show_calm_round_trip(graph, calm, kinds)


def counted(number: int, word: str) -> str:
    return f"{number} {word}" + ("" if number == 1 else "s")


def show_calm_round_trip(graph: vok_dsl.Graph, calm: str, kinds: dict[str, int]) -> None:
    """What Graph.import_calm gives back of the export, and what it leaves out and why."""
    back = vok_dsl.Graph.import_calm(calm)
    document = json.loads(calm)
    print(f"\nImported back: {back!r}, {counted(back.pattern_count(), 'pattern')}")
    print("  not in the export: " + ", ".join([
        counted(graph.role_count(), "role"), counted(graph.relation_count(), "relation"),
        counted(kinds.get("Instance", 0), "entity instance"),
        counted(kinds.get("ConceptChange", 0), "concept change"),
        counted(kinds.get("MappingDecl", 0), "mapping"),
        counted(kinds.get("ProjectionDecl", 0), "projection"),
    ]) + " (a mapping or projection for calm shapes the nodes)")
    for node in document["nodes"]:
        if node["metadata"].get("vok:primitive") == "Metric":
            print(f"  not read back: metric {node['name']} (metrics do not come back)")
    # A Mapping for calm may give a flow another relationship type; import reads only flow and
    # association relationships and passes over the others.
    names = {e.id: e.name for e in graph.all_entities()}
    for relationship in document["relationships"]:
        kind = relationship["relationship-type"]
        if isinstance(kind, str) and kind != "association":
            parties = relationship["parties"]
            print(f"  not read back: the {kind!r} relationship {names[parties['source']]} -> "
                  f"{names[parties['destination']]}, a flow the model's calm Mapping renamed "
                  "(import reads flow and association relationships only)")


if __name__ == "__main__":
    main()
