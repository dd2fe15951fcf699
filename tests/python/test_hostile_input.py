"""Hostile input: every call gives a result or a clear exception, never a crash or a hang."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import vok_dsl

ROOT = Path(__file__).resolve().parents[2]
DEEP = 100_000


def parse_error(call, *args):
    with pytest.raises(ValueError) as info:
        call(*args)
    return str(info.value)


SOURCE_ENTRIES = [
    vok_dsl.Graph.parse,
    vok_dsl.Graph.parse_to_ast_json,
    vok_dsl.format_source,
    vok_dsl.check_format,
]


@pytest.mark.parametrize("entry", SOURCE_ENTRIES, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "source",
    [
        "Policy p as: " + "(" * DEEP + "a" + ")" * DEEP,
        "Policy p as: " + "not " * DEEP + "a",
        "Policy p as: " + "-" * DEEP + "a",
        "Policy p as: " + "a + " * DEEP + "a",
        'Flow "r" @x ' + '{ "k": ' * DEEP + "1" + " }" * DEEP + ' from "a" to "b"',
        "Instance i of \"E\" { x: " + "[" * DEEP + " }",
        "Entity " * DEEP,
    ],
    ids=["parens", "not", "minus", "long-sum", "object-literals", "brackets", "keywords"],
)
def test_deep_or_long_source_gives_a_clear_error_or_a_result(entry, source):
    try:
        entry(source)
    except ValueError as e:
        # Printing a tree thousands of levels deep is refused rather than filling memory.
        assert str(e).startswith(("Parse error: Syntax error at ", "Serialization error: "))


def test_nesting_limit_message_names_the_position():
    message = parse_error(vok_dsl.Graph.parse, "Policy p as: " + "(" * DEEP + "a" + ")" * DEEP)
    assert message.startswith("Parse error: Syntax error at 1:")
    assert "nesting too deep" in message


def test_deep_policy_json_is_refused_with_the_recursion_limit():
    graph = vok_dsl.Graph()
    expression = '{"Unary":{"op":"Not","operand":' * DEEP + '{"Variable":"x"}' + "}}" * DEEP
    policy = (
        '{"id":"07342664-9f2f-5afc-8222-ce5de9c154bf","name":"p","namespace":"n",'
        '"version":[1,0,0],"expression":' + expression + ',"modality":"Obligation",'
        '"kind":"Constraint","priority":0,"tags":[]}'
    )
    message = parse_error(graph.add_policy, policy)
    assert message.startswith("Invalid Policy JSON: recursion limit exceeded at line 1 column ")


def test_deeply_nested_python_values_raise_instead_of_crashing():
    value = []
    for _ in range(DEEP):
        value = [value]
    entity = vok_dsl.Entity("Deep")
    with pytest.raises(RecursionError):
        entity.set_attribute("v", value)
    cyclic = []
    cyclic.append(cyclic)
    with pytest.raises(RecursionError):
        entity.set_attribute("v", cyclic)
    with pytest.raises(KeyError):
        entity.get_attribute("v")


def test_lone_surrogates_are_refused_by_the_str_conversion():
    for call in (vok_dsl.Graph.parse, vok_dsl.format_source, vok_dsl.Entity):
        with pytest.raises(UnicodeEncodeError):
            call("Entity \"\ud800\"")


def test_nul_bytes():
    message = parse_error(vok_dsl.Graph.parse, 'Entity "a\x00b"')
    assert message.startswith("Parse error: Grammar error: Invalid string literal escape sequences")
    assert vok_dsl.Entity("a\x00b").name == "a\x00b"
    with pytest.raises(RuntimeError):
        vok_dsl.NamespaceRegistry.from_file("a\x00b")
    # A NUL between declarations is no token of the language.
    assert parse_error(vok_dsl.Graph.parse, 'Entity "a"\x00').startswith("Parse error: Syntax error")


def test_very_long_identifiers_and_names():
    name = "n" * 1_000_000
    graph = vok_dsl.Graph.parse(f'Entity "{name}"\nPolicy {name} as: {name} = 1')
    assert graph.entity_count() == 1
    assert graph.all_entities()[0].name == name


@pytest.mark.parametrize(
    "source, message",
    [
        ('Flow "r" from "a" to "b" quantity ' + "9" * 40, "Parse error: Invalid quantity: Invalid decimal: "),
        ("Policy p per Constraint Obligation priority 99999999999 as: true",
         "Parse error: Invalid quantity: Invalid number: 99999999999"),
        ("Policy p as: x > " + "9" * 40, "Parse error: Invalid quantity: Invalid decimal: "),
        ('Metric "m" as: 1 @window 99999999999999999999 "d"', "Parse error: Grammar error: Invalid integer: "),
        ('Metric "m" as: 1 @window 9223372036854775807 "d"', "Parse error: Grammar error: Duration overflow"),
    ],
)
def test_huge_numbers(source, message):
    assert parse_error(vok_dsl.Graph.parse, source).startswith(message)


def test_huge_numbers_in_python_values():
    entity = vok_dsl.Entity("Numbers")
    entity.set_attribute("max", 2**64 - 1)
    assert entity.get_attribute("max") == 2**64 - 1
    entity.set_attribute("min", -(2**63))
    assert entity.get_attribute("min") == -(2**63)
    try:
        entity.set_attribute("big", 2**200)
    except (ValueError, TypeError, OverflowError):
        pass
    with pytest.raises(ValueError):
        vok_dsl.Flow(
            "07342664-9f2f-5afc-8222-ce5de9c154bf",
            "07342664-9f2f-5afc-8222-ce5de9c154bf",
            "07342664-9f2f-5afc-8222-ce5de9c154bf",
            1e300,
        )


def test_huge_indent_width_is_refused_cleanly():
    with pytest.raises((MemoryError, ValueError, OverflowError)):
        vok_dsl.format_source('Relation "r" subject: "a" predicate: "p" object: "b"', indent_width=2**62)


def test_fifty_megabyte_source(tmp_path):
    generated = tmp_path / "big.vok"
    blocks = 1
    # The generator writes about 3 MB per 1000 blocks.
    subprocess.run(
        [sys.executable, str(ROOT / "bench" / "generate_model.py"), str(generated), "16500"],
        check=True,
    )
    source = generated.read_text(encoding="utf-8")
    assert len(source.encode()) >= 50_000_000
    graph = vok_dsl.Graph.parse(source)
    assert graph.entity_count() > 0
    # The same size of text that is no source at all fails fast.
    message = parse_error(vok_dsl.Graph.parse, "@" * len(source))
    assert message.startswith("Parse error: Syntax error at 1:")
    del blocks


def test_deep_calm_documents_and_expressions_are_refused():
    message = parse_error(vok_dsl.Graph.import_calm, "[" * DEEP + "]" * DEEP)
    assert message.startswith("Invalid JSON: recursion limit exceeded at line 1 column ")
    node = {"unique-id": "p", "node-type": "constraint", "name": "p",
            "metadata": {"vok:expression": "(" * DEEP + "a" + ")" * DEEP}}
    document = {"metadata": {"vok:exported": True, "vok:version": "x"}, "nodes": [node],
                "relationships": []}
    message = parse_error(vok_dsl.Graph.import_calm, json.dumps(document))
    assert message.startswith("Import error: Failed to parse policy expression: Grammar error: "
                              "Parse error: Syntax error at 1:")
    assert "nesting too deep" in message
