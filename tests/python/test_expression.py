"""Expression, NormalizedExpression and WindowSpec at the Python boundary."""

import ctypes
import ctypes.util
import gc
import os
import struct
import subprocess
import sys
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from vok_dsl import (AggregateFunction, BinaryOp, Expression, NormalizedExpression, Quantifier,
                     UnaryOp, WindowSpec)

a = Expression.variable("a")
b = Expression.variable("b")
c = Expression.variable("c")
x = Expression.variable("x")
T = "2024-01-01T00:00:00Z"


def And(left, right):
    return Expression.binary(BinaryOp.And, left, right)


def Or(left, right):
    return Expression.binary(BinaryOp.Or, left, right)


# ---- Signatures and docstrings ----

@pytest.mark.parametrize("name, signature, doc", [
    ("literal", "(value)", "Create a literal expression from a JSON-compatible value."),
    ("variable", "(name)", "Create a variable expression."),
    ("quantity", "(value, unit)", 'Create a quantity literal expression (e.g., "100 USD").'),
    ("time", "(timestamp)", "Create a time literal expression (ISO 8601 timestamp)."),
    ("interval", "(start, end)", "Create an interval literal expression."),
    ("binary", "(op, left, right)", "Create a binary expression (e.g., left AND right)."),
    ("unary", "(op, operand)", "Create a unary expression (e.g., NOT x)."),
    ("cast", "(operand, target_type)", 'Create a cast expression (e.g., x as "Money").'),
    ("quantifier", "(q, variable, collection, condition)",
     "Create a quantifier expression (ForAll, Exists, ExistsUnique)."),
    ("member_access", "(object, member)", "Create a member access expression (e.g., user.name)."),
    ("aggregation", "(function, collection, field=None, filter=None)",
     "Create an aggregation expression (e.g., COUNT(items))."),
    ("aggregation_comprehension",
     "(function, variable, collection, predicate, projection, window=None, target_unit=None)",
     "Create an aggregation comprehension expression."),
    ("group_by", "(variable, collection, key, condition, filter=None)",
     "Create a group-by expression."),
    ("normalize", "($self)", "Normalize this expression to canonical form."),
    ("is_equivalent", "($self, other)",
     "Check if this expression is semantically equivalent to another."),
])
def test_expression_signatures_and_docstrings(name, signature, doc):
    member = getattr(Expression, name)
    assert member.__text_signature__ == signature
    assert member.__doc__ == doc


def test_class_documentation_and_missing_constructors():
    assert Expression.__doc__ == ("A policy expression that can be normalized and compared for "
                                  "equivalence.")
    assert NormalizedExpression.__doc__ == ("A normalized expression with a stable hash for "
                                            "caching and equivalence checks.")
    assert NormalizedExpression.stable_hash.__doc__ == (
        "Get the stable hash value for this normalized expression.")
    assert NormalizedExpression.inner_expression.__doc__ == "Get the inner expression."
    assert WindowSpec.__text_signature__ == "(duration, unit)"
    assert WindowSpec.__doc__ == ""
    for cls in (Expression, NormalizedExpression):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


# ---- Constructors and text forms ----

def comprehension(**optional):
    return Expression.aggregation_comprehension(
        AggregateFunction.Sum, "f", Expression.variable("flows"), Expression.literal(True),
        Expression.member_access("f", "quantity"), **optional)


