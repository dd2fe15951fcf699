"""Graph.evaluate_policy and its result classes at the Python boundary.

The engine's rules are tested in C++ (tests/cpp/policy); here: conversion, exceptions, the result
classes, and the Kleene tables of both logics against a small Python model.
"""

import itertools
import json
import random

import pytest

from vok_dsl import Entity, EvaluationResult, Flow, Graph, Resource, Severity, Violation

MAX_DECIMAL = "79228162514264337593543950335"


def policy(expression, name="p", modality="Obligation"):
    return json.dumps({
        "id": "07342664-9f2f-5afc-8222-ce5de9c154bf", "name": name, "namespace": "default",
        "version": {"major": 1, "minor": 0, "patch": 0}, "expression": expression,
        "modality": modality, "kind": "Constraint", "priority": 0, "tags": [],
    })


def lit(value):
    return {"Literal": value}


def member(obj, name):
    return {"MemberAccess": {"object": obj, "member": name}}


def binary(op, left, right):
    return {"Binary": {"op": op, "left": left, "right": right}}


def quantity(value, unit):
    return {"QuantityLiteral": {"value": value, "unit": unit}}


def count_flows():
    return {"Aggregation": {"function": "Count", "collection": {"Variable": "flows"}}}


@pytest.fixture
def graph():
    g = Graph()
    e = Entity("E")
    e.set_attribute("t", True)
    e.set_attribute("f", False)
    g.add_entity(e)
    steel = Resource("Steel", "kg")
    g.add_resource(steel)
    g.add_flow(Flow(steel.id, e.id, e.id, 10))
    return g


def test_results_and_their_classes(graph):
    satisfied = graph.evaluate_policy(policy(lit(True)))
    assert type(satisfied) is EvaluationResult
    assert repr(satisfied) == str(satisfied) == (
        "EvaluationResult(is_satisfied=true, is_satisfied_tristate=Some(true), violations=0)")
    assert satisfied.is_satisfied is True and satisfied.is_satisfied_tristate is True
    assert satisfied.violations == []

    unknown = graph.evaluate_policy(policy(member("E", "missing")))
    assert unknown.is_satisfied is False and unknown.is_satisfied_tristate is None
    assert "is_satisfied_tristate=None" in repr(unknown) and "violations=1" in repr(unknown)
    assert unknown.violations[0].message == "Policy 'p' evaluation is UNKNOWN (NULL)"

    violated = graph.evaluate_policy(policy(lit(False), name="P", modality="Permission"))
    assert repr(violated).startswith("EvaluationResult(is_satisfied=false, "
                                     "is_satisfied_tristate=Some(false)")
    [violation] = violated.violations
    assert type(violation) is Violation
    assert repr(violation) == str(violation) == (
        "Violation(name='P', message='Policy 'P' was violated', severity='Info')")
    assert (violation.name, violation.message) == ("P", "Policy 'P' was violated")
    assert violation.severity == Severity.Info and violation.severity is not Severity.Info
    assert violated.violations is not violated.violations
    violated.violations.clear()
    assert len(violated.violations) == 1


@pytest.mark.parametrize("cls, doc", [(Violation, "A policy violation"),
                                      (EvaluationResult,
                                       "Result of evaluating a policy against a graph")])
def test_result_classes_are_read_only(cls, doc):
    assert cls.__doc__ == doc and cls.__module__ == "builtins"
    with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_getter_docstrings():
    assert EvaluationResult.is_satisfied.__doc__ == (
        "Backwards compatible boolean: false if evaluation is unknown (NULL)")
    assert EvaluationResult.is_satisfied_tristate.__doc__ == (
        "Tri-state evaluation result: True, False, or None (NULL)")
    assert EvaluationResult.violations.__doc__ == "List of violations"
    assert Violation.name.__doc__ is None
    assert Graph.evaluate_policy.__text_signature__ == "($self, policy_json)"


