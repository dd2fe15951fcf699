"""Extreme numbers through the public calls: a result or a clear exception, never a panic.

Decimals at the edges of the 96-bit range, unit factors that make conversions overflow, integers
and floats at the edges of their JSON forms, and times at the ends of the calendar go through
policy evaluation, CALM import and export, and the authority engine. Every call must give its
result or an Exception; the panic exception is a BaseException, so it escapes the `except` below
and fails the test.
"""

import json
import os
import sys
from pathlib import Path

from hypothesis import given, settings
from hypothesis import strategies as st

import vok_dsl

sys.path.insert(0, str(Path(__file__).resolve().parent))
import authority_documents as docs  # noqa: E402

EXAMPLES = max(20, int(300 * float(os.environ.get("VOK_TEST_EXAMPLE_SCALE", "1"))))
MAX_DECIMAL = 2**96 - 1

# Units are process-wide: these symbols belong to this file alone.
vok_dsl.Graph.parse(
    'Unit "xn_huge" of "Mass" factor 79228162514264337593543950335 base "kg"\n'
    'Unit "xn_tiny" of "Mass" factor 0.0000000000000000000000000001 base "kg"\n'
    'Unit "xn_negative" of "Mass" factor -2.5 base "kg"\n')
UNITS = st.sampled_from(["kg", "g", "lb", "xn_huge", "xn_tiny", "xn_negative", "min", "ns", "USD",
                         "unregistered"])


@st.composite
def decimal_texts(draw):
    mantissa = draw(st.sampled_from([MAX_DECIMAL, MAX_DECIMAL // 2, 1, 0, 5]) |
                    st.integers(0, MAX_DECIMAL))
    digits = str(mantissa).rjust(29, "0")
    scale = draw(st.integers(0, 28))
    text = (digits[:-scale] + "." + digits[-scale:]) if scale else digits
    return ("-" if draw(st.booleans()) else "") + (text.lstrip("0") or "0")


JSON_NUMBERS = st.sampled_from([2**64 - 1, -(2**63), 2**63, 2**53 + 1, 0, 1e308, -1e308, 5e-324,
                                7.922816251426434e28, 1e29, -0.0]) | st.floats(allow_nan=False,
                                                                               allow_infinity=False)
INSTANTS = st.sampled_from(["0000-01-01T00:00:00+23:59", "0001-01-01T00:00:00Z",
                            "9999-12-31T23:59:60.999999999-23:59", "1970-01-01T00:00:00Z",
                            "2024-05-01T08:00:00Z"])


def _quantity(value, unit):
    return {"QuantityLiteral": {"value": value, "unit": unit}}


def _policy(expression):
    return json.dumps({
        "id": "07342664-9f2f-5afc-8222-ce5de9c154bf", "name": "p", "namespace": "default",
        "version": {"major": 1, "minor": 0, "patch": 0}, "expression": expression,
        "modality": "Obligation", "kind": "Constraint", "priority": 0, "tags": []})


def _outcome(call):
    try:
        return call()
    except Exception as error:  # noqa: BLE001 - any clear exception will do, a panic will not
        return error


@settings(max_examples=EXAMPLES, deadline=None)
@given(left=decimal_texts(), left_unit=UNITS, right=decimal_texts(), right_unit=UNITS,
       attribute=JSON_NUMBERS | decimal_texts(),
       op=st.sampled_from(["Equal", "NotEqual", "GreaterThan", "LessThanOrEqual"]),
       shape=st.sampled_from(["compare", "cast", "sum", "comprehension"]),
       three_valued=st.booleans())
def test_policy_evaluation(left, left_unit, right, right_unit, attribute, op, shape,
                           three_valued):
    graph = vok_dsl.Graph()
    entity = vok_dsl.Entity("E")
    graph.add_entity(entity)
    steel = vok_dsl.Resource("Steel", left_unit)
    graph.add_resource(steel)
    flow = vok_dsl.Flow(steel.id, entity.id, entity.id, 1)
    flow.set_attribute("w", attribute)
    graph.add_flow(flow)
    graph.add_flow(vok_dsl.Flow(steel.id, entity.id, entity.id, 2))
    graph.set_evaluation_mode(three_valued)
    right_side = _quantity(right, right_unit)
    if shape == "compare":
        left_side = _quantity(left, left_unit)
    elif shape == "cast":
        left_side = {"Cast": {"operand": _quantity(left, left_unit), "target_type": right_unit}}
    elif shape == "sum":
        left_side = {"Aggregation": {"function": "Avg" if three_valued else "Sum",
                                     "collection": {"Variable": "flows"}, "field": "w",
                                     "filter": None}}
        right_side = {"Literal": attribute}
    else:
        left_side = {"AggregationComprehension": {
            "function": "Sum", "variable": "f", "collection": {"Variable": "flows"},
            "window": None, "predicate": {"Literal": True},
            "projection": _quantity(left, left_unit), "target_unit": right_unit}}
    expression = {"Binary": {"op": op, "left": left_side, "right": right_side}}
    _outcome(lambda: graph.evaluate_policy(_policy(expression)))


@settings(max_examples=EXAMPLES, deadline=None)
@given(quantity=decimal_texts(), priority=JSON_NUMBERS, window=JSON_NUMBERS)
def test_calm_round_trip(quantity, priority, window):
    graph = vok_dsl.Graph.parse('Entity "A"\nResource "R" kg\nFlow "R" from "A" to "A" quantity 1\n'
                                'Policy p per Constraint Obligation priority 1 as: true\n'
                                'Metric "m" as: 1 @window 7 "days"\n')
    document = json.loads(graph.export_calm())
    for relationship in document["relationships"]:
        if "flow" in relationship.get("relationship-type", {}):
            relationship["relationship-type"]["flow"]["quantity"] = quantity
    for node in document["nodes"]:
        metadata = node.get("metadata", {})
        for key in ("vok:priority", "vok:window"):
            if key in metadata:
                metadata[key] = priority if key == "vok:priority" else window
    imported = _outcome(lambda: vok_dsl.Graph.import_calm(json.dumps(document)))
    if isinstance(imported, vok_dsl.Graph):
        imported.export_calm()
        imported.export_protobuf("p")


@settings(max_examples=EXAMPLES, deadline=None)
@given(priority=st.sampled_from([2**31 - 1, -(2**31)]) | st.integers(-(2**31), 2**31 - 1),
       max_age=st.tuples(st.sampled_from([9223372036854775, -9223372036854776, 0, -1]) |
                         st.integers(-(2**55), 2**55),
                         st.sampled_from([0, 807000000, 193000000]) | st.integers(0, 10**9)),
       confidence=JSON_NUMBERS, value=JSON_NUMBERS, observed_at=INSTANTS, expires_at=INSTANTS,
       requested_at=INSTANTS)
def test_authority(priority, max_age, confidence, value, observed_at, expires_at, requested_at):
    requirement = {"fact_path": "customer.n", "allowed_source_classes": ["system_of_record"],
                   "max_age": list(max_age), "minimum_confidence": confidence}
    config = docs.config([
        docs.policy("a", "Permission", priority, {"action": "read"}, when={"customer.n": value},
                    requires_fact=[requirement]),
        docs.policy("b", "Prohibition", 0, {"action": "read"}),
    ])
    request = json.loads(docs.request())
    request["requested_at"] = requested_at
    facts = json.dumps([dict(docs.fact("customer.n", value), confidence=confidence,
                             observed_at=observed_at, expires_at=expires_at)])
    _outcome(lambda: vok_dsl.evaluate_authority(config, json.dumps(request), facts))