@pytest.mark.parametrize("make, text", [
    (lambda: Expression.literal({"b": 1, "a": [True, None, 2.5, "x"]}),
     '{"a":[true,null,2.5,"x"],"b":1}'),
    (lambda: Expression.literal(True), "true"),
    (lambda: Expression.literal(2**63 - 1), "9223372036854775807"),
    (lambda: Expression.literal(-2**63), "-9223372036854775808"),
    (lambda: Expression.literal(2**63), "9.223372036854776e18"),
    (lambda: Expression.literal(("t", 1.5)), '["t",1.5]'),
    (lambda: Expression.variable("a"), "a"),
    (lambda: Expression.quantity("100.50", "USD"), "100.50 USD"),
    (lambda: Expression.time(T), f'"{T}"'),
    (lambda: Expression.interval(T, T), f'interval("{T}", "{T}")'),
    (lambda: Expression.binary(BinaryOp.StartsWith, a, b), "(a STARTS_WITH b)"),
    (lambda: Expression.unary(UnaryOp.Negate, a), "- a"),
    (lambda: Expression.cast(a, "Money"), 'a as "Money"'),
    (lambda: Expression.quantifier(Quantifier.Exists, "f", Expression.variable("flows"), a),
     "Exists(f in flows: a)"),
    (lambda: Expression.member_access("user", "name"), "user.name"),
    (lambda: Expression.aggregation(AggregateFunction.Count, a, field="q", filter=b),
     "COUNT(a.q WHERE b)"),
    (lambda: comprehension(), "SUM(f in flows: f.quantity)"),
    (lambda: comprehension(window=WindowSpec(30, "days"), target_unit="kg"),
     'SUM(f in flows OVER LAST 30 "days": f.quantity AS "kg")'),
    (lambda: Expression.group_by("g", a, b, c, filter=x), "group_by(g in a WHERE x: b) { c }"),
])
def test_constructors_and_text_forms(make, text):
    expression = make()
    assert str(expression) == text
    assert repr(expression) == f"Expression({text})"


def test_parameters_may_be_passed_by_keyword_and_optional_ones_as_none():
    assert Expression.binary(op=BinaryOp.And, left=a, right=b) == And(a, b)
    assert (Expression.aggregation(AggregateFunction.Count, a)
            == Expression.aggregation(AggregateFunction.Count, a, field=None, filter=None))
    assert comprehension() == comprehension(window=None, target_unit=None)
    assert (Expression.group_by("g", a, b, c)
            == Expression.group_by(variable="g", collection=a, key=b, condition=c, filter=None))


def test_arguments_are_copied():
    left = Expression.variable("left")
    whole = And(left, b)
    del left
    gc.collect()
    assert str(whole) == "(left AND b)"
    window = WindowSpec(1, "days")
    made = comprehension(window=window)
    del window
    assert "OVER LAST 1" in str(made)


# ---- Refusals ----

@pytest.mark.parametrize("call, exception, message", [
    (lambda: Expression.literal({1, 2}), ValueError, "Cannot convert Python value to JSON: {1, 2}"),
    (lambda: Expression.literal(b"x"), ValueError, "Cannot convert Python value to JSON: b'x'"),
    (lambda: Expression.literal(2**1100), ValueError,
     "Cannot convert Python value to JSON: " + str(2**1100)),
    (lambda: Expression.literal(float("nan")), ValueError, "Invalid float value (NaN or Infinity)"),
    (lambda: Expression.literal([1, float("inf")]), ValueError,
     "Invalid float value (NaN or Infinity)"),
    (lambda: Expression.literal({1: "a"}), TypeError,
     "'int' object cannot be converted to 'PyString'"),
    (lambda: Expression.literal(a), ValueError, "Cannot convert Python value to JSON: Expression(a)"),
    (lambda: Expression.quantity(100, "USD"), TypeError,
     "argument 'value': 'int' object cannot be converted to 'PyString'"),
    (lambda: Expression.quantity("1e3", "USD"), ValueError,
     "Invalid decimal value: Invalid decimal: unknown character"),
    (lambda: Expression.quantity("", "USD"), ValueError,
     "Invalid decimal value: Invalid decimal: empty"),
    (lambda: Expression.time("2024-01-01"), ValueError, "Invalid timestamp: premature end of input"),
    (lambda: Expression.interval("2024-01-02T00:00:00Z", T), ValueError,
     "Start time must be before or equal to end time"),
    (lambda: Expression.interval("bad", "worse"), ValueError,
     "Invalid start timestamp: premature end of input"),
    (lambda: Expression.interval(T, "2024-01-01T00:00:00"), ValueError,
     "Invalid end timestamp: premature end of input"),
    (lambda: Expression.binary(1, a, b), TypeError,
     "argument 'op': 'int' object cannot be converted to 'BinaryOp'"),
    (lambda: Expression.binary(UnaryOp.Not, a, b), TypeError,
     "argument 'op': 'UnaryOp' object cannot be converted to 'BinaryOp'"),
    (lambda: Expression.unary(0, a), TypeError,
     "argument 'op': 'int' object cannot be converted to 'UnaryOp'"),
    (lambda: Expression.quantifier(0, "f", a, b), TypeError, "argument 'q': "),
    (lambda: Expression.aggregation(0, a), TypeError, "argument 'function': "),
    (lambda: Expression.binary(BinaryOp.And, a, "b"), TypeError,
     "argument 'right': 'str' object cannot be converted to 'Expression'"),
    (lambda: comprehension(window=(1, "days")), TypeError, "argument 'window': "),
    (lambda: Expression.aggregation(AggregateFunction.Sum, a, field=3), TypeError,
     "argument 'field': "),
    (lambda: Expression.variable(), TypeError,
     "Expression.variable() missing 1 required positional argument: 'name'"),
    (lambda: Expression.is_equivalent(a, 5), TypeError, "argument 'other': "),
])
def test_refusals(call, exception, message):
    with pytest.raises(exception) as caught:
        call()
    assert type(caught.value) is exception
    assert str(caught.value).startswith(message)


