"""Graph.export_protobuf: the boundary (signature, defaults, argument errors, docstring) and the
generated files compiled by protoc, whose descriptors must hold what the graph holds."""

import os
import subprocess
from pathlib import Path

import pytest
from google.protobuf import descriptor_pb2
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from vok_dsl import Entity, Flow, Graph, Resource

ROOT = Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "golden" / "proto"
EXAMPLES = max(20, int(100 * float(os.environ.get("VOK_TEST_EXAMPLE_SCALE", "1"))))
FDP = descriptor_pb2.FieldDescriptorProto


@pytest.fixture(autouse=True)
def no_epoch(monkeypatch):
    monkeypatch.delenv("SOURCE_DATE_EPOCH", raising=False)


def compile_proto(text, tmp_path):
    """Compiles the text with protoc and returns its FileDescriptorProto; a refusal fails."""
    (tmp_path / "out.proto").write_text(text, encoding="utf-8")
    done = subprocess.run(
        ["protoc", f"--proto_path={tmp_path}", f"--descriptor_set_out={tmp_path / 'out.pb'}",
         "out.proto"],
        capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr + "\n" + text
    descriptors = descriptor_pb2.FileDescriptorSet()
    descriptors.ParseFromString((tmp_path / "out.pb").read_bytes())
    return descriptors.file[0]


# ---- A model described as data, built into a graph, and what its file must hold ----

SALES_SOURCE = """\
@namespace "sales"
Entity "Customer"
Entity "Supplier"
Resource "Cash" USD
Flow "Cash" from "Customer" to "Supplier" quantity 1
"""

ATTRIBUTES = {
    "weight": 2.5, "tags": ["a", "b"], "Active": True, "code": 7, "delta": -3,
    "big": 2**64 - 1, "note": None, "meta": {"k": [1]}, "label": "x", "unitPrice": 1.5,
    "OrderID": "A1",
}

# (name, namespace, attributes); the parsed entities come first, in "sales".
ENTITIES = [("Customer", "sales", {}), ("Supplier", "sales", {}),
            ("Warehouse", "default", ATTRIBUTES), ("order item", "storage", {"sku": "S"}),
            ("Depot", "storage", {})]
# (name, unit, namespace, attributes)
RESOURCES = [("Cash", "USD", "sales", {}), ("Steel", "kg", "default", {"grade": 3, "alloys": []}),
             ("Crate", "units", "default", {})]
# (resource, from, to, namespace, streaming attribute or None); all but the parsed one are
# made in Python, so in "default".
FLOWS = [("Cash", "Customer", "Supplier", "sales", None),
         ("Steel", "Depot", "Warehouse", "default", "server_streaming"),
         ("Crate", "Depot", "Warehouse", "default", "ClientStreaming"),
         ("Steel", "Warehouse", "Depot", "default", "Duplex"),
         ("Crate", "Warehouse", "Depot", "default", "server-streaming"),
         ("Steel", "Warehouse", "order item", "default", True)]
STREAMING = {"server_streaming": (False, True), "clientstreaming": (True, False),
             "duplex": (True, True)}


def build_catalog():
    graph = Graph.parse(SALES_SOURCE)
    ids = {"Customer": graph.find_entity_by_name("Customer"),
           "Supplier": graph.find_entity_by_name("Supplier"),
           "Cash": graph.find_resource_by_name("Cash")}
    for name, namespace, attributes in ENTITIES[2:]:
        entity = Entity(name, namespace)
        for key, value in attributes.items():
            entity.set_attribute(key, value)
        graph.add_entity(entity)
        ids[name] = entity.id
    for name, unit, namespace, attributes in RESOURCES[1:]:
        resource = Resource(name, unit, namespace)
        for key, value in attributes.items():
            resource.set_attribute(key, value)
        graph.add_resource(resource)
        ids[name] = resource.id
    for resource, source, target, _, streaming in FLOWS[1:]:
        flow = Flow(ids[resource], ids[source], ids[target], 1.0)
        if streaming is not None:
            flow.set_attribute("streaming", streaming)
        graph.add_flow(flow)
    return graph


def type_name(name):
    """The type name of an ASCII name: pieces capitalised and joined."""
    pieces = "".join(c if c.isalnum() else " " for c in name).split()
    return "".join(p[0].upper() + p[1:] for p in pieces)


def field_name(key):
    """The field name of an ASCII key: snake case from camel case."""
    out, previous_upper = "", False
    for i, c in enumerate(key):
        if c.isupper():
            out += ("_" if i > 0 and not previous_upper else "") + c.lower()
            previous_upper = True
        else:
            out += c
            previous_upper = False
    return out


def attribute_fields(attributes, first):
    kinds = []
    for key in sorted(attributes):
        value = attributes[key]
        if isinstance(value, bool):
            kind = FDP.TYPE_BOOL
        elif isinstance(value, int):
            kind = FDP.TYPE_INT64
        elif isinstance(value, float):
            kind = FDP.TYPE_DOUBLE
        else:
            kind = FDP.TYPE_STRING
        label = "repeated" if isinstance(value, list) else "optional"
        kinds.append((field_name(key), kind, label))
    return [(name, first + i, kind, label) for i, (name, kind, label) in enumerate(kinds)]


S, B, D = FDP.TYPE_STRING, FDP.TYPE_BOOL, FDP.TYPE_DOUBLE
GOVERNANCE = [
    ("PolicyViolation", [("policy_name", 1, S, ""), ("entity_id", 2, S, ""), ("severity", 3, S, ""),
                         ("message", 4, S, ""), ("timestamp", 5, S, "")]),
    ("MetricEvent", [("metric_name", 1, S, ""), ("value", 2, D, ""), ("unit", 3, S, "optional"),
                     ("timestamp", 4, S, "")]),
]


def expected_file(namespace, governance, services):
    """Messages as (name, fields) and services as (name, rpcs) that the file must declare."""
    def kept(record_namespace):
        return namespace in ("", record_namespace)

    messages = [(type_name(name), [("id", 1, S, ""), ("name", 2, S, "")]
                 + attribute_fields(attributes, 3))
                for name, ns, attributes in ENTITIES if kept(ns)]
    messages += [(type_name(name), [("id", 1, S, ""), ("name", 2, S, ""),
                                    ("quantity", 3, D, "optional"), ("unit", 4, S, "")]
                  + attribute_fields(attributes, 5))
                 for name, _, ns, attributes in RESOURCES if kept(ns)]
    messages.sort(key=lambda m: m[0].encode())
    if governance:
        messages += GOVERNANCE
    grouped = {}
    if services:
        for resource, _, target, ns, streaming in FLOWS:
            if not kept(ns):
                continue
            mode = STREAMING.get(streaming.lower() if isinstance(streaming, str) else None,
                                 (False, False))
            r = type_name(resource)
            grouped.setdefault(type_name(target) + "Service", []).append(
                ("Process" + r, r, r + "Response") + mode)
        responses = []
        for service in sorted(grouped, key=str.encode):
            for rpc in grouped[service]:
                if rpc[2] not in responses:
                    responses.append(rpc[2])
        messages += [(name, [("success", 1, B, ""), ("message", 2, S, "optional")])
                     for name in responses]
        messages.sort(key=lambda m: m[0].encode())
    return messages, sorted(grouped.items(), key=lambda s: s[0].encode())


def declared(descriptor):
    messages = []
    for message in descriptor.message_type:
        fields = []
        for f in message.field:
            if f.label == FDP.LABEL_REPEATED:
                label = "repeated"
            else:
                assert f.label == FDP.LABEL_OPTIONAL
                label = "optional" if f.proto3_optional else ""
            fields.append((f.name, f.number, f.type, label))
        messages.append((message.name, fields))
    package = "." + descriptor.package + "."
    services = [(s.name, [(m.name, m.input_type.removeprefix(package),
                           m.output_type.removeprefix(package), m.client_streaming,
                           m.server_streaming) for m in s.method])
                for s in descriptor.service]
    return messages, services


@pytest.mark.parametrize("services", [False, True])
@pytest.mark.parametrize("governance", [False, True])
@pytest.mark.parametrize("namespace", ["", "default", "sales", "storage", "Default"])
def test_compiled_file_holds_the_graph(tmp_path, namespace, governance, services):
    text = build_catalog().export_protobuf("acme.supply", namespace, "catalog", governance,
                                           services)
    descriptor = compile_proto(text, tmp_path)
    assert descriptor.package == "acme.supply"
    assert descriptor.syntax == "proto3"
    assert declared(descriptor) == expected_file(namespace, governance, services)


def supply_graph():
    graph = Graph()
    warehouse, factory, steel = Entity("Warehouse"), Entity("Factory"), Resource("Steel", "kg")
    graph.add_entity(warehouse)
    graph.add_entity(factory)
    graph.add_resource(steel)
    graph.add_flow(Flow(steel.id, factory.id, warehouse.id, 10.0))
    return graph


@pytest.mark.parametrize("services", [False, True])
@pytest.mark.parametrize("governance", [False, True])
def test_supply_example_compiles_in_every_flag_combination(tmp_path, governance, services):
    descriptor = compile_proto(
        supply_graph().export_protobuf("supply.core", "default", "inventory", governance,
                                       services), tmp_path)
    names = [m.name for m in descriptor.message_type]
    expected = {
        (False, False): ["Factory", "Steel", "Warehouse"],
        (True, False): ["Factory", "Steel", "Warehouse", "PolicyViolation", "MetricEvent"],
        (False, True): ["Factory", "Steel", "SteelResponse", "Warehouse"],
        (True, True): ["Factory", "MetricEvent", "PolicyViolation", "Steel", "SteelResponse",
                       "Warehouse"],
    }
    assert names == expected[governance, services]
    assert [(s.name, [(m.name, m.input_type, m.output_type, m.client_streaming,
                       m.server_streaming) for m in s.method]) for s in descriptor.service] == (
        [("WarehouseService", [("ProcessSteel", ".supply.core.Steel",
                                 ".supply.core.SteelResponse", False, False)])]
        if services else [])


def test_supply_example_text_is_the_reference(monkeypatch):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    text = supply_graph().export_protobuf("supply.core", "default", "inventory", True, True)
    assert text == (GOLDEN / "supply_all_flags.proto").read_text(encoding="utf-8")


@pytest.mark.parametrize("path", sorted(GOLDEN.glob("*.proto")), ids=lambda p: p.name)
def test_golden_files_compile(tmp_path, path):
    compile_proto(path.read_text(encoding="utf-8"), tmp_path)


def test_names_that_convert_alike_give_one_message_name_twice(tmp_path):
    text = Graph.parse('Entity "Order Line"\nEntity "order-line"').export_protobuf("shop")
    assert text.count("message OrderLine {") == 2
    (tmp_path / "out.proto").write_text(text, encoding="utf-8")
    refused = subprocess.run(
        ["protoc", f"--proto_path={tmp_path}", "--descriptor_set_out=/dev/null", "out.proto"],
        capture_output=True, text=True, check=False)
    assert refused.returncode != 0 and '"OrderLine" is already defined' in refused.stderr


# ---- The boundary ----

def test_signature_and_docstring():
    method = Graph.export_protobuf
    assert method.__text_signature__ == (
        '($self, package, namespace="", projection_name="", include_governance=False, '
        'include_services=False)')
    doc = method.__doc__.splitlines()
    assert doc[0] == "Export the graph to Protobuf .proto text format."
    assert "Args:" in doc and "Returns:" in doc
    args = doc[doc.index("Args:") + 1:doc.index("Returns:") - 1]
    assert [line.split(":")[0].strip() for line in args] == [
        "package", "namespace", "projection_name", "include_governance", "include_services"]


def test_defaults_and_keywords():
    graph = supply_graph()
    assert graph.export_protobuf("p") == graph.export_protobuf("p", "", "", False, False)
    assert graph.export_protobuf(package="p", include_services=True) == graph.export_protobuf(
        "p", "", "", False, True)
    assert graph.export_protobuf("p").startswith(
        "// Generated by VOK Projection Framework\n// Projection: \n// Source Namespace: \n"
        "// Generated At: \n")


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "Graph.export_protobuf() missing 1 required positional argument: 'package'"),
    ((None,), {}, "argument 'package': "),
    (("p", None), {}, "argument 'namespace': "),
    (("p",), {"projection_name": None}, "argument 'projection_name': "),
    (("p", "", "", 1), {}, "argument 'include_governance': "),
    (("p",), {"include_services": None}, "argument 'include_services': "),
    (("p", "", "", False, False, 6), {}, "Graph.export_protobuf() takes "),
    (("p",), {"nope": 1}, "Graph.export_protobuf() got an unexpected keyword argument 'nope'"),
])
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Graph().export_protobuf(*args, **kwargs)
    assert str(info.value).startswith(message)


