"""format_source and check_format: the canonical layout, the Python surface, and the laws every
formatted text obeys (it reads back to the same syntax tree, formatting is idempotent, and the
result passes check_format), over generated sources of every declaration kind and the shipped
models."""

import inspect
import json
import os
import pathlib
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import _vok_testhooks as hooks

# Sanitizer runs are many times slower; they check the same laws on fewer examples.
EXAMPLE_SCALE = float(os.environ.get("VOK_TEST_EXAMPLE_SCALE", "1"))
import vok_dsl
from vok_dsl import check_format, format_source

ROOT = pathlib.Path(os.environ.get("VOK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


def tree_document(source):
    """The syntax-tree JSON without positions and imports, which formatting may change."""
    def strip(value):
        if isinstance(value, dict):
            return {k: strip(v) for k, v in value.items()
                    if k not in ("line", "column", "imports")}
        if isinstance(value, list):
            return [strip(v) for v in value]
        return value
    return strip(json.loads(vok_dsl.Graph.parse_to_ast_json(source)))


def assert_laws(source, indent_width=4, use_tabs=False, preserve_comments=True,
                sort_imports=True):
    options = dict(indent_width=indent_width, use_tabs=use_tabs,
                   preserve_comments=preserve_comments, sort_imports=sort_imports)
    once = format_source(source, **options)
    # The structural comparison sees every field; the syntax-tree JSON is a second opinion.
    difference = hooks.ast_difference(source, once, ignore_import_order=sort_imports)
    assert difference is None, f"{difference}\n--- source\n{source}\n--- formatted\n{once}"
    if hasattr(vok_dsl.Graph, "parse_to_ast_json"):
        assert tree_document(once) == tree_document(source)
    assert format_source(once, **options) == once
    if preserve_comments and sort_imports:
        assert check_format(once, indent_width=indent_width, use_tabs=use_tabs)
    return once


# --- layout -------------------------------------------------------------------------------------

POLICY = 'Policy p as: a = "x"'


# The layout itself is tested in tests/cpp/formatter (layout_test.cpp, the golden files); here each
# option is shown to reach it under its keyword.
@pytest.mark.parametrize("options, expected", [
    ({}, '// head\n\nimport { y } from "a"\nimport { x } from "b"\n\nPolicy p\n    as: (a = "x")\n'),
    ({"preserve_comments": False},
     'import { y } from "a"\nimport { x } from "b"\n\nPolicy p\n    as: (a = "x")\n'),
    ({"sort_imports": False},
     '// head\n\nimport { x } from "b"\nimport { y } from "a"\n\nPolicy p\n    as: (a = "x")\n'),
    ({"indent_width": 0}, '// head\n\nimport { y } from "a"\nimport { x } from "b"\n\nPolicy p\nas: (a = "x")\n'),
    ({"use_tabs": True, "indent_width": 9},
     '// head\n\nimport { y } from "a"\nimport { x } from "b"\n\nPolicy p\n\tas: (a = "x")\n'),
])
def test_options_reach_the_formatter(options, expected):
    source = '// head\nimport {x} from "b"\nimport {y} from "a"\n' + POLICY
    assert format_source(source, **options) == expected
    assert_laws(source, **options)


def test_check_format_takes_its_options_positionally_or_by_keyword():
    assert check_format('Entity "Customer"\n') is True
    assert check_format('Entity   "Customer"\n') is False
    assert check_format("Policy p\n  as: true\n", 2) is True
    assert check_format("Policy p\n\tas: true\n", use_tabs=True) is True
    assert check_format("Policy p\n    as: true\n", indent_width=4, use_tabs=False) is True


# --- the Python surface -------------------------------------------------------------------------

def test_signatures_and_docstrings():
    assert str(inspect.signature(format_source)) == (
        "(source, indent_width=4, use_tabs=False, preserve_comments=True, sort_imports=True)")
    assert str(inspect.signature(check_format)) == "(source, indent_width=4, use_tabs=False)"
    format_doc = format_source.__doc__
    assert format_doc.startswith("Format VOK-DSL source code.\n\nArgs:\n")
    for line in ("    source: The VOK-DSL source code to format",
                 "    indent_width: Number of spaces per indent level (default: 4)",
                 "    use_tabs: Use tabs instead of spaces for indentation (default: false)",
                 "    preserve_comments: Preserve comments in output (default: true)",
                 "    sort_imports: Sort imports alphabetically (default: true)",
                 "    The formatted source code",
                 "    ValueError: If the source code cannot be parsed",
                 "    >>> from vok_dsl import format_source"):
        assert line in format_doc.splitlines()
    check_doc = check_format.__doc__
    assert check_doc.startswith("Check if VOK-DSL source code is already formatted.\n")
    for line in ("    source: The VOK-DSL source code to check",
                 "    True if the source is already formatted, False otherwise",
                 "    ValueError: If the source code cannot be parsed"):
        assert line in check_doc.splitlines()


def test_docstring_examples_hold():
    assert format_source('Entity   "Customer"   in   sales') == 'Entity "Customer" in sales\n'
    assert check_format('Entity "Customer"\n') is True
    assert check_format('Entity   "Customer"\n') is False



@pytest.mark.parametrize("source", [
    '// model\n@namespace "a"\n// about A\nEntity "A"\n',
    '@namespace "a"\n\nEntity "A"\n\n// about B\nEntity "B"\n',
    '@namespace "a"\n\nEntity "A" // the first\n',
])
def test_only_the_top_comment_block_is_kept(source):
    formatted = format_source(source)
    assert formatted.count("//") == source.startswith("//")
    assert check_format(formatted) is True and check_format(source) is False

@pytest.mark.parametrize("function", [format_source, check_format])
def test_parse_failure_is_a_value_error(function):
    with pytest.raises(ValueError) as caught:
        function("Entity")
    assert str(caught.value).startswith("Parse error: Syntax error at 1:7: ")


@pytest.mark.parametrize("function", [format_source, check_format])
@pytest.mark.parametrize("kwargs, error, text", [
    ({"indent_width": None}, TypeError, "argument 'indent_width': "),
    ({"indent_width": 1.5}, TypeError, "argument 'indent_width': "),
    ({"indent_width": -1}, OverflowError, ""),
    ({"indent_width": 2 ** 64}, OverflowError, ""),
    ({"use_tabs": None}, TypeError, "argument 'use_tabs': "),
    ({"use_tabs": 1}, TypeError, "argument 'use_tabs': "),
])
def test_argument_errors(function, kwargs, error, text):
    with pytest.raises(error) as caught:
        function("Entity \"E\"", **kwargs)
    assert str(caught.value).startswith(text)


@pytest.mark.parametrize("kwargs, text", [
    ({"source": None}, "argument 'source': "),
    ({"source": b"Entity"}, "argument 'source': "),
    ({"source": "", "preserve_comments": 0}, "argument 'preserve_comments': "),
    ({"source": "", "sort_imports": "yes"}, "argument 'sort_imports': "),
])
def test_format_source_argument_types(kwargs, text):
    with pytest.raises(TypeError) as caught:
        format_source(**kwargs)
    assert str(caught.value).startswith(text)


@pytest.mark.parametrize("width", [2 ** 31, 2 ** 62, 2 ** 64 - 1])
def test_huge_indent_width_is_a_memory_error_not_a_crash(width):
    with pytest.raises(MemoryError) as caught:
        format_source(POLICY, indent_width=width)
    assert "Formatted source too large" in str(caught.value)
    # A layout that large cannot be the text given.
    assert check_format(POLICY, indent_width=width) is False
    # Nothing indented, nothing to pay.
    assert format_source('Entity "E"', indent_width=width) == 'Entity "E"\n'


def test_large_sane_indent_width_is_honoured():
    assert format_source(POLICY, indent_width=50000) == (
        "Policy p\n" + " " * 50000 + 'as: (a = "x")\n')


# --- laws over the shipped models ---------------------------------------------------------------

@pytest.mark.parametrize("path", sorted((ROOT / "examples").glob("*.vok")), ids=lambda p: p.name)
def test_shipped_examples_read_back(path):
    source = path.read_text(encoding="utf-8")
    assert_laws(source)
    assert_laws(source, indent_width=2, use_tabs=True, preserve_comments=False,
                sort_imports=False)


def test_generated_benchmark_model_reads_back(tmp_path):
    output = tmp_path / "model.vok"
    subprocess.run([sys.executable, str(ROOT / "bench/generate_model.py"), str(output), "4"],
                   check=True)
    source = output.read_text(encoding="utf-8")
    formatted = assert_laws(source)
    assert formatted.startswith("// Generated benchmark model: do not edit.\n\n@namespace")
    assert_laws(source, indent_width=0, sort_imports=False)


# --- laws over generated sources ----------------------------------------------------------------

def odd_case(word):
    """The word with its letters in a mix of cases (keywords are case-insensitive)."""
    return st.lists(st.booleans(), min_size=len(word), max_size=len(word)).map(
        lambda flips: "".join(c.upper() if f else c.lower() for c, f in zip(word, flips)))


def keyword(word):
    return st.one_of(st.just(word), odd_case(word))


def literal_text(text):
    """A Python string as a source string literal, with the grammar's five escapes."""
    escaped = (text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
               .replace("\r", "\\r").replace("\t", "\\t"))
    return f'"{escaped}"'


# Identifiers from a small alphabet, unicode letters and numbers included, and words that the
# grammar also uses as keywords (some of which the parser reads as keywords at the start).
identifiers = st.one_of(
    st.builds(lambda first, rest: first + rest,
              st.sampled_from(list("abxyzQ_\u00e9\u03a9\u540d\u0130")),
              st.text(alphabet="ab_19\u00b2\u2167xZ\u00e9", max_size=4)),
    st.sampled_from(["notice", "NOTE", "nothing", "orbit", "andes", "in", "as", "v", "per",
                     "entity", "Unit", "flowsX", "counter", "intervals", "sums", "forallx",
                     "from", "where", "over", "last", "matches_x", "truey"]),
)

plain_strings = st.text(alphabet='ab "\\\t\n\r\u20ac\U0001f600T:-019Z{}/', max_size=8)
strings = st.one_of(plain_strings,
                    st.sampled_from(["2024-01-15T10:30:00Z", "2024-01-15T10:30:00+02:00",
                                     "2024-01-15", " v1.2.3", "a v1.0.0 v2"]))
string_literals = strings.map(literal_text)
# Triple-quoted strings take their content verbatim; it may not hold three quotes in a row or
# end with a quote.
multiline_literals = st.text(alphabet='ab "\\\t\n\u20acT:-01Z', max_size=8).filter(
    lambda t: '"""' not in t and not t.endswith('"')).map(lambda t: f'"""{t}"""')
names = st.one_of(string_literals, multiline_literals)

digit_runs = st.text(alphabet="0123456789", min_size=1, max_size=14)
numbers = st.one_of(
    st.integers(0, 10 ** 6).map(str),
    st.builds(lambda a, b: f"{a}.{b}", digit_runs, digit_runs),
    st.sampled_from(["007", "0.0000001", "123456789012345678901234567", "100000000000000000000",
                     "0.1234567890123456789012345678", "1845.756359184300201670079150"]),
)
signed_numbers = st.builds(lambda sign, n: sign + n, st.sampled_from(["", "-"]), numbers)
versions = st.builds(lambda a, b, c: f"{a}.{b}.{c}", st.integers(0, 12), st.integers(0, 12),
                     st.integers(0, 12))
booleans = st.sampled_from(["true", "false", "TRUE", "False"])
collections = st.one_of(*[keyword(w) for w in ("flows", "entities", "resources", "instances",
                                               "relations")])


def optional(strategy, prefix=""):
    return st.one_of(st.just(""), strategy.map(lambda s: prefix + s))


def primaries():
    member = st.builds(lambda a, b: f"{a}.{b}", identifiers, identifiers)
    return st.one_of(
        identifiers, member, numbers, string_literals, multiline_literals, booleans,
        st.sampled_from(['"2024-01-15T10:30:00Z"', '"2024-01-15T10:30:00-05:00"']),
        st.builds(lambda n, u: f"{n} {u}", numbers, string_literals),
        st.builds(lambda a, b: f"interval({a}, {b})", string_literals, string_literals),
        st.builds(lambda f, c, field: f"{f}({c}{field})", st.sampled_from(
            ["count", "SUM", "min", "Max", "avg"]), st.one_of(collections, identifiers),
            optional(identifiers, ".")),
    )


comparison_words = st.sampled_from(["=", "!=", ">", "<", ">=", "<=", "contains", "STARTSWITH",
                                    "endsWith", "matches", "has_role", "before", "After",
                                    "during"])
arithmetic_words = st.sampled_from(["+", "-", "*", "/"])
logic_words = st.sampled_from(["and", "or", "AND", "Or"])


def extend(inner):
    where = optional(inner, " where ")
    window = optional(st.builds(lambda n, u: f" over last {n} {u}", st.integers(0, 400),
                                string_literals))
    return st.one_of(
        st.builds(lambda a, op, b: f"({a} {op} {b})", inner, comparison_words, inner),
        st.builds(lambda a, op, b: f"{a} {op} {b}", inner, arithmetic_words, inner),
        st.builds(lambda a, op, b: f"({a} {op} {b})", inner, logic_words, inner),
        st.builds(lambda items, op: "(" + f" {op} ".join(items) + ")",
                  st.lists(inner, min_size=2, max_size=5), st.one_of(logic_words,
                                                                     arithmetic_words)),
        inner.map(lambda e: f"not {e}"),
        inner.map(lambda e: f"not ({e})"),
        inner.map(lambda e: f"-{e}"),
        inner.map(lambda e: f"- ({e})"),
        st.builds(lambda e, t: f"({e}) as {t}", inner, string_literals),
        st.builds(lambda e, t: f"{e} as {t}", primaries(), string_literals),
        st.builds(lambda q, v, c, e: f"{q} {v} in {c}: ({e})", st.one_of(
            keyword("forall"), keyword("exists"), keyword("exists_unique")), identifiers,
            collections, inner),
        st.builds(lambda f, v, c, w, p, e: f"{f}({v} in {c}{w}{p}: {e})",
                  st.sampled_from(["sum", "COUNT", "min", "max", "Avg"]), identifiers,
                  collections, window, where, inner),
        st.builds(lambda v, c, p, k, e: f"group_by({v} in {c}{p}: {k}) {{ {e} }}",
                  identifiers, collections, where, inner, inner),
    )


expressions = st.recursive(primaries(), extend, max_leaves=12)

object_literals = st.recursive(
    st.one_of(string_literals, booleans, signed_numbers,
              st.lists(string_literals, min_size=1, max_size=3).map(
                  lambda xs: "[" + ", ".join(xs) + "]")),
    lambda inner: st.lists(st.tuples(string_literals, inner), max_size=3).map(
        lambda pairs: "{ " + " ".join(f"{k}: {v}," for k, v in pairs) + " }"),
    max_leaves=6)
string_arrays = st.lists(string_literals, min_size=1, max_size=3).map(
    lambda xs: "[" + ", ".join(xs) + "]")
replaces = st.builds(lambda n, v: f" @replaces {n}{v}", names, optional(versions, " v"))
changes = string_arrays.map(lambda a: f" @changes {a}")
free_annotations = st.builds(lambda k, v: f" @{k} {v}", identifiers, st.one_of(
    object_literals, string_arrays, string_literals, booleans, signed_numbers))


def declaration_kinds():
    entity = st.builds(
        lambda kw, n, v, anns, d: f"{kw} {n}{v}{''.join(anns)}{d}", keyword("Entity"), names,
        optional(versions, " v"), st.lists(st.one_of(replaces, changes), max_size=2),
        optional(identifiers, " in "))
    resource = st.builds(
        lambda kw, n, anns, tail: f"{kw} {n}{''.join(anns)}{tail}", keyword("Resource"), names,
        st.lists(st.one_of(replaces, changes), max_size=2),
        st.one_of(st.just(""), identifiers.map(lambda u: " " + u),
                  identifiers.map(lambda d: " in " + d),
                  st.builds(lambda u, d: f" {u} in {d}", identifiers, identifiers)))
    flow = st.builds(
        lambda kw, r, anns, a, b, q: f"{kw} {r}{''.join(anns)} from {a} to {b}{q}",
        keyword("Flow"), string_literals, st.lists(st.one_of(replaces, changes,
                                                              free_annotations), max_size=4),
        string_literals, string_literals, optional(numbers, " quantity "))
    pattern = st.builds(lambda n, r: f"Pattern {n} matches {r}", names, string_literals)
    role = st.builds(lambda n, d: f"role {n}{d}", names, optional(identifiers, " in "))
    relation = st.builds(
        lambda n, s, p, o, v: f"Relation {n} subject: {s} predicate: {p} object: {o}{v}", names,
        string_literals, string_literals, string_literals,
        optional(string_literals, " via: flow "))
    dimension = string_literals.map(lambda n: f"Dimension {n}")
    unit = st.builds(lambda s, d, f, b: f"Unit {s} of {d} factor {f} base {b}", string_literals,
                     string_literals, signed_numbers, string_literals)
    per = optional(st.builds(lambda k, m, p: f" per {k} {m} priority {p}", st.one_of(
        keyword("Constraint"), keyword("Derivation"), keyword("Obligation")), st.one_of(
        keyword("Obligation"), keyword("Prohibition"), keyword("Permission")),
        st.integers(-2 ** 31, 2 ** 31 - 1)))
    policy_annotations = st.lists(st.one_of(
        string_literals.map(lambda s: f" @rationale {s}"),
        st.one_of(string_literals, string_arrays).map(lambda t: f" @TAGS {t}")), max_size=3)
    policy = st.builds(lambda n, p, anns, v, e: f"Policy {n}{p}{''.join(anns)}{v} as: {e}",
                       identifiers, per, policy_annotations, optional(versions, " v"),
                       expressions)
    instance = st.builds(
        lambda n, t, body: f"Instance {n} of {t}{body}", identifiers, string_literals,
        st.one_of(st.just(""), st.dictionaries(identifiers, expressions, max_size=3).map(
            lambda fields: " { " + ", ".join(f"{k}: {v}" for k, v in fields.items()) + " }")))
    concept_change = st.builds(
        lambda n, parts: f"ConceptChange {n} " + " ".join(parts), names,
        st.tuples(versions, versions, identifiers, booleans).flatmap(
            lambda t: st.permutations([f"@from_version v{t[0]}", f"@to_version v{t[1]}",
                                       f"@migration_policy {t[2]}",
                                       f"@breaking_change {t[3]}"])))
    durations = st.builds(lambda n, u: f"{n} {u}", st.integers(-1000, 1000), st.sampled_from(
        ['"seconds"', '"s"', '"Minute"', '"m"', '"HOURS"', '"h"', '"days"', '"d"']))
    metric_annotations = st.lists(st.one_of(
        durations.map(lambda d: f" @refresh_interval {d}"), durations.map(lambda d: f" @window {d}"),
        string_literals.map(lambda u: f" @unit {u}"), signed_numbers.map(lambda n: f" @threshold {n}"),
        signed_numbers.map(lambda n: f" @target {n}"),
        st.sampled_from(['"info"', '"Warning"', '"ERROR"', '"critical"']).map(
            lambda s: f" @severity {s}")), max_size=4)
    metric = st.builds(lambda n, e, anns: f"Metric {n} as: {e}{''.join(anns)}", names,
                       expressions, metric_annotations)
    targets = st.sampled_from(["calm", "KG", "sbvr", "protobuf", "Proto"])
    primitive_types = st.one_of(*[keyword(w) for w in ("Entity", "Resource", "Flow", "Policy",
                                                         "Instance")])
    mapping_fields = st.lists(st.builds(lambda k, v: f"{k}: {v}", identifiers, st.one_of(
        string_literals, booleans, object_literals.filter(lambda o: o.startswith("{")))),
        max_size=3)
    mapping = st.builds(
        lambda n, t, rules: f"Mapping {n} for {t} {{ " + " ".join(rules) + " }", string_literals,
        targets, st.lists(st.builds(
            lambda p, n, tt, fs: f"{p} {n} -> {tt} {{ " + ", ".join(fs) + " }", primitive_types,
            string_literals, identifiers, mapping_fields), max_size=3))
    property_mappings = st.lists(st.builds(lambda a, b: f"{a} -> {b}", string_literals,
                                           string_literals), max_size=3).map(
        lambda ps: "{ " + ", ".join(ps) + " }")
    projection = st.builds(
        lambda n, t, rules: f"Projection {n} for {t} {{ " + " ".join(rules) + " }",
        string_literals, targets, st.lists(st.builds(
            lambda p, n, fs: f"{p} {n} {{ " + " ".join(fs) + " }", primitive_types,
            string_literals, st.lists(st.builds(lambda k, v: f"{k}: {v}", identifiers, st.one_of(
                string_literals, property_mappings)), max_size=3)), max_size=3))
    return [entity, resource, flow, pattern, role, relation, dimension, unit, policy, instance,
            concept_change, metric, mapping, projection]


declarations = st.builds(lambda export, d: export + d, st.sampled_from(["", "", "export "]),
                         st.one_of(*declaration_kinds()))
separators = st.sampled_from([" ", "\n", "\n\n", "\t", " // comment\n", "\r\n"])
header_annotations = st.lists(st.builds(lambda name, value: f"@{name} {value}\n", st.one_of(
    *[keyword(w) for w in ("namespace", "version", "owner", "profile")]), string_literals),
    max_size=3).map("".join)
imports = st.lists(st.one_of(
    st.builds(lambda items, m: "import { " + ", ".join(items) + " } from " + m,
              st.lists(st.builds(lambda n, a: n + a, identifiers, optional(identifiers, " as ")),
                       min_size=1, max_size=3), st.sampled_from(['"b"', '"a"', '"A/x"', '""'])),
    st.builds(lambda a, m: f"import * as {a} from {m}", identifiers,
              st.sampled_from(['"b"', '"a"', '"m"']))), max_size=3).map(
    lambda xs: "".join(x + "\n" for x in xs))
comment_blocks = st.lists(st.text(alphabet="ab /\t\u00a0\u3000", max_size=6).map(
    lambda t: "//" + t), max_size=3).map(lambda lines: "".join(line + "\n" for line in lines))


@st.composite
def sources(draw):
    text = draw(comment_blocks) + draw(header_annotations) + draw(imports)
    for declaration in draw(st.lists(declarations, max_size=4)):
        text += declaration + draw(separators)
    return text


def parses(source):
    try:
        hooks.ast_difference(source, source)
    except ValueError:
        return False
    return True


@settings(max_examples=max(20, int(400 * EXAMPLE_SCALE)), deadline=None,
          suppress_health_check=[HealthCheck.filter_too_much, HealthCheck.too_slow,
                                 HealthCheck.data_too_large])
@given(sources(), st.integers(0, 8), st.booleans(), st.booleans(), st.booleans())
def test_formatted_source_reads_back_and_is_stable(source, indent_width, use_tabs,
                                                    preserve_comments, sort_imports):
    assume(parses(source))
    assert_laws(source)
    assert_laws(source, indent_width, use_tabs, preserve_comments, sort_imports)


@settings(max_examples=max(20, int(300 * EXAMPLE_SCALE)), deadline=None,
          suppress_health_check=[HealthCheck.filter_too_much, HealthCheck.too_slow])
@given(expressions)
def test_every_expression_reads_back(expression):
    source = f"Policy p as: {expression}"
    assume(parses(source))
    assert_laws(source)

