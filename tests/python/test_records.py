"""The graph record classes: construction, getters, text forms, open attributes and fields."""

import array
import collections
import collections.abc
import ctypes
import json
import math
import os
import sys
import traceback
import types
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vok_dsl import (Entity, Expression, Flow, Instance, Mapping, Projection, Relation,
                     Resource, ResourceInstance, Role)

WAREHOUSE_ID = "07342664-9f2f-5afc-8222-ce5de9c154bf"  # Entity("Warehouse") in "default"
U1 = "67e55044-10b1-426f-9247-bb680e5fe0c8"
U2 = "a8098c1a-f86e-11da-bd1a-00112444be1e"
U3 = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"
BAD_LENGTH = "invalid length: expected length 32 for simple format, found 4"


def test_entity_text_forms_and_namespace():
    entity = Entity("Warehouse")
    assert entity.id == WAREHOUSE_ID
    assert entity.name == "Warehouse"
    assert entity.namespace is None
    assert repr(entity) == (
        f"Entity(id='{WAREHOUSE_ID}', name='Warehouse', namespace=\"default\")")
    assert str(entity) == "Warehouse"
    assert Entity("Warehouse", "default").namespace is None
    assert Entity("Warehouse", namespace=None).id == WAREHOUSE_ID
    assert Entity("Warehouse", "logistics").namespace == "logistics"
    assert repr(Entity("Warehouse", "logistics")).endswith(', namespace="logistics")')


def test_namespace_is_shown_in_its_quoted_form():
    # Names stand unescaped between single quotes; namespaces are quoted with escapes.
    entity = Entity("it's", 'a"b\\c\n\t\r\0\x01\u200b é\'')
    assert repr(entity).endswith(
        """name='it's', namespace="a\\"b\\\\c\\n\\t\\r\\0\\u{1}\\u{200b} é'")""")


@pytest.mark.parametrize("make", [
    lambda ns: Entity("Hub", ns),
    lambda ns: Resource("Cash", "kg", ns),
    lambda ns: Instance("n1", "Order", ns),
    lambda ns: Role("Buyer", ns),
    lambda ns: Relation("Pays", U1, "pays", U2, ns),
])
def test_name_based_ids(make):
    assert make("sales").id == make("sales").id
    assert make("sales").id != make("finance").id
    assert make(None).id == make("default").id


def test_random_ids_of_flows_and_resource_instances():
    assert Flow(U1, U2, U3, 1).id != Flow(U1, U2, U3, 1).id
    assert ResourceInstance(U1, U2).id != ResourceInstance(U1, U2).id


@pytest.mark.parametrize("record, name", [
    (Entity("Warehouse"), "default::Warehouse"),
    (Role("Buyer", "sales"), "sales::Buyer"),
    (Resource("Cash", "USD", "finance"), "finance::Cash"),
    (Relation("Pays", U1, "pays", U2), "default::Pays"),
    (Instance("n1", "Order", "ops"), "ops::Order:n1"),
])
def test_ids_are_version_5_uuids_of_namespace_and_name(record, name):
    assert record.id == str(uuid.uuid5(uuid.NAMESPACE_DNS, name))


@settings(max_examples=max(20, int(200 * float(os.environ.get("VOK_TEST_EXAMPLE_SCALE", "1")))),
          deadline=None)
@given(st.text(), st.text())
def test_concept_ids_agree_with_pythons_uuid5_for_any_text(namespace, name):
    assert Entity(name, namespace).id == str(uuid.uuid5(uuid.NAMESPACE_DNS, f"{namespace}::{name}"))


def test_resource_units():
    known = Resource("Steel", "kg")
    assert known.unit == "kg"
    assert str(known) == "Steel (kg)"
    unknown = Resource("Widgets", "zz-not-a-unit", "ops")
    assert unknown.unit == "zz-not-a-unit"
    assert str(unknown) == "Widgets (zz-not-a-unit)"
    assert unknown.namespace == "ops"
    assert repr(unknown) == (f"Resource(id='{unknown.id}', name='Widgets', "
                             "unit='zz-not-a-unit', namespace=\"ops\")")


def test_flow_getters_and_text_form():
    flow = Flow(U1, U2, U3, 10.5)
    assert (flow.resource_id, flow.from_id, flow.to_id) == (U1, U2, U3)
    assert flow.quantity == 10.5
    assert flow.namespace is None
    text = (f"Flow(id='{flow.id}', resource_id='{U1}', from_id='{U2}', to_id='{U3}', "
            "quantity=10.5)")
    assert repr(flow) == text and str(flow) == text