def test_literal_names_the_innermost_refused_value():
    thing = object()
    with pytest.raises(ValueError) as caught:
        Expression.literal([1, {"k": thing}])
    assert str(caught.value) == f"Cannot convert Python value to JSON: {thing!r}"

    class Unprintable:
        def __repr__(self):
            raise RuntimeError("no")

    with pytest.raises(ValueError, match="^Cannot convert Python value to JSON: <unprintable "):
        Expression.literal([Unprintable()])


def test_interval_compares_instants_not_texts():
    Expression.interval("2024-01-01T01:00:00+01:00", "2024-01-01T00:00:00Z")
    with pytest.raises(ValueError, match="^Start time must be"):
        Expression.interval("2024-01-01T00:30:00Z", "2024-01-01T01:00:00+01:00")


# ---- Comparison and hashing ----

def test_expression_equality_is_structural():
    assert Expression.variable("a") == Expression.variable("a")
    assert And(a, b) != And(b, a)
    assert And(a, b).is_equivalent(And(b, a))
    assert a != 5 and not (a == 5)
    assert Expression.quantity("100", "USD") == Expression.quantity("100.00", "USD")
    assert not Expression.quantity("100", "USD").is_equivalent(Expression.quantity("100.00", "USD"))
    for compare in (lambda: a < b, lambda: a <= b, lambda: a > b, lambda: a >= b):
        with pytest.raises(TypeError):
            compare()
    with pytest.raises(TypeError):
        hash(a)


def test_inequality_asks_the_other_operand():
    class Always:
        def __eq__(self, other):
            return True

    assert (a != Always()) is False


# ---- NormalizedExpression ----

def _xxh64(data):
    library = ctypes.CDLL(ctypes.util.find_library("xxhash") or "libxxhash.so.0")
    library.XXH64.restype = ctypes.c_uint64
    library.XXH64.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint64]
    return library.XXH64(data, len(data), 0)


def _var(name):
    return struct.pack("<Q", 4) + name.encode() + b"\xff"


def test_stable_hash_is_xxh64_of_the_byte_stream():
    assert a.normalize().stable_hash() == _xxh64(bytes.fromhex("0400000000000000") + b"a\xff")
    stream = struct.pack("<QQ", 6, 0) + _var("a") + _var("b")
    assert And(b, a).normalize().stable_hash() == _xxh64(stream)


@pytest.mark.parametrize("op", [BinaryOp.And, BinaryOp.Or, BinaryOp.Plus, BinaryOp.Multiply,
                                BinaryOp.Equal, BinaryOp.NotEqual])
