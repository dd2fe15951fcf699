#!/usr/bin/python3
"""Writes a large VOK DSL model for benchmarks.

usage: generate_model.py OUTPUT [BLOCKS]

The model is made of BLOCKS blocks (default 1000), each holding about forty declarations of every
kind: dimensions and units, entities (with versions, annotations and domains), resources, flows
with quantities and free annotations, roles, relations, instances with field values, patterns,
policies with quantifiers, aggregations, windows, group-by, intervals, casts and comparisons,
metrics with annotations, mappings with nested object literals, projections, concept changes and
exported declarations, with comments and varied layout in between.

The output depends only on BLOCKS. It is valid source for the grammar and sound for lowering into a
graph: every flow names entities and a resource declared in the file (names are unique across all
namespaces, so references resolve whatever domain a declaration sits in), relations name declared
roles and resources, instance entity types are declared in the file's namespace, and every unit
symbol is new and declared once.
"""

import sys

NAMESPACES = ("sales", "logistics", "finance", "ops")
SEVERITIES = ("info", "warning", "error", "critical")
DURATIONS = ("seconds", "minutes", "hours", "days", "s", "m", "h", "d")
FORMATS = ("calm", "kg", "sbvr", "protobuf", "proto")


def header(out):
    out.append("// Generated benchmark model: do not edit.\n")
    out.append('@namespace "bench"\n@version "1.4.2"\n@owner "Benchmarks"\n@profile "default"\n')
    out.append('import { Customer, Supplier as Vendor, } from "shared/parties"\n')
    out.append('import * as common from "shared/common"\n\n')


def policies(i, out):
    e0 = f"Site_{i}_0"
    res = f"Cash_{i}"
    out.append(
        f"Policy positive_flows_{i} per Constraint Obligation priority {i % 9 + 1}\n"
        f'    @rationale "Flows must carry a positive quantity"\n'
        f'    @tags ["quality", "block{i}"]\n'
        f"    v1.{i % 7}.0\n"
        f'    as: forall f in flows: (f.quantity > 0 and f.resource != "")\n'
    )
    out.append(
        f"policy has_cash_{i} as: exists f in flows: (f.resource = \"{res}\" and f.quantity >= 10)\n"
    )
    out.append(
        f"Policy volume_{i} per Derivation Permission priority 2 as:\n"
        f'    sum(f in flows over last {i % 30 + 1} "{DURATIONS[i % len(DURATIONS)]}"'
        f' where f.resource = "{res}": f.quantity) >= 100 "units"\n'
    )
    out.append(
        f"Policy grouped_{i} as: group_by(f in flows where f.quantity > 0: f.resource)"
        f" {{ count(flows) > 1 }}\n"
    )
    out.append(
        f"Policy window_{i} @tags \"timing\" as: not (deadline_{i} before \"2024-01-15T10:30:00Z\")"
        f' or opened_{i} during interval("2024-01-01T00:00:00Z", "2024-02-01T00:00:00+02:00")\n'
    )
    out.append(
        f"Policy arithmetic_{i} per Obligation Prohibition priority 7 as:\n"
        f"    (avg(flows.quantity) * 2 + -{i % 5} / 3) < max(flows.quantity) - min(flows.quantity)"
        f' and total_{i} as "decimal" contains "x"\n'
    )
    out.append(
        f"Policy unique_{i} as: exists_unique e in entities: (e.name = \"{e0}\")"
        f' and not not site_{i} has_role "Buyer_{i}"\n\n'
    )