@pytest.mark.parametrize("quantity, shown, read", [
    (3, "3", 3.0),
    (10.0, "10", 10.0),
    (0.1, "0.1", 0.1),
    (-2.25, "-2.25", -2.25),
    (1 / 3, "0.3333333333333333", 1 / 3),
    (0.0, "0", 0.0),
    (-0.0, "0", 0.0),
    (1e20, "100000000000000000000", 1e20),
])
def test_flow_quantity_is_an_exact_decimal(quantity, shown, read):
    flow = Flow(U1, U2, U3, quantity)
    assert repr(flow).endswith(f"quantity={shown})")
    assert flow.quantity == read


@pytest.mark.parametrize("quantity", [float("nan"), float("inf"), -float("inf"), 1e30, -1e30])
def test_flow_quantity_that_no_decimal_holds(quantity):
    with pytest.raises(ValueError) as failure:
        Flow(U1, U2, U3, quantity)
    assert failure.value.args == ("Invalid quantity value",)


@pytest.mark.parametrize("make, message", [
    (lambda: Flow("1234", U1, U1, 1), "Invalid resource_id UUID: " + BAD_LENGTH),
    (lambda: Flow(U1, "1234", "xyz", 1), "Invalid from_id UUID: " + BAD_LENGTH),
    (lambda: Flow(U1, U1, "1234", float("nan")), "Invalid to_id UUID: " + BAD_LENGTH),
    (lambda: ResourceInstance("1234", "1234"), "Invalid resource_id UUID: " + BAD_LENGTH),
    (lambda: ResourceInstance(U1, "1234"), "Invalid entity_id UUID: " + BAD_LENGTH),
    (lambda: Relation("r", "1234", "p", "1234"), "Invalid subject_role_id UUID: " + BAD_LENGTH),
    (lambda: Relation("r", U1, "p", "1234", via_flow_id="1234"),
     "Invalid object_role_id UUID: " + BAD_LENGTH),
    (lambda: Relation("r", U1, "p", U2, None, "1234"), "Invalid via_flow_id UUID: " + BAD_LENGTH),
])
def test_constructor_ids_are_checked_in_order(make, message):
    with pytest.raises(ValueError) as failure:
        make()
    assert failure.value.args == (message,)


@pytest.mark.parametrize("make, message", [
    # Every argument is converted before any id is parsed.
    (lambda: Flow("1234", U1, U1, "1"), "argument 'quantity': must be real number, not str"),
    (lambda: Flow(U1, 5, U1, 1),
     "argument 'from_id': 'int' object cannot be converted to 'PyString'"),
    (lambda: Relation("r", "1234", "p", "1234", via_flow_id=7),
     "argument 'via_flow_id': 'int' object cannot be converted to 'PyString'"),
    (lambda: Relation("r", U1, "p"),
     "Relation.__new__() missing 1 required positional argument: 'object_role_id'"),
    (lambda: Flow(U1, U1, U1, 1, 2),
     "Flow.__new__() takes 4 positional arguments but 5 were given"),
    (lambda: Entity("a", name="b"), "Entity.__new__() got multiple values for argument 'name'"),
    (lambda: Mapping(), "No constructor defined for Mapping"),
    (lambda: Projection(), "No constructor defined for Projection"),
])
def test_constructor_type_errors(make, message):
    with pytest.raises(TypeError) as failure:
        make()
    assert str(failure.value) == message


@pytest.mark.parametrize("cls, signature", [
    (Entity, "(name, namespace=None)"),
    (Resource, "(name, unit, namespace=None)"),
    (Flow, "(resource_id, from_id, to_id, quantity)"),
    (ResourceInstance, "(resource_id, entity_id, namespace=None)"),
    (Instance, "(name, entity_type, namespace=None)"),
    (Role, "(name, namespace=None)"),
    (Relation,
     "(name, subject_role_id, predicate, object_role_id, namespace=None, via_flow_id=None)"),
])
def test_class_surface(cls, signature):
    assert cls.__text_signature__ == signature
    assert cls.__doc__ == ""
    assert cls.__module__ == "builtins"
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    getters = [name for name in ("id", "name", "namespace") if hasattr(cls, name)]
    assert all(getattr(cls, name).__doc__ is None for name in getters)


def test_resource_instance_and_instance():
    held = ResourceInstance(U1, U2, "ops")
    assert (held.resource_id, held.entity_id, held.namespace) == (U1, U2, "ops")
    assert ResourceInstance(U1, U2).namespace is None
    assert repr(held) == (f"ResourceInstance(id='{held.id}', resource_id='{U1}', "
                          f"entity_id='{U2}', namespace=\"ops\")")
    instance = Instance("n1", "Order")
    assert (instance.name, instance.entity_type, instance.namespace) == ("n1", "Order", None)
    assert repr(instance) == (f"Instance(id='{instance.id}', name='n1', entity_type='Order', "
                              "namespace=\"default\")")
    assert str(instance) == repr(instance)