def test_commutative_operators_normalise_alike(op):
    ba = Expression.binary(op, b, a).normalize()
    ab = Expression.binary(op, a, b).normalize()
    assert ba == ab and not (ba != ab)
    assert ba.stable_hash() == ab.stable_hash()
    assert hash(ba) == hash(ab)
    assert len({ba, ab}) == 1


@pytest.mark.parametrize("op", [BinaryOp.Minus, BinaryOp.Divide, BinaryOp.LessThan,
                                BinaryOp.Contains])
def test_other_operators_keep_their_order(op):
    assert Expression.binary(op, b, a).normalize() != Expression.binary(op, a, b).normalize()


def test_normal_forms():
    for e in (And(And(c, b), a), And(a, And(b, c)), And(c, And(a, b))):
        assert str(e.normalize()) == "((a AND b) AND c)"
    assert str(Expression.unary(UnaryOp.Not, Expression.unary(UnaryOp.Not, x)).normalize()) == "x"
    eq = Expression.binary(BinaryOp.Equal, a, b)
    assert str(Expression.unary(UnaryOp.Not, eq).normalize()) == "(a != b)"
    assert str(And(x, Or(x, Expression.variable("y"))).normalize()) == "x"
    minus = Expression.binary(BinaryOp.Minus, a, a)
    assert str(minus.normalize()) == "(a - a)"


def test_normalisation_is_not_idempotent():
    p = Expression.aggregation(AggregateFunction.Count, Expression.variable("p"))
    q = Expression.aggregation(AggregateFunction.Count, Expression.variable("q"))
    w = Expression.variable("w")
    once = And(p, And(q, Or(And(p, q), w))).normalize()
    assert str(once) == "((COUNT(p) AND COUNT(q)) AND ((COUNT(p) AND COUNT(q)) OR w))"
    assert str(once.inner_expression().normalize()) == "(COUNT(p) AND COUNT(q))"


def test_repr_hash_and_inner_expression():
    n = x.normalize()
    digits = format(n.stable_hash(), "016x")
    assert repr(n) == f"NormalizedExpression(x, hash=0x{digits})"
    assert str(n) == "x"
    assert 0 <= n.stable_hash() < 2**64
    signed = n.stable_hash() - 2**64 if n.stable_hash() >= 2**63 else n.stable_hash()
    assert hash(n) == (-2 if signed == -1 else signed)
    ab = And(a, b).normalize()
    assert ab.inner_expression() == ab.inner_expression()
    assert ab.inner_expression() is not ab.inner_expression()
    assert ab.inner_expression().normalize() == ab
    assert type(ab.inner_expression()) is Expression


def test_normalized_and_plain_expressions_are_unequal():
    n = a.normalize()
    assert (n == a) is False and (n != a) is True
    assert (a == n) is False
    with pytest.raises(TypeError):
        n < a.normalize()


def test_stable_hash_is_the_same_in_another_process():
    code = ("from vok_dsl import *; a = Expression.variable('a'); "
            "print(Expression.binary(BinaryOp.Plus, a, Expression.literal({'k': 1.5}))"
            ".normalize().stable_hash())")
    values = set()
    for seed in ("1", "2"):
        env = dict(os.environ, PYTHONHASHSEED=seed)
        out = subprocess.run([sys.executable, "-c", code], env=env, check=True,
                             capture_output=True, text=True).stdout
        values.add(int(out))
    here = Expression.binary(BinaryOp.Plus, a, Expression.literal({"k": 1.5}))
    assert values == {here.normalize().stable_hash()}


names = st.lists(st.sampled_from(["a", "b", "c", "d", "ab"]), min_size=1, max_size=8)
commutative = st.sampled_from([BinaryOp.And, BinaryOp.Or, BinaryOp.Plus, BinaryOp.Multiply,
                               BinaryOp.Equal, BinaryOp.NotEqual])


def _chain(op, operands, data):
    # Any nesting of the operands, chosen by hypothesis.
    if len(operands) == 1:
        return Expression.variable(operands[0])
    cut = data.draw(st.integers(1, len(operands) - 1))
    return Expression.binary(op, _chain(op, operands[:cut], data), _chain(op, operands[cut:], data))


