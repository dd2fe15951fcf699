"""The binding layer through the test-only hook module: argument binding and conversion, the
argument-error rule, results, borrow conflicts and the panic exception."""

import inspect
import sys
import traceback

import pytest

import _vok_testhooks as hooks
from _vok_testhooks import Cell, Colour, Pair

UUID = "67e55044-10b1-426f-9247-bb680e5fe0c8"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: hooks.bind3(), "bind3() missing 2 required positional arguments: 'a' and 'b'"),
        (lambda: hooks.bind3(1), "bind3() missing 1 required positional argument: 'b'"),
        (lambda: hooks.bind3(c=1), "bind3() missing 2 required positional arguments: 'a' and 'b'"),
        (lambda: hooks.bind3(1, 2, 3, 4),
         "bind3() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: hooks.bind2(1, 2, 3),
         "bind2() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: hooks.bind1(1, 2), "bind1() takes 1 positional arguments but 2 were given"),
        (lambda: hooks.bind3(1, 2, a=3), "bind3() got multiple values for argument 'a'"),
        (lambda: hooks.bind3(1, 2, z=3), "bind3() got an unexpected keyword argument 'z'"),
        # Too many positional arguments are reported before keyword problems, and those before
        # missing arguments.
        (lambda: hooks.bind1(1, 2, z=3), "bind1() takes 1 positional arguments but 2 were given"),
        (lambda: hooks.bind3(z=3), "bind3() got an unexpected keyword argument 'z'"),
        # Constructors bind a tuple and a dictionary with the same rules.
        (lambda: Cell(1), "Cell.__new__() takes 0 positional arguments but 1 was given"),
        (lambda: Cell(x=1), "Cell.__new__() got an unexpected keyword argument 'x'"),
        (lambda: Pair(), "Pair.__new__() missing 1 required positional argument: 'first'"),
        (lambda: Pair("a", first="b"), "Pair.__new__() got multiple values for argument 'first'"),
        (lambda: Pair("a", "b", "c"),
         "Pair.__new__() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: Cell.make(), "Cell.make() missing 1 required positional argument: 'value'"),
        (lambda: Cell().store(), "Cell.store() missing 1 required positional argument: 'value'"),
        (lambda: Cell().store(1, 2), "Cell.store() takes 1 positional arguments but 2 were given"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as failure:
        call()
    assert str(failure.value) == message


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({}, "bind_required() missing 3 required positional arguments: 'a', 'b', and 'c'"),
        ({"b": 1}, "bind_required() missing 2 required positional arguments: 'a' and 'c'"),
        ({"a": 1, "b": 2}, "bind_required() missing 1 required positional argument: 'c'"),
    ],
)
def test_missing_names_are_listed_in_parameter_order(kwargs, message):
    with pytest.raises(TypeError) as failure:
        hooks.bind_required(**kwargs)
    assert str(failure.value) == message
    assert hooks.bind_required(1, 2, 3) == (1, 2, 3)


def test_arguments_bind_by_position_or_keyword():
    assert hooks.bind3(1, 2) == (1, 2, "<absent>")
    assert hooks.bind3(c=3, b=2, a=1) == (1, 2, 3)
    assert hooks.bind3(1, c=None, b=2) == (1, 2, None)
    assert Pair("x").second is None
    assert Pair(second="y", first="x").second == "y"
    assert Cell.make(label="l", value=3).label == "l"


def test_no_argument_methods_refuse_arguments_through_cpython():
    with pytest.raises(TypeError):
        Cell().get(1)


def test_docstrings_carry_text_signatures():
    assert Cell.__text_signature__ == "()"
    assert Cell.__doc__ == "A mutable test value"
    assert Pair.__text_signature__ == "(first, second=None)"
    assert Pair.__doc__ == ""
    assert Cell.get.__text_signature__ == "($self)"
    assert Cell.get.__doc__ == "Read the value."
    assert Cell.store.__text_signature__ == "($self, value)"
    assert Cell.store.__doc__ is None
    assert Cell.make.__text_signature__ == "(value, label=None)"
    assert Cell.value.__doc__ == "The stored value"
    assert Cell.label.__doc__ is None
    assert hooks.bind3.__text_signature__ == "(a, b, c=None)"
    assert hooks.bind3.__module__ == "_vok_testhooks"
    assert hooks.raise_cpp.__doc__ == "Throw a C++ exception of the given kind inside a call."
    assert str(inspect.signature(hooks.count_arg)) == "(value=4)"
    assert str(inspect.signature(Pair)) == "(first, second=None)"


class Text(str):
    pass


@pytest.mark.parametrize("convert", [hooks.text_arg, hooks.owned_text_arg])
def test_text_arguments(convert):
    assert convert("héllo ✓") == "héllo ✓"
    assert convert(Text("sub")) == "sub"
    assert convert("") == ""
    for value, type_name in [(1, "int"), (None, "NoneType"), (b"x", "bytes"), (Cell(), "Cell")]:
        with pytest.raises(TypeError) as failure:
            convert(value)
        assert str(failure.value) == (
            f"argument 'value': '{type_name}' object cannot be converted to 'PyString'")
    # Text that UTF-8 cannot encode fails with CPython's own error, unprefixed.
    with pytest.raises(UnicodeEncodeError):
        convert("\ud800")


@pytest.mark.parametrize("convert", [hooks.text_arg, hooks.owned_text_arg])
@pytest.mark.parametrize("unit", ["é", "Ελληνικά € ", "ab😀"])
def test_long_text_arguments_that_are_not_ascii_leave_no_utf8_copy_behind(convert, unit):
    # From 2**20 characters on, such a text is encoded in pieces into the call's own room:
    # the call reads the same text, and the caller's str keeps no UTF-8 copy of itself. A lone
    # surrogate is refused with CPython's own error.
    for value in [(unit * (1 << 20))[:(1 << 20) + 3], Text(unit * (1 << 20))]:
        size = sys.getsizeof(value)
        assert convert(value) == value
        assert sys.getsizeof(value) == size
        broken = value[:-2] + "\ud800" + value[-2:]
        with pytest.raises(UnicodeEncodeError) as expected:
            broken.encode()
        with pytest.raises(UnicodeEncodeError) as refused:
            convert(broken)
        assert str(refused.value) == str(expected.value)


def test_optional_text_arguments():
    assert hooks.optional_text_arg() is None
    assert hooks.optional_text_arg(None) is None
    assert hooks.optional_text_arg("x") == "x"
    with pytest.raises(TypeError, match="^argument 'value': 'int' object cannot be converted"):
        hooks.optional_text_arg(3)


def numpy_bool_type(name="bool_", with_bool=True):
    """A stand-in for numpy's boolean scalar type, recognised by its module and name."""
    namespace = {"__module__": "numpy"}
    if with_bool:
        namespace["__init__"] = lambda self, value: setattr(self, "value", value)
        namespace["__bool__"] = lambda self: self.value
    return type(name, (), namespace)


def test_flag_arguments():
    assert hooks.flag_arg(True) is True
    assert hooks.flag_arg(False) is False
    assert hooks.flag_arg(numpy_bool_type()(True)) is True
    assert hooks.flag_arg(numpy_bool_type("bool")(False)) is False
    for value, type_name in [(1, "int"), (0, "int"), (None, "NoneType"), ("True", "str")]:
        with pytest.raises(TypeError) as failure:
            hooks.flag_arg(value)
        assert str(failure.value) == (
            f"argument 'value': '{type_name}' object cannot be converted to 'PyBool'")
    # A look-alike outside numpy is no flag.
    outsider = type("bool_", (), {"__bool__": lambda self: True})
    with pytest.raises(TypeError, match="'bool_' object cannot be converted to 'PyBool'"):
        hooks.flag_arg(outsider())
    without = numpy_bool_type(with_bool=False)
    with pytest.raises(TypeError) as failure:
        hooks.flag_arg(without())
    assert str(failure.value) == (
        f"argument 'value': object of type '{without}' does not define a '__bool__' conversion")


def test_flags_with_defaults_and_optional_flags():
    assert hooks.flag_or_arg() is True
    assert hooks.flag_or_arg(False) is False
    with pytest.raises(TypeError, match="^argument 'value': 'NoneType' object"):
        hooks.flag_or_arg(None)
    assert hooks.optional_flag_arg(None) is None
    assert hooks.optional_flag_arg(False) is False
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'value'"):
        hooks.optional_flag_arg()


class Floatable:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_number_arguments():
    assert hooks.number_arg(1.5) == 1.5
    assert hooks.number_arg(2) == 2.0
    assert hooks.number_arg(True) == 1.0
    assert hooks.number_arg(Floatable(2.5)) == 2.5
    assert hooks.number_arg(Indexable(7)) == 7.0
    with pytest.raises(TypeError) as failure:
        hooks.number_arg("1.5")
    assert str(failure.value) == "argument 'value': must be real number, not str"
    with pytest.raises(OverflowError):
        hooks.number_arg(10**400)


def test_count_arguments():
    assert hooks.count_arg() == 4
    assert hooks.count_arg(0) == 0
    assert hooks.count_arg(2**64 - 1) == 2**64 - 1
    assert hooks.count_arg(Indexable(9)) == 9
    assert hooks.count_arg(True) == 1
    for value in (-1, 2**64):
        with pytest.raises(OverflowError):
            hooks.count_arg(value)
    with pytest.raises(TypeError) as failure:
        hooks.count_arg(1.5)
    assert str(failure.value) == (
        "argument 'value': 'float' object cannot be interpreted as an integer")
    with pytest.raises(TypeError, match="^argument 'value': 'NoneType' object cannot be"):
        hooks.count_arg(None)


class TypeErrorSubclass(TypeError):
    pass


def test_only_type_error_itself_gets_the_argument_prefix():
    def raising(error):
        class Raising:
            def __float__(self):
                raise error

        return Raising()

    with pytest.raises(TypeErrorSubclass) as failure:
        hooks.number_arg(raising(TypeErrorSubclass("own text")))
    assert str(failure.value) == "own text"

    with pytest.raises(ValueError, match="^own text$"):
        hooks.number_arg(raising(ValueError("own text")))

    # A TypeError is replaced by one naming the parameter, raised as if while handling the first
    # error (its context, with its traceback) and with the first error's cause as its own.
    cause = KeyError("the cause")
    first = TypeError("bad float")
    first.__cause__ = cause
    with pytest.raises(TypeError) as failure:
        hooks.number_arg(raising(first))
    assert type(failure.value) is TypeError
    assert str(failure.value) == "argument 'value': bad float"
    assert failure.value.__cause__ is cause and failure.value.__context__ is first
    assert traceback.extract_tb(first.__traceback__)[-1].name == "__float__"
    rendered = "".join(traceback.format_exception(failure.value))
    assert "The above exception was the direct cause" in rendered and "'the cause'" in rendered

    # Without a cause, the traceback shows the first error as the one being handled.
    first = TypeError("bad float")
    with pytest.raises(TypeError) as failure:
        hooks.number_arg(raising(first))
    assert failure.value.__cause__ is None and failure.value.__context__ is first
    assert not failure.value.__suppress_context__
    rendered = "".join(traceback.format_exception(failure.value))
    assert "During handling of the above exception" in rendered
    assert "TypeError: bad float" in rendered

    # The argument's own refusal, made by this module, has no cause.
    with pytest.raises(TypeError) as failure:
        hooks.text_arg(1)
    assert failure.value.__cause__ is None


def test_object_arguments_are_checked_by_class():
    with pytest.raises(TypeError) as failure:
        Cell().absorb("x")
    assert str(failure.value) == "argument 'other': 'str' object cannot be converted to 'Cell'"
    with pytest.raises(TypeError, match="'Pair' object cannot be converted to 'Cell'"):
        Cell().absorb(Pair("x"))
    target, source = Cell(), Cell.make(5)
    target.absorb(source)
    target.absorb(other=source)
    assert target.value == 10 and source.value == 5


def test_enumeration_arguments_and_results():
    assert hooks.colour_index(Colour.Blue) == 2
    assert hooks.colour_index(hooks.make_colour(1)) == 1
    with pytest.raises(TypeError) as failure:
        hooks.colour_index(2)
    assert str(failure.value) == "argument 'colour': 'int' object cannot be converted to 'Colour'"
    made = hooks.make_colour(1)
    assert made == Colour.Green and made is not Colour.Green
    assert hooks.make_colour(1) is not made
    assert repr(made) == "Colour.Green" and type(made) is Colour


@pytest.mark.parametrize(
    "text",
    [
        UUID,
        UUID.upper(),
        UUID.replace("-", ""),
        UUID.replace("-", "").upper(),
        "{" + UUID + "}",
        "urn:uuid:" + UUID,
    ],
)
def test_uuid_forms(text):
    assert hooks.uuid_arg(text) == UUID


@pytest.mark.parametrize(
    "text, description",
    [
        ("1234", "invalid length: expected length 32 for simple format, found 4"),
        ("", "invalid length: expected length 32 for simple format, found 0"),
        ("67e55044-10b1-426f-9247", "invalid group count: expected 5, found 4"),
        (UUID[:-1], "invalid group length in group 4: expected 12, found 11"),
        ("xyz", "invalid character: expected an optional prefix of "),
    ],
)
def test_uuid_errors(text, description):
    with pytest.raises(ValueError) as failure:
        hooks.uuid_arg(text)
    assert str(failure.value).startswith("Invalid UUID: " + description)
    with pytest.raises(ValueError) as failure:
        hooks.from_id_arg(text)
    assert str(failure.value).startswith("Invalid from_id UUID: " + description)


def test_uuid_arguments_are_converted_before_any_is_parsed():
    with pytest.raises(TypeError, match="^argument 'owned': 'int' object"):
        hooks.two_uuids("not a uuid", 5)
    with pytest.raises(ValueError, match="^Invalid UUID: "):
        hooks.two_uuids(UUID, "not a uuid")
    assert hooks.two_uuids(UUID.upper(), UUID) == (UUID, UUID)
    with pytest.raises(TypeError, match="^argument 'id': 'int' object cannot be converted "
                                        "to 'PyString'$"):
        hooks.uuid_arg(1234)


def test_results():
    cells = hooks.cells(3)
    assert type(cells) is list and [cell.value for cell in cells] == [0, 1, 2]
    assert [cell.label for cell in cells] == ["cell 0", "cell 1", "cell 2"]
    assert hooks.cells(0) == []
    assert hooks.labels(2) == ["label 0", "label 1"]
    assert hooks.pair_texts("a", "b") == ("a", "b")
    assert Pair("x").second is None
    # Every call returns new objects.
    assert hooks.cells(1)[0] is not hooks.cells(1)[0]
    assert hooks.labels(1) is not hooks.labels(1)


def test_objects_compare_and_hash_by_identity_without_their_own_slots():
    first, second = Cell(), Cell()
    assert first != second and first == first
    assert len({first, second}) == 2
    assert repr(Cell.make(3)) == "Cell(value=3)" == str(Cell.make(3))


def test_classes_cannot_be_subclassed():
    for cls in (Cell, Pair, Colour):
        assert cls.__module__ == "builtins"
        with pytest.raises(TypeError):
            type("Derived", (cls,), {})


def test_wrong_receiver():
    # The frame's own check: the downcast text, without an argument prefix.
    with pytest.raises(TypeError) as failure:
        hooks.call_cell_get(Pair("x"))
    assert str(failure.value) == "'Pair' object cannot be converted to 'Cell'"
    assert hooks.call_cell_get(Cell.make(4)) == 4
    # A method taken from the class is checked by CPython's descriptor before the frame runs.
    with pytest.raises(TypeError):
        Cell.get(Pair("x"))


class Reentrant:
    """An argument whose conversion runs Python code that uses the object being called."""

    def __init__(self, action, value=1):
        self.action = action
        self.value = value
        self.seen = None

    def run(self):
        try:
            self.action()
        except RuntimeError as error:
            self.seen = str(error)

    def __index__(self):
        self.run()
        return self.value

    def __float__(self):
        self.run()
        return float(self.value)


def test_exclusive_borrow_is_taken_before_arguments_are_converted():
    cell = Cell.make(1)
    for read in (cell.get, lambda: cell.value, lambda: repr(cell), lambda: Cell().absorb(cell)):
        argument = Reentrant(read, value=7)
        cell.store(argument)
        assert argument.seen == "Already mutably borrowed"
        assert cell.value == 7
    argument = Reentrant(lambda: cell.store(3), value=8)
    cell.store(argument)
    assert argument.seen == "Already borrowed"
    assert cell.value == 8


def test_shared_borrows_overlap_but_exclude_changes():
    cell = Cell.make(1)
    read = Reentrant(cell.get)
    assert cell.probe(read) == 2.0 and read.seen is None
    change = Reentrant(lambda: cell.store(5))
    cell.probe(change)
    assert change.seen == "Already borrowed"
    assert cell.value == 1


def test_an_object_argument_equal_to_an_exclusively_borrowed_receiver():
    cell = Cell.make(2)
    with pytest.raises(RuntimeError) as failure:
        cell.absorb(cell)
    assert str(failure.value) == "Already mutably borrowed"  # no argument prefix
    assert cell.value == 2


def test_borrows_are_released_on_every_path():
    cell = Cell.make(1)

    class Failing:
        def __index__(self):
            raise ValueError("no")

    with pytest.raises(ValueError):
        cell.store(Failing())
    with pytest.raises(OverflowError):
        cell.store(-1)
    with pytest.raises(TypeError):
        cell.store("x")
    cell.store(6)
    assert cell.get() == 6


def test_panic_exception():
    with pytest.raises(BaseException) as failure:
        try:
            hooks.raise_cpp("invariant", "graph index out of step")
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught by `except Exception`")
    panic = type(failure.value)
    assert panic.__name__ == "PanicException"
    assert panic.__qualname__ == "PanicException" and panic.__module__ == "vok_dsl"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert "internal check" in panic.__doc__ and "BaseException" in panic.__doc__
    assert failure.value.args == ("graph index out of step",)
    import vok_dsl

    assert not hasattr(vok_dsl, "PanicException")

    # The class is made once; failures without text get a fixed text.
    with pytest.raises(panic) as failure:
        hooks.raise_cpp("invariant")
    assert str(failure.value) == "internal check failed without a message"
    with pytest.raises(panic, match="^runtime failure$"):
        hooks.raise_cpp("runtime_error", "runtime failure")
    with pytest.raises(panic, match="^internal check failed without a message$"):
        hooks.raise_cpp("int")
    # A wrapper that misreads its arguments is an internal failure too.
    with pytest.raises(panic, match="optional argument"):
        hooks.read_optional_as_required()


def test_failure_without_an_exception_is_system_error():
    with pytest.raises(SystemError) as failure:
        hooks.fetch_without_exception()
    assert str(failure.value) == "attempted to fetch exception but none was set"


def test_out_of_memory_in_the_core_is_memory_error():
    with pytest.raises(MemoryError):
        hooks.raise_cpp("bad_alloc")
    assert hooks.raise_cpp("none") is None
