"""The Graph class: adders and their checks, lookups, lists, counts, the evaluation mode,
parsing into a graph and into syntax-tree JSON."""

import json

import pytest

from vok_dsl import Entity, Flow, Graph, Relation, Resource, ResourceInstance, Role

BAD_LENGTH = "Invalid UUID: invalid length: expected length 32 for simple format, found 4"
UNKNOWN = "67e55044-10b1-426f-9247-bb680e5fe0c8"

MODEL = """\
@namespace "shop"
Entity "Warehouse"
Entity "Store" in retail
Resource "Boxes" units
Resource "Cash" USD
Flow "Boxes" from "Warehouse" to "Store" quantity 12.50
Flow "Cash" from "Store" to "Warehouse" quantity 99
Role "Buyer"
Role "Seller"
Relation "Pays" subject: "Buyer" predicate: "pays" object: "Seller"
Instance w1 of "Warehouse"
Pattern "Code" matches "^[A-Z]+$"
"""


def policy_json(name="p", namespace="n", policy_id="07342664-9f2f-5afc-8222-ce5de9c154bf"):
    return json.dumps({
        "id": policy_id, "name": name, "namespace": namespace,
        "version": {"major": 1, "minor": 0, "patch": 0},
        "expression": {"Variable": "ok"}, "modality": "Obligation", "kind": "Constraint",
        "priority": 0, "tags": [],
    })


@pytest.fixture
def small():
    """A graph with two entities, a resource, a flow between them and a resource instance."""
    graph = Graph()
    a, b = Entity("A"), Entity("B")
    cash = Resource("Cash", "USD")
    graph.add_entity(a)
    graph.add_entity(b)
    graph.add_resource(cash)
    flow = Flow(cash.id, a.id, b.id, 5)
    graph.add_flow(flow)
    held = ResourceInstance(cash.id, a.id)
    graph.add_instance(held)
    return graph, a, b, cash, flow, held


def test_new_graph():
    graph = Graph()
    assert repr(graph) == "Graph(entities=0, resources=0, flows=0, instances=0)"
    assert str(graph) == repr(graph)
    assert graph.use_three_valued_logic() is True
    assert Graph.__text_signature__ == "()"
    assert Graph.__doc__ == ""


def test_repr_counts_entities_resources_flows_and_resource_instances():
    graph = Graph()
    entity, resource = Entity("E"), Resource("R", "kg")
    graph.add_entity(entity)
    graph.add_resource(resource)
    graph.add_instance(ResourceInstance(resource.id, entity.id))
    assert repr(graph) == "Graph(entities=1, resources=1, flows=0, instances=1)"


def test_evaluation_mode():
    graph = Graph()
    assert graph.set_evaluation_mode(False) is None
    assert graph.use_three_valued_logic() is False
    graph.set_evaluation_mode(use_three_valued_logic=True)
    assert graph.use_three_valued_logic() is True
    for refused in (1, 0, None, "yes"):
        with pytest.raises(TypeError, match="^argument 'use_three_valued_logic': '"):
            graph.set_evaluation_mode(refused)
    assert graph.use_three_valued_logic() is True


def test_adders_refuse_duplicate_ids(small):
    graph, a, _, cash, flow, held = small
    role, relation = Role("Buyer"), Relation("Pays", UNKNOWN, "pays", UNKNOWN)
    graph.add_role(role)
    graph.add_relation(relation)
    for add, record, prefix, kind in [
        (graph.add_entity, a, "Add entity error: ", "Entity"),
        (graph.add_resource, cash, "Add resource error: ", "Resource"),
        (graph.add_flow, flow, "Add flow error: ", "Flow"),
        (graph.add_instance, held, "Add instance error: ", "Instance"),
        (graph.add_role, role, "Add role error: ", "Role"),
        (graph.add_relation, relation, "Add relation error: ", "Relation"),
    ]:
        with pytest.raises(ValueError) as failure:
            add(record)
        assert failure.value.args == (f"{prefix}{kind} with ID {record.id} already exists",)
    assert (graph.entity_count(), graph.resource_count(), graph.flow_count(),
            graph.instance_count(), graph.role_count(), graph.relation_count()) == (2, 1, 1, 1, 1, 1)