@settings(max_examples=200, deadline=None)
@given(names, commutative, st.data())
def test_any_order_and_nesting_of_a_chain_gives_one_normal_form(operands, op, data):
    shuffled = data.draw(st.permutations(operands))
    first = _chain(op, operands, data).normalize()
    second = _chain(op, shuffled, data).normalize()
    assert first == second and hash(first) == hash(second)
    assert first.inner_expression().normalize() == first


# ---- WindowSpec ----

def test_window_spec():
    window = WindowSpec(30, "days")
    assert repr(window) == "WindowSpec(duration=30, unit='days')" == str(window)
    assert (window.duration, window.unit) == (30, "days")
    assert WindowSpec(duration=0, unit="").duration == 0
    assert WindowSpec(2**64 - 1, "it's").unit == "it's"
    assert repr(WindowSpec(1, "it's")) == "WindowSpec(duration=1, unit='it's')"


@pytest.mark.parametrize("args, exception, message", [
    ((-1, "days"), OverflowError, None),
    ((2**64, "days"), OverflowError, None),
    ((1.5, "days"), TypeError, "argument 'duration': "),
    ((1, 2), TypeError, "argument 'unit': "),
    ((1,), TypeError, None),
])
def test_window_spec_refusals(args, exception, message):
    with pytest.raises(exception) as caught:
        WindowSpec(*args)
    assert type(caught.value) is exception
    if message:
        assert str(caught.value).startswith(message)


# ---- Depth ----

DEPTH = 10_000


def _in_small_thread(work, stack_size=512 * 1024):
    outcome = {}

    def run():
        try:
            outcome["value"] = work()
        except BaseException as error:  # reported to the test below
            outcome["error"] = error

    previous = threading.stack_size(stack_size)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def test_ten_thousand_levels_on_a_small_stack():
    # Each call copies its argument, so the building is quadratic: mostly one node per level.
    wraps = [
        lambda e, i: Expression.unary(UnaryOp.Not, e),
        lambda e, i: Expression.cast(e, "T"),
        lambda e, i: Expression.unary(UnaryOp.Negate, e),
    ] * 30 + [
        lambda e, i: Expression.binary(BinaryOp.And, e, Expression.variable(f"v{i}")),
        lambda e, i: Expression.binary(BinaryOp.Plus, Expression.variable(f"v{i}"), e),
        lambda e, i: Expression.binary(BinaryOp.Or, e, Expression.variable(f"v{i}")),
    ]

    def work():
        deep = Expression.variable("x")
        for i in range(DEPTH):
            deep = wraps[i % len(wraps)](deep, i)
        chain = Expression.variable("v0")
        for i in range(1, 300):
            chain = Expression.binary(BinaryOp.Or, Expression.variable(f"v{i}"), chain)
        text = str(deep)
        same = deep == Expression.binary(BinaryOp.Minus, deep, deep).normalize().inner_expression()
        normal = deep.normalize()
        results = (len(text), same, repr(normal)[:21], hash(normal) == hash(deep.normalize()),
                   normal.inner_expression() == normal.inner_expression(),
                   deep.is_equivalent(deep), str(chain.normalize()).count("OR"))
        del deep, normal, chain
        return results

    length, same, shown, hashes_agree, inner_equal, equivalent, ors = _in_small_thread(work)
    assert length > DEPTH
    assert same is False
    assert shown == "NormalizedExpression("
    assert hashes_agree and inner_equal and equivalent
    assert ors == 299


def test_deep_json_literal_on_a_small_stack():
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(20_000)
    try:
        def work():
            value = []
            for _ in range(9_000):
                value = [value]
            literal = Expression.literal(value)
            normal = literal.normalize()
            return len(str(literal)), normal.inner_expression() == literal, hash(normal) != -1

        assert _in_small_thread(work, 256 * 1024) == (18_002, True, True)
    finally:
        sys.setrecursionlimit(limit)