def test_failures(graph):
    with pytest.raises(ValueError, match="^Invalid Policy JSON: "):
        graph.evaluate_policy("{")
    with pytest.raises(ValueError, match=r"^Policy evaluation error: Aggregation in boolean "
                                         r"context requires explicit comparison"):
        graph.evaluate_policy(policy(count_flows()))
    assert graph.evaluate_policy(policy(binary("GreaterThan", count_flows(), lit(0)))).is_satisfied
    with pytest.raises(TypeError):
        graph.evaluate_policy(b"{}")
    with pytest.raises(TypeError):
        graph.evaluate_policy()
    with pytest.raises(ValueError, match="^Policy evaluation error: Unknown collection: Flows$"):
        graph.evaluate_policy(policy({"Quantifier": {
            "quantifier": "ForAll", "variable": "f", "collection": {"Variable": "Flows"},
            "condition": lit(True)}}))


def test_stored_policies_are_neither_read_nor_changed(graph):
    text = policy(lit(False))
    graph.evaluate_policy(text)
    graph.add_policy(text)  # not added by the evaluation, so no duplicate
    assert graph.evaluate_policy(policy(lit(True))).is_satisfied


def test_deep_policy_json_is_refused(graph):
    expression = lit(True)
    text = policy(expression).replace('{"Literal": true}',
                                      '{"Unary": {"op": "Not", "operand": ' * 20000 +
                                      '{"Literal": true}' + "}}" * 20000)
    with pytest.raises(ValueError, match="^Invalid Policy JSON: "):
        graph.evaluate_policy(text)


@pytest.mark.parametrize("three_valued, outcome", [
    (True, None),  # Unknown, like any failed conversion in an ordering comparison
    (False, "Policy evaluation error: Unit conversion failed: Division overflowed"),
])
def test_conversion_overflow_is_a_failed_conversion(graph, three_valued, outcome):
    graph.set_evaluation_mode(three_valued)
    expression = binary("GreaterThan", quantity("1", "g"), quantity(MAX_DECIMAL, "kg"))
    if outcome is None:
        assert graph.evaluate_policy(policy(expression)).is_satisfied_tristate is None
    else:
        with pytest.raises(ValueError) as failure:
            graph.evaluate_policy(policy(expression))
        assert str(failure.value) == outcome


@pytest.mark.parametrize("attribute, written, three_valued, two_valued", [
    (5, 5.0, True, True),  # an int from Python against the float a policy's 5 becomes
    (-(2**63), -9.223372036854776e18, True, True),
    ([1, {"k": 2}], [1.0, {"k": 2.0}], False, True),  # by kind, except in two-valued Equal
    (True, 1.0, None, False),
])
def test_integer_attributes_equal_the_same_number_in_a_policy(attribute, written, three_valued,
                                                              two_valued):
    graph = Graph()
    entity = Entity("X")
    entity.set_attribute("n", attribute)
    graph.add_entity(entity)
    for mode, equal in ((True, three_valued), (False, two_valued)):
        graph.set_evaluation_mode(mode)
        for op, holds in (("Equal", equal), ("NotEqual", None if equal is None else not equal)):
            result = graph.evaluate_policy(policy(binary(op, member("X", "n"), lit(written))))
            assert result.is_satisfied_tristate is holds, (op, mode)


# ---- Kleene tables, both logics, against a small model ----

UNKNOWN = None
OPERANDS = {True: member("E", "t"), False: member("E", "f"), UNKNOWN: member("E", "missing")}


def model(node, three_valued):
    """The truth of a tree of ("and"|"or", l, r), ("not", x) and leaves True/False/None."""
    if not isinstance(node, tuple):
        return node if three_valued or node is not UNKNOWN else False
    if node[0] == "not":
        value = model(node[1], three_valued)
        return None if value is None else not value
    left, right = model(node[1], three_valued), model(node[2], three_valued)
    if node[0] == "and":
        if left is False or right is False:
            return False
        return None if left is None or right is None else True
    if left is True or right is True:
        return True
    return None if left is None or right is None else False


def to_expression(node):
    if not isinstance(node, tuple):
        return OPERANDS[node]
    if node[0] == "not":
        return {"Unary": {"op": "Not", "operand": to_expression(node[1])}}
    return binary("And" if node[0] == "and" else "Or", to_expression(node[1]),
                  to_expression(node[2]))