def test_role_and_relation():
    role = Role("Buyer")
    assert role.namespace is None
    assert repr(role) == f"Role(id='{role.id}', name='Buyer', namespace=\"default\")"
    relation = Relation("Pays", U1, "pays", U2)
    assert relation.namespace == "default"  # shown as stored, unlike the other records
    assert relation.via_flow_id is None
    assert (relation.subject_role_id, relation.predicate, relation.object_role_id) == (
        U1, "pays", U2)
    assert repr(relation) == (
        f"Relation(id='{relation.id}', name='Pays', namespace='default', predicate='pays', "
        f"subject='{U1}', object='{U2}', via_flow_id='None')")
    via = Relation("Pays", U1.upper(), "pays", "{" + U2 + "}", "sales", "urn:uuid:" + U3)
    assert via.subject_role_id == U1 and via.object_role_id == U2
    assert via.via_flow_id == U3
    assert repr(via).endswith(f"namespace='sales', predicate='pays', subject='{U1}', "
                              f"object='{U2}', via_flow_id='{U3}')")
    assert not hasattr(relation, "get_attribute")


# ---- Open attributes and fields ----

ATTRIBUTE_RECORDS = [
    pytest.param(lambda: Entity("E"), "attribute", id="Entity"),
    pytest.param(lambda: Resource("R", "kg"), "attribute", id="Resource"),
    pytest.param(lambda: Flow(U1, U2, U3, 1), "attribute", id="Flow"),
    pytest.param(lambda: ResourceInstance(U1, U2), "attribute", id="ResourceInstance"),
    pytest.param(lambda: Role("Buyer"), "attribute", id="Role"),
    pytest.param(lambda: Instance("n1", "Order"), "field", id="Instance"),
]


def accessors(record, kind):
    return getattr(record, f"get_{kind}"), getattr(record, f"set_{kind}")


def same(a, b):
    """Equality that also compares types, so 1, 1.0 and True are told apart."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


@pytest.mark.parametrize("make, kind", ATTRIBUTE_RECORDS)
def test_missing_key(make, kind):
    get, _ = accessors(make(), kind)
    with pytest.raises(KeyError) as failure:
        get("missing")
    assert failure.value.args == (f"{kind.capitalize()} 'missing' not found",)


@pytest.mark.parametrize("make, kind", ATTRIBUTE_RECORDS)
def test_values_are_stored_by_copy_and_replaced(make, kind):
    get, put = accessors(make(), kind)
    assert put("k", ["a", 1]) is None
    first = get("k")
    assert first == ["a", 1]
    first.append("changed")
    second = get("k")
    assert second == ["a", 1] and second is not first
    put("k", {"x": None})
    assert get("k") == {"x": None}


@pytest.mark.parametrize("value, expected", [
    (None, None),
    (True, True),
    (False, False),
    (0, 0),
    (-1, -1),
    (2**63 - 1, 2**63 - 1),
    (-2**63, -2**63),
    (2**64 - 1, 2**64 - 1),
    (1.5, 1.5),
    (-0.0, -0.0),
    (1e300, 1e300),
    (5.0, 5.0),
    ("", ""),
    ("é\u2603\n", "é\u2603\n"),
    ((1, "a"), [1, "a"]),
    ({3}, [3]),
    (frozenset(), []),
    (range(3), [0, 1, 2]),
    ({"b": 1, "a": [True, {"z": [], "y": {}}]}, {"a": [True, {"y": {}, "z": []}], "b": 1}),
])
def test_attribute_round_trip(value, expected):
    entity = Entity("E")
    entity.set_attribute("k", value)
    assert same(entity.get_attribute("k"), expected)


def event(i):
    """A record of the shape of a public API's events: 13 distinct keys, nested."""
    actor = {"id": i, "login": f"u{i}", "url": "https://example.com/u"}
    repo = {"id": i % 10, "name": f"r{i % 10}", "url": "https://example.com/r"}
    return {"id": str(i), "type": "PushEvent", "actor": actor, "repo": repo,
            "payload": {"size": 1, "ref": "main"}, "public": True, "created_at": "2026-01-01"}