def block(i, out):
    ns = NAMESPACES[i % len(NAMESPACES)]
    out.append(f"// ---- block {i} ----\n")
    out.append(f'Dimension "Dim{i}"\n')
    out.append(f'Unit "bu{i}" of "Dim{i}" factor 1 base "bu{i}"\n')
    out.append(f'Unit "ku{i}" of "Dim{i}" factor 1000.5 base "bu{i}"\n\n')

    # Entities: the first two live in the file namespace (instances and mappings refer to them).
    out.append(f'Entity "Site_{i}_0" v1.{i % 10}.0\n')
    out.append(f'Entity "Site_{i}_1" @replaces "OldSite_{i}" v0.9.{i % 4} @changes ["renamed", "split"]\n')
    out.append(f'entity "Hub_{i}" V 2.0.{i % 3} in {ns}\n')
    out.append(f'export Entity "Partner_{i}" in {NAMESPACES[(i + 1) % len(NAMESPACES)]}\n\n')

    out.append(f'Resource "Cash_{i}" ku{i} in {ns}\n')
    out.append(f'Resource "Stock_{i}" bu{i}\n')
    out.append(f'Resource "Parts_{i}" in {ns}\n')
    out.append(f'Resource "Credit_{i}" @changes ["limit raised"]\n\n')

    out.append(f'Flow "Cash_{i}" from "Site_{i}_0" to "Site_{i}_1" quantity {i % 1000}.{i % 97:02d}\n')
    out.append(
        f'Flow "Stock_{i}" @priority {i % 5} @channel "rail" @tracked true\n'
        f'    @meta {{ "lane": "north", "limits": {{ "max": 10, "min": 1 }}, "tags": ["a", "b"] }}\n'
        f'    from "Hub_{i}" to "Site_{i}_0" quantity 42\n'
    )
    out.append(f'flow "Parts_{i}" from "Partner_{i}" to "Hub_{i}"\n\n')

    out.append(f'Role "Buyer_{i}" in {ns}\n')
    out.append(f'Role "Seller_{i}"\n')
    out.append(
        f'Relation "Pays_{i}" subject: "Buyer_{i}" predicate: "pays" object: "Seller_{i}"'
        f' via: flow "Cash_{i}"\n'
    )
    out.append(
        f'Relation "Supplies_{i}" subject: "Seller_{i}" predicate: "supplies" object: "Buyer_{i}"\n\n'
    )

    out.append(
        f'Instance site_{i} of "Site_{i}_0" {{\n'
        f'    name: "Site number {i}",\n'
        f"    capacity: {i * 3 % 1000},\n"
        f'    weight: {i % 50}.5 "bu{i}",\n'
        f'    opened: "2023-0{i % 9 + 1}-1{i % 10}T08:00:00Z",\n'
        f"    region: region_{ns}\n"
        f"    active: {'true' if i % 2 else 'false'}\n"
        f"}}\n"
    )
    out.append(f'Instance spare_{i} of "Site_{i}_1"\n\n')

    out.append(f'Pattern "Code_{i}" matches "^[A-Z]{{3}}-[0-9]+$"\n\n')

    policies(i, out)

    out.append(
        f'Metric "throughput_{i}" as: sum(f in flows: f.quantity) / count(flows)\n'
        f'    @refresh_interval {i % 60 + 1} "{DURATIONS[i % len(DURATIONS)]}"\n'
        f'    @unit "bu{i}" @threshold {i % 500}.25 @severity "{SEVERITIES[i % 4]}"\n'
        f'    @target 75 @window {i % 14 + 1} "days"\n'
    )
    out.append(f'Metric """backlog_{i}""" as: count(entities)\n\n')

    fmt = FORMATS[i % len(FORMATS)]
    out.append(
        f'Mapping "map_{i}" for {fmt} {{\n'
        f'    Entity "Site_{i}_0" -> Node {{ label: "Site", props: {{ "k": {i % 10}, '
        f'"nested": {{ "deep": true, "list": ["x", "y"] }} }}, active: true }}\n'
        f'    Resource "Cash_{i}" -> Asset {{ kind: "cash" currency: "EUR", }}\n'
        f'    Flow "Cash_{i}" -> Edge {{}}\n'
        f"}}\n"
    )
    out.append(
        f'Projection "proj_{i}" for {FORMATS[(i + 2) % len(FORMATS)]} {{\n'
        f'    Entity "Site_{i}_0" {{ label: "Site", properties: {{ "name" -> "fullName", "code" -> "id" }} }}\n'
        f'    Resource "Stock_{i}" {{ unit: "bu{i}" }}\n'
        f"}}\n"
    )
    out.append(
        f'ConceptChange "Rename_{i}" @from_version v1.{i % 5}.0 @to_version v2.0.0'
        f" @migration_policy manual @breaking_change {'true' if i % 3 else 'false'}\n\n"
    )


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    blocks = int(sys.argv[2]) if len(sys.argv) == 3 else 1000
    out = []
    header(out)
    for i in range(blocks):
        block(i, out)
    with open(sys.argv[1], "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
