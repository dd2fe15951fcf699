"""Module start-up and what holds for all it registers: version, docstring, registration order,
docstring examples, no copying or pickling, re-import and the interpreter guard."""

import copy
import importlib
import pickle
import sys

import pytest

import vok_dsl
from authority_documents import READ_WRITE

# Every name the finished module registers, in registration order.
REGISTRATION_ORDER = [
    "Entity", "Resource", "Flow", "ResourceInstance", "Instance", "Mapping", "Projection",
    "Graph", "Role", "Relation", "NamespaceRegistry", "NamespaceBinding", "Severity",
    "Violation", "EvaluationResult", "UnaryOp", "Quantifier", "BinaryOp", "AggregateFunction",
    "WindowSpec", "Expression", "NormalizedExpression", "FinalDecision", "PolicyModality",
    "SourceClass", "ClaimLevel", "AuthorityEnvironment", "evaluate_authority", "Dimension",
    "Unit", "format_source", "check_format", "SemanticTruth", "DiagnosticSeverity",
    "ValidationMode", "ApprovalState", "SignatureState", "ConceptStatus", "ConceptKind",
    "AliasStatus", "SemanticValidationStatus", "SemanticPack", "SemanticValidationResult",
    "build_semantic_pack", "validate_semantic_pack", "validate_graph_with_pack", "sign_pack",
    "verify_pack_signature", "diff_packs", "compute_pack_hash", "normalize_lookup_key",
    "resolve_concept",
]

ENUMERATIONS = [
    "Severity", "UnaryOp", "Quantifier", "BinaryOp", "AggregateFunction", "FinalDecision",
    "PolicyModality", "SourceClass", "ClaimLevel", "SemanticTruth", "DiagnosticSeverity",
    "ValidationMode", "ApprovalState", "SignatureState", "ConceptStatus", "ConceptKind",
    "AliasStatus", "SemanticValidationStatus",
]


def test_version_and_doc():
    assert vok_dsl.__version__ == "0.11.0"
    assert vok_dsl.__doc__ == ""
    assert vok_dsl.__name__ == "vok_dsl"


def test_all_lists_registered_names_in_registration_order():
    registered = [name for name in REGISTRATION_ORDER if hasattr(vok_dsl, name)]
    assert vok_dsl.__all__ == ["__version__"] + registered
    assert set(ENUMERATIONS) <= set(registered)
    assert all(isinstance(name, str) for name in vok_dsl.__all__)


def test_registered_functions_belong_to_the_module():
    for name in vok_dsl.__all__[1:]:
        value = getattr(vok_dsl, name)
        if isinstance(value, type):
            assert value.__module__ == "builtins" and value.__qualname__ == name
        else:
            assert value.__module__ == "vok_dsl" and value.__name__ == name


def test_docstring_examples_run_as_written():
    import doctest

    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(verbose=False)
    found = []
    for name in vok_dsl.__all__[1:]:
        value = getattr(vok_dsl, name)
        members = [value] + [member for member in vars(value).values()] \
            if isinstance(value, type) else [value]
        for member in members:
            doc = getattr(member, "__doc__", None)
            if isinstance(doc, str) and ">>>" in doc:
                found.append(name)
                runner.run(parser.get_doctest(doc, {}, name, None, 0))
    assert {"format_source", "check_format"} <= set(found)
    assert runner.summarize(verbose=False).failed == 0

@pytest.mark.parametrize("make", [
    vok_dsl.Graph, lambda: vok_dsl.Entity("A"), lambda: vok_dsl.Expression.variable("a"),
    lambda: vok_dsl.Severity.Error,
    lambda: vok_dsl.AuthorityEnvironment(READ_WRITE),
], ids=["Graph", "Entity", "Expression", "Severity", "AuthorityEnvironment"])
def test_objects_cannot_be_copied_or_pickled(make):
    value = make()
    for operation in (copy.copy, copy.deepcopy, pickle.dumps):
        with pytest.raises(TypeError, match=f"^cannot pickle 'builtins.{type(value).__name__}' "):
            operation(value)

def test_reimport_returns_the_same_module_and_classes():
    module = sys.modules.pop("vok_dsl")
    severity = module.Severity
    module.marker_set_by_test = True
    try:
        again = importlib.import_module("vok_dsl")
        assert again is module
        assert again.Severity is severity
        assert again.marker_set_by_test is True
        assert again.__all__.count("Severity") == 1
    finally:
        del module.marker_set_by_test
        sys.modules["vok_dsl"] = module


def test_second_interpreter_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        for _ in range(2):  # refused every time, not only the first
            with pytest.raises(interpreters.RunFailedError) as failure:
                interpreters.run_string(interp, "import vok_dsl")
            assert "ImportError" in str(failure.value)
            assert "do not yet support subinterpreters" in str(failure.value)
    finally:
        interpreters.destroy(interp)
    # The first interpreter keeps its module.
    assert importlib.import_module("vok_dsl") is vok_dsl


def test_core_sources_do_not_touch_the_python_c_api():
    import os
    import pathlib
    import re

    root = pathlib.Path(os.environ.get("VOK_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
    python_dir = root / "src" / "python"
    pattern = re.compile(r"Python\.h|\bPy_|\bPyObject")
    offenders = [
        f"{path.relative_to(root)}:{number}"
        for path in sorted((root / "src").rglob("*"))
        if path.suffix in {".h", ".hpp", ".cpp", ".cc", ".inc"} and python_dir not in path.parents
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1)
        if pattern.search(line)
    ]
    assert offenders == []