@pytest.mark.parametrize("method, value, target", [
    ("add_entity", "Warehouse", "Entity"),
    ("add_resource", Entity("E"), "Resource"),
    ("add_flow", None, "Flow"),
    ("add_instance", Role("R"), "ResourceInstance"),
    ("add_role", 1, "Role"),
    ("add_relation", Entity("E"), "Relation"),
])
def test_adders_take_only_their_record_class(method, value, target):
    with pytest.raises(TypeError) as failure:
        getattr(Graph(), method)(value)
    parameter = {"add_instance": "instance"}.get(method, method[4:])
    assert str(failure.value) == (
        f"argument '{parameter}': '{type(value).__qualname__}' object cannot be converted to "
        f"'{target}'")


def test_records_cross_by_copy():
    graph = Graph()
    entity = Entity("E")
    entity.set_attribute("k", 1)
    graph.add_entity(entity)
    entity.set_attribute("k", 2)  # after the add: the graph keeps its own copy
    first, second = graph.get_entity(entity.id), graph.get_entity(entity.id)
    assert first is not second and first != second  # identity comparison
    assert (first.id, first.name, first.namespace) == (second.id, second.name, second.namespace)
    assert first.get_attribute("k") == 1
    first.set_attribute("k", 3)
    assert second.get_attribute("k") == 1
    assert graph.get_entity(entity.id).get_attribute("k") == 1
    listed = graph.all_entities()
    listed[0].set_attribute("k", 4)
    assert graph.all_entities()[0].get_attribute("k") == 1


def test_lookups_by_id(small):
    graph, a, _, cash, flow, held = small
    assert graph.has_entity(a.id) and graph.has_resource(cash.id)
    assert graph.has_flow(flow.id) and graph.has_instance(held.id)
    assert not graph.has_entity(cash.id)  # ids are looked up in their own collection
    assert not graph.has_flow(UNKNOWN)
    assert repr(graph.get_entity(a.id)) == repr(a)
    assert repr(graph.get_resource(cash.id)) == repr(cash)
    assert repr(graph.get_flow(flow.id)) == repr(flow)
    assert repr(graph.get_instance(held.id)) == repr(held)
    for get in (graph.get_entity, graph.get_resource, graph.get_flow, graph.get_instance):
        assert get(UNKNOWN) is None
    for accepted in (a.id.upper(), "{" + a.id + "}", "urn:uuid:" + a.id, a.id.replace("-", "")):
        assert graph.has_entity(accepted)
        assert graph.get_entity(id=accepted).id == a.id


@pytest.mark.parametrize("text, message", [
    ("1234", BAD_LENGTH),
    ("xyz", "Invalid UUID: invalid character: expected an optional prefix of "),
    ("67e55044-10b1-426f-9247", "Invalid UUID: invalid group count: expected 5, found 4"),
    ("67e55044-10b1-426f-9247-bb680e5fe0c", "Invalid UUID: invalid group length in group 4"),
])
def test_malformed_ids_are_value_errors(text, message):
    graph = Graph()
    for method in ("has_entity", "has_resource", "has_flow", "has_instance", "get_entity",
                   "get_resource", "get_flow", "get_instance", "flows_from", "flows_to"):
        with pytest.raises(ValueError) as failure:
            getattr(graph, method)(text)
        assert str(failure.value).startswith(message)
    with pytest.raises(ValueError) as failure:
        Graph().has_entity("1234")
    assert failure.value.args == (BAD_LENGTH,)


def test_find_by_name_gives_id_text_or_none():
    graph = Graph()
    entity, role, resource = Entity("Hub", "east"), Role("Buyer", "x"), Resource("Cash", "USD")
    graph.add_entity(entity)
    graph.add_role(role)
    graph.add_resource(resource)
    assert graph.find_entity_by_name("Hub") == entity.id
    assert graph.find_role_by_name("Buyer") == role.id
    assert graph.find_resource_by_name("Cash") == resource.id
    assert graph.find_resource_by_name("Buyer") is None


def test_lists_are_new_lists_of_copies(small):
    graph, a, b, cash, flow, held = small
    role = Role("Z")
    graph.add_role(role)
    relation = Relation("r", role.id, "p", role.id)
    graph.add_relation(relation)
    assert [e.id for e in graph.all_entities()] == [a.id, b.id]
    assert [r.id for r in graph.all_resources()] == [cash.id]
    assert [f.id for f in graph.all_flows()] == [flow.id]
    assert [i.id for i in graph.all_instances()] == [held.id]
    assert [r.id for r in graph.all_roles()] == [role.id]
    assert [r.id for r in graph.all_relations()] == [relation.id]
    assert [f.id for f in graph.flows_from(a.id)] == [flow.id]
    assert [f.id for f in graph.flows_to(b.id)] == [flow.id]
    assert graph.flows_from(entity_id=UNKNOWN) == []
    assert graph.all_entities() is not graph.all_entities()
    graph.all_entities()[0].set_attribute("k", 1)
    with pytest.raises(KeyError):
        graph.get_entity(a.id).get_attribute("k")