RECORDS = [{"id": i, "name": str(i), "tags": ["a"]} for i in range(100)]
KEY_FAMILIES = {
    "keys that differ in the middle": [
        {"customer_billing_address": i, "customer_mailing_address": i} for i in range(500)],
    "keys of one length and ends": [
        {f"attribute_{j}_the_value": i for j in range(7)} for i in range(500)],
    "16 keys": [{f"k{j:02}": i for j in range(16)} for i in range(200)],
    "17 keys": [{f"k{j:02}": i for j in range(17)} for i in range(200)],
    "5 keys of a pool of 1,000": [
        {f"field_{(i * 7 + m * 131) % 1000}": m for m in range(5)} for i in range(5_000)],
    "events": [event(i) for i in range(300)],
    "the first records": [{"a": 1, "b": 2, "c": 3} for _ in range(5)],
    "one-key records": [{"only": i} for i in range(40)],
    "records wider than a run of new keys": [{f"w{j}": i for j in range(200)} for i in range(3)],
    "records, distinct keys, records": RECORDS + [{f"key {i}": i} for i in range(1_000)] + RECORDS,
    "an index, then records": {"index": {f"id{i}": i for i in range(1_000)}, "records": RECORDS},
    "an index, then its keys": [{f"id{i}": i for i in range(3_000)},
                                [{f"id{i}": i} for i in range(3_000)]],
    "an index of records": {f"u{i}": {"name": "n", "age": i} for i in range(3_000)},
    "non-ASCII keys": [{f"é{i}": i for i in range(300)} for _ in range(2)],
    # Records made in part at once, the rest member by member: a member first, in the middle or
    # last that is deeper or longer than a small container's.
    # Long keys, shared as short ones are: just over 4 KB, a megabyte, longer than a text made at
    # once, and not ASCII.
    "keys of 4,097 bytes": [{"a" * 4_097: i, "b" * 5_000: i} for i in range(100)],
    "keys of a megabyte": [{"m" * (1 << 20): i, "n" * ((1 << 20) + 1): [i]} for i in range(4)],
    "keys longer than a text made at once": [{"L" * ((1 << 23) + 1): i, "a": i} for i in range(3)],
    "non-ASCII keys over 4 KB": [{"é" * 3_000: i, "ж" * 5_000: i} for i in range(100)],
    # A wide object's key whose member is being made when its keys are taken in.
    "the key waiting while left-out keys are taken in": [
        {"w%03d" % i: {"x%d" % i: i} for i in range(100)}, {"w064": 0}, {"w064": 1}],
    # A wide object's later key that records before it have.
    "a wide object after records that share its keys": RECORDS + [
        dict({f"a{i:03}": i for i in range(100)}, tags=1)],
    "records holding a member too large to make at once": [
        {"a": i, "m": [[i], [i]], "z": [i] * 17} if i % 3 == 0
        else {"0": [[[i]]], "a": {"b": [[i]]}, "z": i} if i % 3 == 1
        else {"a": i, "z": "é" * (1 << 20 if i == 2 else 1)} for i in range(300)],
}


def dicts_in(value):
    """Every dict of `value`, nested ones included."""
    found, pending = [], [value]
    while pending:
        item = pending.pop()
        if isinstance(item, dict):
            found.append(item)
            pending.extend(item.values())
        elif isinstance(item, list):
            pending.extend(item)
    return found


@pytest.mark.parametrize("family", list(KEY_FAMILIES))
def test_a_value_read_back_has_one_str_per_distinct_key(family):
    # As json.loads's memo makes them: every object that has a key holds the same str for it,
    # the first records' keys included, whatever the keys look like and however many there are.
    value = KEY_FAMILIES[family]
    entity = Entity("E")
    entity.set_attribute("k", value)
    got = entity.get_attribute("k")
    assert got == value
    keys = [key for d in dicts_in(got) for key in d]
    assert len({id(key) for key in keys}) == len(set(keys))


def test_keys_taken_in_keep_no_utf8_copy():
    # A wide object's keys are taken in when another object misses: read as UTF-8 for that, they
    # keep no UTF-8 copy of themselves in what is read back.
    value = [{f"é{i}": i for i in range(300)}, {"x": 1}, {"é5": 0}]
    entity = Entity("E")
    entity.set_attribute("k", value)
    got = entity.get_attribute("k")
    assert got == value
    assert next(iter(got[2])) is next(key for key in got[0] if key == "é5")
    assert [sys.getsizeof(key) for key in got[0]] == [
        sys.getsizeof(key.encode().decode()) for key in got[0]]


def dict_sizes(value, path=()):
    """{path: sys.getsizeof} of every dict in `value`."""
    sizes = {}
    if isinstance(value, dict):
        sizes[path] = sys.getsizeof(value)
        items = value.items()
    elif isinstance(value, list):
        items = enumerate(value)
    else:
        return sizes
    for key, item in items:
        sizes.update(dict_sizes(item, path + (key,)))
    return sizes


@pytest.mark.parametrize("members", [0, 1, 5, 6, 8, 16, 17, 22, 100, 1_000, 10_000])
def test_dicts_read_back_are_the_size_json_loads_makes(members):
    # Alone, among records, nested, with scalar members only or not: each dict is the one a dict
    # of str keys grows into, as json.loads makes it.
    flat = {f"key {i}": i for i in range(members)}
    value = {"alone": flat, "records": [flat, dict(flat, nested=[flat, {"x": flat}])]}
    entity = Entity("E")
    entity.set_attribute("k", value)
    got = entity.get_attribute("k")
    assert got == value
    assert dict_sizes(got) == dict_sizes(json.loads(json.dumps(value)))