def test_stamp_from_source_date_epoch(monkeypatch):
    graph = supply_graph()
    unstamped = graph.export_protobuf("p")
    assert unstamped == graph.export_protobuf("p")
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    assert "\n// Generated At: 2023-11-14T22:13:20+00:00\n" in graph.export_protobuf("p")
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000 ")
    assert graph.export_protobuf("p") == unstamped


# ---- Any names give text that keeps its shape ----

json_values = st.recursive(
    st.none() | st.booleans() | st.integers(-2**63, 2**64 - 1) | st.floats(allow_nan=False,
                                                                          allow_infinity=False)
    | st.text(max_size=5),
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=3), inner,
                                                                 max_size=3),
    max_leaves=6)
any_text = st.text(max_size=12)


def graph_of(names, keys, values, unit, streaming):
    graph = Graph()
    entities = []
    for i, name in enumerate(names):
        entity = Entity(name, name)
        for key, value in zip(keys, values):
            entity.set_attribute(key, value)
        graph.add_entity(entity)
        entities.append(entity)
    resource = Resource(names[0], unit)
    for key in keys:
        resource.set_attribute(key, [1])
    graph.add_resource(resource)
    for entity in entities:
        flow = Flow(resource.id, entity.id, entities[0].id, 1.0)
        flow.set_attribute("streaming", streaming)
        graph.add_flow(flow)
    return graph


# capfd is read at the end of every example, so sharing it between examples is harmless.
@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(names=st.lists(any_text, min_size=1, max_size=4, unique=True),
       keys=st.lists(any_text, max_size=4, unique=True),
       values=st.lists(json_values, min_size=4, max_size=4),
       namespace=any_text, projection=any_text, streaming=json_values)
def test_any_names_give_text_of_the_same_shape(capfd, names, keys, values, namespace,
                                               projection, streaming):
    # A name holding a line terminator must not end its comment: the text has as many lines as
    # the text of the same graph with plain names.
    graph = graph_of(names, keys, values, "kg", streaming)
    before = [(e.name, e.namespace) for e in graph.all_entities()]
    text = graph.export_protobuf("p", "", projection, True, True)
    filtered = graph.export_protobuf("p", namespace, projection, True, True)
    plain = graph_of([f"n{i}" for i in range(len(names))], [f"k{i}" for i in range(len(keys))],
                     values, "kg", streaming).export_protobuf("p", "", "x", True, True)
    assert text.count("\n") == plain.count("\n")
    assert "\r" not in text and "\r" not in filtered
    assert [(e.name, e.namespace) for e in graph.all_entities()] == before
    assert capfd.readouterr() == ("", "")