def test_add_association(small):
    graph, a, b, _, _, _ = small
    graph.add_association(a.id, b.id, "owns")
    graph.add_association(owner=a.id, owned=b.id, rel_type="owns")
    entries = graph.get_entity(a.id).get_attribute("associations")
    assert entries == [{"target": b.id, "type": "owns"}] * 2
    assert list(entries[0]) == ["target", "type"]
    with pytest.raises(KeyError):
        graph.get_entity(b.id).get_attribute("associations")
    assert graph.relation_count() == 0

    with pytest.raises(ValueError) as failure:
        graph.add_association(a.id, UNKNOWN, "owns")
    assert str(failure.value) == "Add association error: Destination entity not found"
    with pytest.raises(ValueError) as failure:
        graph.add_association(UNKNOWN, UNKNOWN, "owns")
    assert str(failure.value) == "Add association error: Source entity not found"
    assert len(graph.get_entity(a.id).get_attribute("associations")) == 2
    # Types are checked before any id is parsed.
    with pytest.raises(TypeError, match="^argument 'rel_type'"):
        graph.add_association("1234", "1234", None)
    with pytest.raises(ValueError, match="^Invalid UUID: "):
        graph.add_association(a.id, "1234", "owns")


def test_add_policy():
    graph = Graph()
    assert graph.add_policy(policy_json()) is None
    with pytest.raises(ValueError) as failure:
        graph.add_policy(policy_json(name="other"))
    assert str(failure.value) == (
        "Add policy error: Policy with ID 07342664-9f2f-5afc-8222-ce5de9c154bf already exists")
    with pytest.raises(ValueError) as failure:
        graph.add_policy('{"id": "1234"}')
    assert str(failure.value).startswith("Invalid Policy JSON: UUID parsing failed: ")
    with pytest.raises(ValueError, match="^Invalid Policy JSON: .*line 1 column"):
        graph.add_policy("{")


def test_parse():
    graph = Graph.parse(MODEL)
    assert repr(graph) == "Graph(entities=2, resources=2, flows=2, instances=0)"
    assert (graph.role_count(), graph.relation_count(), graph.pattern_count()) == (2, 1, 1)
    assert graph.instance_count() == 0  # entity-type instances are not resource instances
    assert graph.use_three_valued_logic() is True
    warehouse = graph.get_entity(graph.find_entity_by_name("Warehouse"))
    assert warehouse.namespace == "shop"
    assert graph.get_entity(graph.find_entity_by_name("Store")).namespace == "retail"
    boxes = graph.flows_from(warehouse.id)[0]
    assert boxes.quantity == 12.5 and repr(boxes).endswith("quantity=12.50)")
    assert graph.get_resource(boxes.resource_id).name == "Boxes"
    relation = graph.all_relations()[0]
    assert relation.subject_role_id == graph.find_role_by_name("Buyer")
    assert Graph.parse(source="").entity_count() == 0


@pytest.mark.parametrize("source, start", [
    ('Entity "A"\nEntity\n', "Parse error: Syntax error at 3:1: "),
    ('Entity "A"\nFlow "Cash" from "A" to "Nowhere" quantity 1\n',
     "Parse error: Undefined entity: Nowhere"),
    ('@profile "no-such-profile"\nEntity "A"\n',
     "Parse error: Validation error: Unknown profile: 'no-such-profile'. Available profiles: "),
])
def test_parse_errors(source, start):
    with pytest.raises(ValueError) as failure:
        Graph.parse(source)
    assert str(failure.value).startswith(start)


def test_parse_to_ast_json_does_not_lower():
    source = 'Entity "A"\nFlow "Cash" from "A" to "Nowhere" quantity 1\n'
    with pytest.raises(ValueError, match="^Parse error: "):
        Graph.parse(source)
    document = json.loads(Graph.parse_to_ast_json(source))
    assert [d["node"]["type"] for d in document["declarations"]] == ["Entity", "Flow"]
    with pytest.raises(ValueError, match="^Parse error: Syntax error at 1:7: "):
        Graph.parse_to_ast_json("Entity")