class ReversedBytes(bytes):
    """A subclass may iterate as it likes: it is read as list() reads it."""

    def __iter__(self):
        return reversed(list(bytes.__iter__(self)))


class ReversedArray(array.array):
    def __iter__(self):
        return reversed(list(array.array.__iter__(self)))


@pytest.mark.parametrize("value", [
    b"", b"\x00\x7f\x80\xff", bytearray(), bytearray(b"ab"), ReversedBytes(b"ab"),
    # Read straight from the buffer when list() gives ints, else through list().
    memoryview(b""), memoryview(b"\x00\xff"), memoryview(b"\x80\x7f").cast("b"),
    memoryview(b"\xff" * 8).cast("q"), memoryview(b"\xff" * 8).cast("Q"),
    memoryview(b"\xff" * 8).cast("N"), memoryview(b"abcdefgh").cast("H"),
    memoryview(bytes(range(100)))[::3], memoryview(b"\x00\x01").cast("?"),
    memoryview(b"\x00" * 8).cast("d"), memoryview(array.array("i", [-1, 7])),
    array.array("B"), array.array("h", [-2, 3]), array.array("I", [2**32 - 1]),
    array.array("l", [-2**63]), array.array("Q", [2**64 - 1]), array.array("d", [1.5]),
    array.array("u", "ab"), ReversedArray("i", [1, 2]),
    # Floats and bools, every byte of a bool among them.
    array.array("f", [1.5, -0.0, 3.4e38, 1e-45, 0.1]), memoryview(bytes(range(256))).cast("?"),
    array.array("d", [-0.0, 5e-324, 1.7976931348623157e308, 0.1, 2.0**64]),
    memoryview(array.array("d", [2.5, -1.0])), memoryview(b"\x00" * 8).cast("@d"),
    # Strided views, backwards too, of every format read straight.
    memoryview(bytes(range(100)))[::-1], memoryview(bytes(range(100)))[97:3:-7],
    memoryview(b"")[::-2], memoryview(b"\x05")[::-1], memoryview(bytearray(range(9)))[1::4],
    memoryview(array.array("q", [-2**63, -1, 0, 2**63 - 1]))[::-2],
    memoryview(array.array("Q", [2**64 - 1, 7, 2**63]))[::2],
    memoryview(array.array("h", range(-500, 500, 7)))[3::-5],
    memoryview(array.array("d", [0.5, -0.0, 1e300, 3.0]))[::-1],
    memoryview(array.array("f", [0.25, -2.5, 1e-30]))[1::2],
    memoryview(bytes(range(256))).cast("?")[::-3],
    range(0), range(5, -5, -3), range(3, 3), range(2**63 - 2, 2**63 + 2),
    range(-2**63, -2**63 + 2), range(2**64 - 3, 2**64), range(0, 2**64, 2**63 + 1),
    range(2**62, -2**63 - 1, -2**62), range(2**64 - 1, 2**64 + 9, 10),
], ids=repr)
def test_bytes_and_ranges_are_read_as_list_reads_them(value):
    entity = Entity("E")
    entity.set_attribute("k", value)
    assert same(entity.get_attribute("k"), list(value))


@pytest.mark.parametrize("value, error, message", [
    # An element beyond 64 bits fails as it does in a list.
    (range(2**64 - 2, 2**64 + 2), OverflowError, "int too big to convert"),
    (range(-2**63 - 1, -2**63 + 5), OverflowError, "int too big to convert"),
    (range(2**70, 2**70 + 10**6), OverflowError, "int too big to convert"),
    # Too long for list() to make, and for an array (nothing is allocated to find that out).
    (range(10**20), OverflowError, "Python int too large to convert to C ssize_t"),
    (range(2**62), MemoryError, "Out of memory in Entity.set_attribute"),
], ids=repr)
def test_ranges_list_could_not_take_fail_as_it_does(value, error, message):
    entity = Entity("E")
    entity.set_attribute("k", "before")
    with pytest.raises(error) as raised:
        entity.set_attribute("k", value)
    assert str(raised.value) == message
    assert entity.get_attribute("k") == "before"


# Characters beyond which a str is encoded in pieces; a text is decoded in pieces beyond as many
# bytes. The texts below are just over it, so that these tests stay quick.
LONG = 1 << 23


