"""Unit and Dimension: construction, conversion of the factor, text forms."""

import math
import uuid

import pytest

from vok_dsl import Dimension, Graph, Unit


# How names parse is tested in units_test.cpp; here the text crosses both ways.
@pytest.mark.parametrize("name, text", [
    ("MASS", "Mass"),
    ("Energy", "energy"),
    ("ÉNERGIE", "Énergie"),  # only ASCII letters are lowered
    ("", ""),
])
def test_dimension_parse(name, text):
    dimension = Dimension.parse(name)
    assert str(dimension) == text
    assert repr(dimension) == f"Dimension('{text}')"
    assert Dimension.parse(name=name).__str__() == text


def test_dimension_class_surface():
    assert Dimension.parse("mass") != Dimension.parse("mass")  # identity comparison
    assert Dimension.parse.__text_signature__ == "(name)"
    assert Dimension.parse.__doc__ is None
    assert Dimension.__doc__ is None
    with pytest.raises(TypeError, match="^No constructor defined for Dimension$"):
        Dimension()
    with pytest.raises(TypeError) as failure:
        Dimension.parse(1)
    assert str(failure.value) == "argument 'name': 'int' object cannot be converted to 'PyString'"


def test_unit_getters_and_repr():
    unit = Unit("kg", "kilogram", "mass", 1.0, "kg")
    assert repr(unit) == "Unit('kg')" and str(unit) == "Unit('kg')"
    assert (unit.symbol, unit.name, unit.base_unit, unit.base_factor) == (
        "kg", "kilogram", "kg", 1.0)
    assert not hasattr(unit, "dimension")
    assert Unit.__text_signature__ == "(symbol, name, dimension, base_factor, base_unit)"
    keywords = Unit(base_unit="kg", base_factor=0.001, dimension="Mass", name="gram", symbol="g")
    assert keywords.base_factor == 0.001
    assert unit != Unit("kg", "kilogram", "mass", 1.0, "kg")
    assert repr(Unit("it's", "n", "d", 1, "b")) == "Unit('it's')"


@pytest.mark.parametrize("factor, read", [
    (0.001, 0.001),
    (0.45359237, 0.45359237),
    (60.0, 60.0),
    (3600, 3600.0),
    (1 / 3, 0.3333333333333333),
    (0, 0.0),
    (-2.5, -2.5),
    (1e-30, 0.0),      # beyond 28 fractional digits the decimal rounds to zero
    (5e-324, 0.0),     # the smallest subnormal
    (2.0**95, 2.0**95),
    (True, 1.0),
])
def test_unit_factor_is_an_exact_decimal(factor, read):
    assert Unit("u", "unit", "custom", factor, "u").base_factor == read


@pytest.mark.parametrize("factor", [math.nan, math.inf, -math.inf, 1e30, -2.0**96])
def test_unit_factor_that_no_decimal_holds(factor):
    with pytest.raises(ValueError) as failure:
        Unit("u", "unit", "custom", factor, "u")
    assert failure.value.args == ("Invalid base_factor",)


@pytest.mark.parametrize("args, message", [
    (("u", "n", "d", "1", "u"), "argument 'base_factor': must be real number, not str"),
    (("u", "n", "d", None, "u"), "argument 'base_factor': must be real number, not NoneType"),
    # Arguments are converted in signature order, and all of them before the factor is checked.
    ((1, "n", "d", "1", "u"), "argument 'symbol': 'int' object cannot be converted to 'PyString'"),
    (("u", "n", "d", math.nan, 5),
     "argument 'base_unit': 'int' object cannot be converted to 'PyString'"),
    (("u", "n", "d", 1.0), "Unit.__new__() missing 1 required positional argument: 'base_unit'"),
])
def test_unit_argument_errors(args, message):
    with pytest.raises(TypeError) as failure:
        Unit(*args)
    assert str(failure.value) == message


def test_making_a_unit_registers_nothing():
    symbol = "zz" + uuid.uuid4().hex[:8]
    Unit(symbol, "zz", "mass", 1000.0, "kg")
    # Had the unit been registered, a declaration of the symbol with another factor would
    # conflict with it.
    Graph.parse(f'Dimension "Zz"\nUnit "{symbol}" of "Zz" factor 5 base "{symbol}"\n')
    with pytest.raises(ValueError, match=f"^Parse error: .*Conflicting unit '{symbol}'"):
        Graph.parse(f'Unit "{symbol}" of "Mass" factor 2 base "kg"\n')


@pytest.mark.parametrize("failing", [
    'Entity "A"\nFlow "R" from "A" to "B"',  # lowering fails after the unit
    "Entity",  # syntax error
    'Unit "{taken}" of "Mass" factor 3 base "kg"',  # the file's other unit conflicts
])
def test_a_failed_parse_registers_none_of_its_units(failing):
    symbol, taken = ("zz" + uuid.uuid4().hex[:8] for _ in range(2))
    Graph.parse(f'Unit "{taken}" of "Mass" factor 2 base "kg"\n')
    with pytest.raises(ValueError):
        Graph.parse(f'Unit "{symbol}" of "Mass" factor 2 base "kg"\n' + failing.format(taken=taken))
    # Registered, the symbol would conflict with this other factor.
    Graph.parse(f'Unit "{symbol}" of "Mass" factor 7 base "kg"\n')