def test_parse_to_ast_json_document_shape():
    text = Graph.parse_to_ast_json('Entity "Zoë"\n')
    assert text.startswith('{\n  "metadata": {},\n  "declarations": [\n    {\n      "node": {')
    assert '"Zoë"' in text and not text.endswith("\n")
    assert Graph.parse_to_ast_json("") == '{\n  "metadata": {},\n  "declarations": []\n}'

    header = ('@owner "me"\n@namespace "ns"\nimport { A, B as C } from "m"\n'
              'import * as all from "n"\nEntity "A"\n')
    document = json.loads(Graph.parse_to_ast_json(header))
    metadata = document["metadata"]
    assert list(document) == ["metadata", "declarations"]
    assert list(metadata) == ["namespace", "owner", "imports"]
    named, wildcard = metadata["imports"]
    assert named == {"specifier": {"type": "Named", "items": [{"name": "A"},
                                                              {"name": "B", "alias": "C"}]},
                     "from_module": "m"}
    assert wildcard == {"specifier": {"type": "Wildcard", "alias": "all"}, "from_module": "n"}
    assert document["declarations"][0]["line"] == 5

    only_import = json.loads(Graph.parse_to_ast_json('import { A } from "m"\n'))
    assert list(only_import["metadata"]) == ["imports"]


def test_class_surface():
    with pytest.raises(TypeError):
        type("Derived", (Graph,), {})
    assert type(Graph()).__module__ == "builtins" and Graph.__qualname__ == "Graph"
    assert Graph.add_association.__text_signature__ == "($self, owner, owned, rel_type)"
    assert Graph.parse.__text_signature__ == "(source)"
    assert Graph.entity_count.__text_signature__ == "($self)"
    assert Graph.parse_to_ast_json.__doc__ == (
        "Parse VOK DSL source and return AST as JSON string.\n\n"
        "This returns the Abstract Syntax Tree (AST) representation of the source,\n"
        "which preserves the exact structure and line numbers from the source file.\n"
        "Use this for tools that need to work with the raw parsed structure.\n\n"
        "For a semantic graph representation, use `Graph.parse()` instead.\n\n"
        "Args:\n    source: VOK DSL source code string\n\n"
        "Returns:\n    JSON string conforming to ast-v3.schema.json")
    assert Graph.set_evaluation_mode.__doc__ == (
        "Set the evaluation mode for policy evaluation.\n"
        "When `use_three_valued_logic` is True, policies will use three-valued logic "
        "(True, False, NULL).\n"
        "When False, policies will use strict boolean logic (True, False).")
    assert Graph.use_three_valued_logic.__doc__ == (
        "Get the current evaluation mode.\n"
        "Returns True if three-valued logic is enabled, False otherwise.")
    for name in ("add_entity", "get_flow", "all_roles", "pattern_count", "parse"):
        assert getattr(Graph, name).__doc__ is None
    with pytest.raises(TypeError):
        Graph().entity_count(1)
    with pytest.raises(TypeError, match=r"^Graph\.__new__\(\) takes 0 positional"):
        Graph(1)



@pytest.mark.parametrize("source, message", [
    ('Entity "A"\nResource "R" kg\nFlow "R" from "A" to "B"', "Undefined entity: B at 0:0"),
    ('Role "X"\nRole "Y"\nRelation "V" subject: "X" predicate: "p" object: "Y" via: flow "F"',
     "Undefined resource: F at 0:0"),
    ('Role "X"\nRole "X"', "Duplicate declaration: Role 'X' already declared in namespace "
                           "'default' at 0:0"),
    ('Policy p as: true\nPolicy p as: true', "Grammar error: Failed to add policy 'p': Policy "
                                             "with ID 197e6ea0-d903-57ce-a14a-1208e47a7c4e "
                                             "already exists"),
    ('Role "Y"\nRelation "V" subject: "X" predicate: "p" object: "Y"',
     "Grammar error: Undefined subject role 'X'"),
    ('Instance i of "Nope" { a: 1 }',
     "Grammar error: Failed to add entity instance 'i': Entity 'Nope' not found in namespace "
     "'default'"),
    ('Entity "A" v1.2.99999999999999999999',
     "Grammar error: Invalid entity version '1.2.99999999999999999999': Invalid patch version"),
])
def test_lowering_errors_carry_no_source_position(source, message):
    with pytest.raises(ValueError) as failure:
        Graph.parse(source)
    assert str(failure.value) == "Parse error: " + message