def random_tree(rng, depth):
    if depth == 0 or rng.random() < 0.3:
        return rng.choice([True, False, UNKNOWN])
    if rng.random() < 0.2:
        return ("not", random_tree(rng, depth - 1))
    return (rng.choice(["and", "or"]), random_tree(rng, depth - 1), random_tree(rng, depth - 1))


TABLES = ([(op, a, b) for op in ("and", "or")
           for a, b in itertools.product([True, False, UNKNOWN], repeat=2)] +
          [("not", a) for a in (True, False, UNKNOWN)])


@pytest.mark.parametrize("three_valued", [True, False])
def test_kleene_tables_against_model(graph, three_valued):
    graph.set_evaluation_mode(three_valued)
    rng = random.Random(17)
    trees = TABLES + [random_tree(rng, 4) for _ in range(300)]
    for tree in trees:
        result = graph.evaluate_policy(policy(to_expression(tree)))
        assert result.is_satisfied_tristate == model(tree, three_valued), tree
        assert result.is_satisfied == (result.is_satisfied_tristate is True)


# ---- inside quantifiers and aggregations, where expansion folds operands first ----

def quantified(kind, variable, collection, condition):
    return {"Quantifier": {"quantifier": kind, "variable": variable,
                           "collection": {"Variable": collection}, "condition": condition}}


def flows_counted(predicate):
    """count(f in flows where predicate: f.id) as a number literal compared with 1."""
    return binary("Equal", {"AggregationComprehension": {
        "function": "Count", "variable": "f", "collection": {"Variable": "flows"},
        "predicate": predicate, "projection": member("f", "id")}}, lit(1))


def test_a_null_operand_decides_inside_a_quantifier_what_the_short_circuit_decides_outside(graph):
    and_missing = binary("And", member("x", "f"), member("x", "missing"))
    missing_or = binary("Or", member("x", "missing"), lit(True))
    outside = [binary("And", member("E", "f"), member("E", "missing")),
               binary("Or", member("E", "missing"), lit(True))]
    inside = [quantified("ForAll", "x", "entities", and_missing),
              quantified("ForAll", "x", "entities", missing_or)]
    for three_valued in (True, False):
        graph.set_evaluation_mode(three_valued)
        assert [graph.evaluate_policy(policy(e)).is_satisfied_tristate for e in outside] == [
            False, True]
    graph.set_evaluation_mode(True)
    assert [graph.evaluate_policy(policy(e)).is_satisfied_tristate for e in inside] == [None, None]
    graph.set_evaluation_mode(False)
    for expression in inside:
        with pytest.raises(ValueError, match="^Policy evaluation error: Expected boolean literal, "
                                             "got: null$"):
            graph.evaluate_policy(policy(expression))


def test_a_flow_names_its_resource_by_id_and_where_counts_only_a_literal_true(graph):
    def resource_named(kind, name):
        return quantified(kind, "r", "resources", binary(
            "And", binary("Equal", member("r", "id"), member("f", "resource")),
            binary("Equal", member("r", "name"), lit(name))))

    def counted(predicate):
        return graph.evaluate_policy(policy(flows_counted(predicate))).is_satisfied_tristate

    assert counted(binary("Equal", member("f", "resource"), lit("Steel"))) is False
    assert counted(resource_named("ExistsUnique", "Steel")) is True
    assert counted(resource_named("ExistsUnique", "Copper")) is False
    # The same test as an exists or forall stays a chain of or / and: never a literal true.
    assert counted(resource_named("Exists", "Steel")) is False
    assert counted(quantified("ForAll", "r", "resources", lit(True))) is False
    # A comparison with a missing attribute is null, which is not counted either.
    missing = binary("Equal", member("f", "cold_chain"), lit(False))
    assert counted(binary("And", resource_named("ExistsUnique", "Steel"), missing)) is False
    flow = graph.all_flows()[0]
    broken = Flow(flow.resource_id, flow.from_id, flow.to_id, 1)
    broken.set_attribute("cold_chain", False)
    graph.add_flow(broken)
    assert counted(binary("And", resource_named("ExistsUnique", "Steel"), missing)) is True