def long_text(unit, length):
    """`length` characters of `unit` repeated."""
    return (unit * (length // len(unit) + 1))[:length]


class Text(str):
    pass


# Long texts that are not ASCII cross the boundary in pieces. Made in the test, so that a run
# holds one of them at a time.
LONG_ROUND_TRIPS = {
    "latin-1": lambda: long_text("Café crème, ", LONG + 1),
    "latin-1 only": lambda: long_text("é", LONG + 1),
    "bmp": lambda: long_text("Ελληνικά € ", LONG + 1),
    # Six bytes a unit: sequences straddle the boundaries of the pieces.
    "astral": lambda: long_text("ab😀", LONG + 1),
    # Too short to be encoded in pieces, but its UTF-8 is one byte over 8 MiB.
    "bmp, UTF-8 just over the threshold": lambda: long_text("€", (8 << 20) // 3 + 1),
    # ASCII copied in pieces first, then the decoder takes over past them.
    "first non-ASCII after two pieces": lambda: "a" * (16 << 20) + "é" + "z" * 3,
    # The str's kind is decided by its last characters.
    "widest characters last": lambda: long_text("é", LONG) + "€😀",
    "str subclass": lambda: Text(long_text("Ελληνικά 😀 ", LONG + 1)),
}


@pytest.mark.parametrize("case", list(LONG_ROUND_TRIPS))
def test_long_text_round_trips_as_cpython_converts_it(case):
    value = LONG_ROUND_TRIPS[case]()
    # CPython's decoder makes the reference: the same characters, in the narrowest kind.
    expected = value.encode().decode()
    entity = Entity("E")
    entity.set_attribute("k", value)
    back = entity.get_attribute("k")
    assert type(back) is str
    assert back == expected
    assert sys.getsizeof(back) == sys.getsizeof(expected)


@pytest.mark.parametrize("value", ["é" * 1_024, "€" * 5_000, "a" * 5_000 + "😀",
                                   "é" * 8_388_607, "Ελληνικά" * 200_000])
def test_a_str_set_keeps_no_utf8_copy_of_itself(value):
    # Beyond a few hundred characters, a str that is not ASCII is encoded without the UTF-8 copy
    # that CPython's own encoding would leave attached to it.
    size = sys.getsizeof(value)
    entity = Entity("E")
    entity.set_attribute("k", value)
    entity.set_attribute("l", [value, {"k": value}])
    assert sys.getsizeof(value) == size
    assert entity.get_attribute("k") == value


LONG_SURROGATES = {
    "last, in a BMP str": lambda: long_text("€", LONG) + "\ud800",
    "first, before Latin-1 characters": lambda: "\udfff" + long_text("é", LONG),
    "late, among astral characters": lambda: long_text("😀", LONG) + "\udc00" + "😀" * 4,
}


@pytest.mark.parametrize("case", list(LONG_SURROGATES))
def test_lone_surrogate_in_long_text_is_refused_as_cpython_refuses_it(case):
    value = LONG_SURROGATES[case]()
    with pytest.raises(UnicodeEncodeError) as expected:
        value.encode()
    entity = Entity("E")
    entity.set_attribute("k", "before")
    with pytest.raises(UnicodeEncodeError) as refused:
        entity.set_attribute("k", value)
    assert str(refused.value) == str(expected.value)
    assert (refused.value.start, refused.value.end) == (expected.value.start, expected.value.end)
    assert entity.get_attribute("k") == "before"


@pytest.mark.parametrize("value", [
    array.array("d", [1.0, float("nan")]), array.array("f", [float("-inf"), 2.0]),
    # Past the first piece read, and backwards: the first non-finite element is the one list()
    # would have led to.
    array.array("d", [0.5]) * 70_000 + array.array("d", [float("inf"), float("nan")]),
    memoryview(array.array("d", [float("nan"), 1.0, float("inf")]))[::-1],
], ids=repr)
def test_non_finite_floats_in_buffers_fail_as_in_a_list(value):
    entity = Entity("E")
    entity.set_attribute("k", "before")
    with pytest.raises(ValueError) as from_list:
        entity.set_attribute("k", list(value))
    with pytest.raises(ValueError) as raised:
        entity.set_attribute("k", value)
    assert str(raised.value) == str(from_list.value)
    assert entity.get_attribute("k") == "before"


@pytest.mark.parametrize("value, error, message", [
    (memoryview(b"ab").cast("B", (1, 2)), NotImplementedError,
     "multi-dimensional sub-views are not implemented"),
    (memoryview(b"a").cast("B", ()), TypeError, "invalid indexing of 0-dim memory"),
    (memoryview(bytes(range(12))).cast("B", (3, 4))[::-2], NotImplementedError,
     "multi-dimensional sub-views are not implemented"),
    (memoryview((ctypes.c_double * 3)())[::2], NotImplementedError,
     "memoryview: unsupported format <d"),
    (memoryview((ctypes.c_bool * 2)()), NotImplementedError, "memoryview: unsupported format <?"),
], ids=repr)
def test_views_list_cannot_read_fail_as_it_does(value, error, message):
    released = memoryview(b"ab")
    released.release()
    entity = Entity("E")
    for failing, expected in ((value, (error, message)),
                              (released, (ValueError,
                                          "operation forbidden on released memoryview object"))):
        with pytest.raises(expected[0]) as raised:
            entity.set_attribute("k", [1, failing])
        assert str(raised.value) == expected[1]


def test_objects_come_back_with_sorted_keys():
    entity = Entity("E")
    entity.set_attribute("k", {"b": 1, "a": 2, "B": 3, "é": 4, "": 5})
    assert list(entity.get_attribute("k")) == ["", "B", "a", "b", "é"]


@pytest.mark.parametrize("value, error", [
    (object(), TypeError),
    ({1: "a"}, TypeError),
    ([1, {"ok": {2: 3}}], TypeError),
    (len, TypeError),
    ((x for x in []), TypeError),
    (2**64, OverflowError),
    (-2**63 - 1, OverflowError),
    (float("nan"), ValueError),
    ([1.0, float("inf")], ValueError),
    (Entity("E"), TypeError),
])
def test_refused_values_leave_the_map_unchanged(value, error):
    entity = Entity("E")
    entity.set_attribute("k", 1)
    with pytest.raises(error):
        entity.set_attribute("k", value)
    assert same(entity.get_attribute("k"), 1)


def test_refusal_messages():
    entity = Entity("E")
    with pytest.raises(TypeError, match=r"^'object' object cannot be converted to JSON"):
        entity.set_attribute("k", [object()])
    # Of the sets, the built-in ones: a dict's views are refused, naming what is accepted.
    for view in ({"a": 1}.keys(), {"a": 1}.items()):
        with pytest.raises(TypeError, match=r"^'dict_\w+' object cannot be converted to JSON "
                           r"\(expected .*, a set, a frozenset or a mapping with str keys\)$"):
            entity.set_attribute("k", view)
    with pytest.raises(TypeError, match=r"^dict keys must be str to be converted to JSON, not 'int'$"):
        entity.set_attribute("k", {1: 2})
    with pytest.raises(ValueError, match=r"^Invalid float value \(NaN or Infinity\)$"):
        entity.set_attribute("k", float("-inf"))
    with pytest.raises(TypeError, match="^argument 'key': 'int' object cannot be converted"):
        entity.set_attribute(1, 2)


class ReadOnlyMapping(collections.abc.Mapping):
    def __init__(self, data):
        self._data = dict(data)

    def __getitem__(self, key):
        return self._data[key]

    def __iter__(self):
        return iter(self._data)

    def __len__(self):
        return len(self._data)


class RegisteredMapping:
    """A mapping only by registration; its __getitem__ alone would pass for a sequence's."""

    def __init__(self, data):
        self._data = dict(data)

    def __getitem__(self, key):
        return self._data[key]

    def __len__(self):
        return len(self._data)

    def items(self):
        return self._data.items()


collections.abc.Mapping.register(RegisteredMapping)


def test_values_deeper_and_wider_than_a_few_levels_round_trip():
    # Siblings before and after the nested part at every level, forty levels deep.
    value = expected = "bottom"
    for level in range(40):
        value = [level, {"z": (1, 2), "k": value, "a": []}, "after"]
        expected = [level, {"a": [], "k": expected, "z": [1, 2]}, "after"]
    entity = Entity("E")
    entity.set_attribute("k", value)
    assert entity.get_attribute("k") == expected
    shown = json.dumps(expected, separators=(",", ":"))
    assert repr(Expression.literal(value)) == f"Expression({shown})"


def test_mappings_other_than_dict_convert_as_dicts_do():
    entity = Entity("E")
    nested = ReadOnlyMapping({"b": [ReadOnlyMapping({"x": 1})], "a": None})
    for value, expected in [
        (ReadOnlyMapping({"a": 1, "b": "two"}), {"a": 1, "b": "two"}),
        (RegisteredMapping({"k": [1, 2]}), {"k": [1, 2]}),
        (types.MappingProxyType({"p": 1.5}), {"p": 1.5}),
        (collections.OrderedDict([("z", 1), ("y", 2)]), {"y": 2, "z": 1}),
        (nested, {"a": None, "b": [{"x": 1}]}),
        ([ReadOnlyMapping({})], [{}]),
    ]:
        entity.set_attribute("k", value)
        assert same(entity.get_attribute("k"), expected)
    with pytest.raises(TypeError, match=r"^dict keys must be str to be converted to JSON, not 'int'$"):
        entity.set_attribute("k", ReadOnlyMapping({1: "a"}))

    class PairlessItems(ReadOnlyMapping):
        def items(self):
            return ["ab"]

    with pytest.raises(TypeError, match=r"^mapping items must be \(key, value\) pairs .* not 'str'$"):
        entity.set_attribute("k", PairlessItems({}))

    class TripleItems(ReadOnlyMapping):
        def items(self):
            return [("a", 1), ("b", 2, 3)]

    with pytest.raises(TypeError, match=r"^mapping items must be \(key, value\) pairs to be "
                       r"converted to JSON, not a tuple of 3 items$"):
        entity.set_attribute("k", TripleItems({}))
    TripleItems.items = lambda self: [("a",)]
    with pytest.raises(TypeError, match=r", not a tuple of 1 item$"):
        entity.set_attribute("k", TripleItems({}))
    assert same(entity.get_attribute("k"), [{}])
    # Literals keep their own rules: a dict, or nothing of the kind.
    with pytest.raises(ValueError, match="^Cannot convert Python value to JSON: "):
        Expression.literal(ReadOnlyMapping({"a": 1}))


def test_an_arguments_own_type_error_is_the_context_of_the_argument_error_its_cause_kept():
    mine = TypeError("mine")

    class Quantity:
        def __float__(self):
            raise mine

    with pytest.raises(TypeError) as failure:
        Flow(U1, U1, U1, Quantity())
    assert str(failure.value) == "argument 'quantity': mine"
    assert failure.value.__cause__ is None and failure.value.__context__ is mine
    assert "TypeError: mine" in "".join(traceback.format_exception(failure.value))

    class Caused:
        def __float__(self):
            try:
                {}["k"]
            except KeyError as missing:
                raise TypeError("inner") from missing

    with pytest.raises(TypeError) as failure:
        Flow(U1, U1, U1, Caused())
    assert repr(failure.value.__cause__) == "KeyError('k')"
    assert repr(failure.value.__context__) == "TypeError('inner')"


def test_recursive_containers_raise_recursion_error():
    entity = Entity("E")
    looped = []
    looped.append(looped)
    with pytest.raises(RecursionError):
        entity.set_attribute("k", looped)
    cyclic = {}
    cyclic["self"] = [cyclic]
    with pytest.raises(RecursionError):
        entity.set_attribute("k", cyclic)
    deep = None
    for _ in range(100_000):
        deep = [deep]
    with pytest.raises(RecursionError):
        entity.set_attribute("k", deep)
    with pytest.raises(KeyError):
        entity.get_attribute("k")


def test_nesting_is_bounded_whatever_the_recursion_limit():
    deep = None
    for _ in range(50_000):
        deep = [deep]
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    try:
        with pytest.raises(RecursionError):
            Entity("E").set_attribute("k", deep)
    finally:
        sys.setrecursionlimit(limit)


def test_nesting_within_the_recursion_limit_round_trips():
    depth = sys.getrecursionlimit() // 2
    nested = "leaf"
    for _ in range(depth):
        nested = [nested]
    entity = Entity("E")
    entity.set_attribute("k", nested)
    back = entity.get_attribute("k")
    for _ in range(depth):
        back = back[0]
    assert back == "leaf"


class Sneaky:
    """A sequence whose element is read by calling back into an object."""

    def __init__(self, read):
        self.read = read

    def __len__(self):
        return 1

    def __getitem__(self, index):
        if index > 0:
            raise IndexError(index)
        return self.read()


@pytest.mark.parametrize("callback, message", [
    (lambda entity: entity.get_attribute("k"), "Already mutably borrowed"),
    (lambda entity: entity.name, "Already mutably borrowed"),
    (lambda entity: repr(entity), "Already mutably borrowed"),
    (lambda entity: entity.set_attribute("other", 1), "Already borrowed"),
])
def test_using_an_object_while_it_is_being_changed_is_refused(callback, message):
    entity = Entity("E")
    entity.set_attribute("k", 1)
    with pytest.raises(RuntimeError) as failure:
        entity.set_attribute("k", Sneaky(lambda: callback(entity)))
    assert str(failure.value) == message
    # The borrow is released and the map unchanged.
    assert entity.get_attribute("k") == 1
    with pytest.raises(KeyError):
        entity.get_attribute("other")
    entity.set_attribute("k", 2)
    assert entity.get_attribute("k") == 2


json_values = st.recursive(
    st.none() | st.booleans() | st.integers(-2**63, 2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False) | st.text(),
    lambda children: st.lists(children, max_size=4)
    | st.dictionaries(st.text(max_size=5), children, max_size=4),
    max_leaves=20,
)


def sorted_keys(value):
    if isinstance(value, list):
        return [sorted_keys(item) for item in value]
    if isinstance(value, dict):
        return {key: sorted_keys(value[key]) for key in sorted(value, key=lambda k: k.encode())}
    return value


@settings(max_examples=max(20, int(200 * float(os.environ.get("VOK_TEST_EXAMPLE_SCALE", "1")))),
          deadline=None)
@given(json_values)
def test_any_json_like_value_round_trips(value):
    instance = Instance("n", "T")
    instance.set_field("f", value)
    assert same(instance.get_field("f"), sorted_keys(value))
