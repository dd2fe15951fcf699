"""The type stubs (vok_dsl.pyi) against the built module, and a type checker over typed code.

mypy's stubtest imports the module and compares with the stub every registered name, every class
member and enumeration member, and the parameters of every method and function (read from their
text signatures). It reads constructors from object.__init__, so they are compared here, with
__all__. A name or a parameter added to the module without its stub, or a stub entry the module
lacks, fails these tests.
"""

import ast
import inspect
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import vok_dsl

ROOT = Path(os.environ.get("VOK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
STUB = ROOT / "vok_dsl.pyi"

pytestmark = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="checks the stub, not memory; the regular run covers it",
)


def stubtest(stub_text, tmp_path):
    (tmp_path / "vok_dsl.pyi").write_text(stub_text, encoding="utf-8")
    # The module this test imported, whatever the working directory.
    env = dict(os.environ, MYPYPATH=str(tmp_path), PYTHONPATH=str(Path(vok_dsl.__file__).parent))
    return subprocess.run([sys.executable, "-m", "mypy.stubtest", "vok_dsl"], cwd=tmp_path,
                          env=env, capture_output=True, text=True)


def test_stub_matches_the_module(tmp_path):
    run = stubtest(STUB.read_text(encoding="utf-8"), tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


def test_stub_drift_is_reported(tmp_path):
    # Each edit stands for one way the stub and the module can part; one run reports them all.
    edits = {
        "vok_dsl.Graph.flows_to is not present in stub": ("    def flows_to(", "    def _gone("),
        "vok_dsl.Graph._gone is not present at runtime": None,
        "vok_dsl.DiagnosticSeverity.Hint is not present in stub": ("    Hint: ", "    _hint: "),
        'stub argument "entity" differs from runtime argument "entity_id"':
            ("def flows_from(self, entity_id: str)", "def flows_from(self, entity: str)"),
        'runtime argument "facts_json" has a default value but stub argument does not':
            ('def evaluate(self, request_json: str, facts_json: str = "[]")',
             "def evaluate(self, request_json: str, facts_json: str)"),
        "vok_dsl.NamespaceRegistry.root is not present in stub": ("    def root(", "    def _root("),
        "vok_dsl.diff_packs is not present in stub": ("def diff_packs(", "def _diff_packs("),
        "vok_dsl.SemanticPack.unknown_method is not present at runtime":
            ("    def pack_content_hash(self) -> str: ...",
             "    def pack_content_hash(self) -> str: ...\n    def unknown_method(self) -> int: ..."),
    }
    text = STUB.read_text(encoding="utf-8")
    for edit in edits.values():
        if edit is not None:
            assert text.count(edit[0]) == 1, edit[0]
            text = text.replace(*edit)
    run = stubtest(text, tmp_path)
    assert run.returncode == 1
    for message in edits:
        assert message in run.stdout


def stub_classes():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}, tree


def test_all_matches_in_order():
    _, tree = stub_classes()
    [all_list] = [node.value for node in tree.body if isinstance(node, ast.Assign)
                  and [t.id for t in node.targets] == ["__all__"]]
    assert ast.literal_eval(all_list) == vok_dsl.__all__


def test_constructors_match_text_signatures():
    classes, _ = stub_classes()
    module_classes = [name for name in vok_dsl.__all__ if isinstance(getattr(vok_dsl, name), type)]
    assert sorted(classes) == sorted(module_classes)
    for name, node in classes.items():
        text = getattr(vok_dsl, name).__text_signature__
        inits = [f for f in node.body if isinstance(f, ast.FunctionDef) and f.name == "__init__"]
        if text in (None, "()"):
            # No constructor, or one without parameters: object's own __init__ says the same.
            assert inits == [], name
            continue
        [init] = inits
        arguments = init.args
        defaults = [None] * (len(arguments.args) - len(arguments.defaults)) + arguments.defaults
        stub_params = [(a.arg, None if d is None else ast.literal_eval(d))
                       for a, d in zip(arguments.args, defaults)][1:]
        runtime = inspect.signature(getattr(vok_dsl, name)).parameters.values()
        runtime_params = [(p.name, None if p.default is p.empty else p.default) for p in runtime]
        assert stub_params == runtime_params, name
        assert not (arguments.vararg or arguments.kwarg or arguments.kwonlyargs), name


MISUSE = '''\
import vok_dsl
graph = vok_dsl.Graph.parse(b"Entity")
trace, decision = vok_dsl.evaluate_authority("{}", "{}")
count: str = graph.entity_count()
vok_dsl.Expression.binary(vok_dsl.UnaryOp.Not, vok_dsl.Expression.variable("a"), None)
'''


def test_mypy_accepts_the_typed_examples_and_rejects_misuse(tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(MISUSE, encoding="utf-8")
    env = dict(os.environ, MYPYPATH=str(ROOT))
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", os.devnull, "--no-error-summary",
         "--hide-error-context", str(STUB), *map(str, sorted((ROOT / "examples").glob("*.py"))),
         str(misuse)],
        cwd=tmp_path, env=env, capture_output=True, text=True)
    errors = [(int(line), code) for line, code in
              re.findall(r"^.*misuse\.py:(\d+): error: .*\[([a-z-]+)\]$", run.stdout, re.M)]
    assert errors == [(2, "arg-type"), (4, "assignment"), (5, "arg-type"), (5, "arg-type")], \
        run.stdout
    assert run.stdout.count("error:") == len(errors), run.stdout
