"""NamespaceRegistry and NamespaceBinding: loading, discovery, resolution and the class surface."""

import os
import subprocess
import sys

import pytest

import vok_dsl
from vok_dsl import NamespaceBinding, NamespaceRegistry

REGISTRY = ".vok-registry.toml"


def write_registry(directory, namespaces, header="version = 1\n"):
    """Writes a registry file; `namespaces` maps each name to its pattern list, in order."""
    text = header
    for name, patterns in namespaces:
        quoted = ", ".join(f'"{pattern}"' for pattern in patterns)
        text += f'\n[[namespaces]]\nnamespace = "{name}"\npatterns = [{quoted}]\n'
    path = directory / REGISTRY
    path.write_text(text)
    return path


def touch(root, *relative):
    for name in relative:
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).touch()


def listing(registry, fail_on_ambiguity=False):
    root = registry.root
    return [(os.path.relpath(binding.path, root), binding.namespace)
            for binding in registry.resolve_files(fail_on_ambiguity)]


def test_discover_searches_upward_from_a_file_or_a_directory(tmp_path):
    write_registry(tmp_path, [("models", ["src/**"])], 'version = 1\ndefault_namespace = "misc"\n')
    touch(tmp_path, "src/deep/x.vok")
    for start in (tmp_path / "src/deep/x.vok", tmp_path / "src/deep", tmp_path):
        registry = NamespaceRegistry.discover(str(start))
        assert type(registry) is NamespaceRegistry
        assert registry.root == str(tmp_path.resolve())
        assert registry.default_namespace == "misc"


def test_discover_without_a_registry_gives_none(tmp_path):
    (tmp_path / "empty").mkdir()
    assert NamespaceRegistry.discover(str(tmp_path / "empty")) is None


@pytest.mark.parametrize("call", [NamespaceRegistry.discover, NamespaceRegistry.from_file])
def test_missing_path_is_an_io_runtime_error(tmp_path, call):
    with pytest.raises(RuntimeError) as failure:
        call(str(tmp_path / "missing"))
    assert type(failure.value) is RuntimeError  # not ValueError or a subclass
    assert str(failure.value).startswith("IO error: ")


# A message ending in ": " is followed by the underlying library's own text.
@pytest.mark.parametrize(
    "header, namespaces, message",
    [
        ("version = 2\n", [("a", ["*"])], "Unsupported registry version 2"),
        ('version = "1"\n', [("a", ["*"])], "Failed to parse registry: "),
        ("version = 300\n", [("a", ["*"])], "Failed to parse registry: "),
        ("version = 1\n", [], "Registry must declare at least one namespace"),
        ("version = 1\n", [("a", [])], "Namespace 'a' must provide at least one pattern"),
        ("version = 1\n", [("a", ["src/[z"])], "Invalid pattern 'src/[z' for namespace 'a': "),
    ],
)
def test_loading_errors_carry_the_registry_text(tmp_path, header, namespaces, message):
    path = write_registry(tmp_path, namespaces, header)
    # An invalid registry found by discovery is an error, not "no registry".
    for call, argument in ((NamespaceRegistry.from_file, path),
                           (NamespaceRegistry.discover, tmp_path)):
        with pytest.raises(RuntimeError) as failure:
            call(str(argument))
        text = str(failure.value)
        if message.endswith(": "):
            assert text.startswith(message) and len(text) > len(message)
        else:
            assert text == message


@pytest.mark.parametrize(
    "line",
    ["x" + ".x" * 50_000 + " = 1", "[" + "k." * 50_000 + "k]", "[[" + "k." * 50_000 + "k]]",
     "a = " + "{b.c = " * 200 + "1" + "}" * 200],
    ids=["dotted-key", "header", "array-header", "inline-tables-with-dotted-keys"],
)
def test_deeply_nested_registry_is_refused(tmp_path, line):
    path = write_registry(tmp_path, [("a", ["*"])], "version = 1\n" + line + "\n")
    (tmp_path / "below").mkdir()
    # Found by discovery in a parent directory, as by reading it directly.
    for call, argument in ((NamespaceRegistry.from_file, path),
                           (NamespaceRegistry.discover, tmp_path / "below")):
        with pytest.raises(RuntimeError, match=r"^Failed to parse registry: tables and arrays "
                           r"nested deeper than 256 levels at line 2 column \d+$"):
            call(str(argument))


@pytest.mark.parametrize("writer", [False, True], ids=["no-writer", "silent-writer"])
@pytest.mark.parametrize("call", ["from_file", "discover"])
def test_a_fifo_is_never_waited_on(tmp_path, call, writer):
    tmp_path = tmp_path.resolve()
    fifo = tmp_path / REGISTRY
    os.mkfifo(fifo)
    (tmp_path / "below").mkdir()
    argument = fifo if call == "from_file" else tmp_path / "below"
    # The test itself may hold the FIFO open as a writer that never writes. The call runs in a
    # child process, so that one that blocks fails the test instead of hanging it.
    held = os.open(fifo, os.O_RDWR | os.O_NONBLOCK) if writer else None
    script = (f"import vok_dsl\ntry:\n    print(vok_dsl.NamespaceRegistry.{call}({str(argument)!r}))\n"
              f"except RuntimeError as error:\n    print(error)\n")
    try:
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                                timeout=120)
    finally:
        if held is not None:
            os.close(held)
    # Reading it is refused; discovery passes over it as over any other non-file.
    expected = (f"Registry path is not a regular file: {fifo} (a FIFO)\n" if call == "from_file"
                else "None\n")
    assert result.stdout == expected, result.stderr


def test_a_tie_goes_to_the_smallest_name_unless_asked_to_fail(tmp_path):
    path = write_registry(tmp_path, [("b", ["src/**"]), ("a", ["src/**"])])
    registry = NamespaceRegistry.from_file(str(path))
    touch(tmp_path, "src/x.vok")
    given = "src/x.vok"
    assert registry.namespace_for(given, False) == "a"
    assert registry.namespace_for(given, None) == "a"
    assert registry.namespace_for(path=given, fail_on_ambiguity=None) == "a"
    with pytest.raises(RuntimeError) as failure:
        registry.namespace_for(given, True)
    assert str(failure.value) == "File 'src/x.vok' matched multiple namespaces: a, b"

    assert listing(registry, False) == listing(registry, None) == [("src/x.vok", "a")]
    with pytest.raises(RuntimeError) as failure:
        registry.resolve_files(fail_on_ambiguity=True)
    absolute = os.path.join(registry.root, "src", "x.vok")
    assert str(failure.value) == f"File '{absolute}' matched multiple namespaces: a, b"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda r: r.namespace_for("x.vok"),
         "NamespaceRegistry.namespace_for() missing 1 required positional argument: "
         "'fail_on_ambiguity'"),
        (lambda r: r.resolve_files(),
         "NamespaceRegistry.resolve_files() missing 1 required positional argument: "
         "'fail_on_ambiguity'"),
        (lambda r: r.resolve_files(1),
         "argument 'fail_on_ambiguity': 'int' object cannot be converted to 'PyBool'"),
        (lambda r: r.namespace_for("x.vok", "yes"),
         "argument 'fail_on_ambiguity': 'str' object cannot be converted to 'PyBool'"),
        (lambda r: r.namespace_for(None, False),
         "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda r: NamespaceRegistry.from_file(b"x"),
         "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
        (lambda r: NamespaceRegistry.discover(),
         "NamespaceRegistry.discover() missing 1 required positional argument: 'path'"),
    ],
)
def test_argument_errors(tmp_path, call, message):
    registry = NamespaceRegistry.from_file(str(write_registry(tmp_path, [("a", ["*"])])))
    with pytest.raises(TypeError) as failure:
        call(registry)
    assert str(failure.value) == message


# Specificity, walking and ordering are tested in namespace_resolution_test.cpp; here the results
# cross: a namespace as text, bindings as NamespaceBinding objects with absolute paths.
def test_resolution_results_cross_as_text_and_bindings(tmp_path):
    registry = NamespaceRegistry.from_file(str(write_registry(tmp_path, [
        ("general", ["a/**"]), ("specific", ["a/models/**"]),
    ])))
    touch(tmp_path, "a/z.vok", "a/models/m.vok")
    assert registry.namespace_for("a/models/m.vok", True) == "specific"
    assert registry.namespace_for("/elsewhere/x.vok", True) == "default"
    assert listing(registry, True) == [("a/models/m.vok", "specific"), ("a/z.vok", "general")]
    bindings = registry.resolve_files(True)
    assert all(type(b) is NamespaceBinding and os.path.isabs(b.path) for b in bindings)


def test_non_utf8_paths_are_shown_with_replacement_characters(tmp_path):
    odd = os.fsencode(tmp_path) + b"/odd\xff"
    os.mkdir(odd)
    open(odd + b"/f\xfe.vok", "wb").close()
    # Reached through a link with a UTF-8 name; the root is the canonical (odd) directory.
    os.symlink(odd, tmp_path / "link")
    write_registry(tmp_path / "link", [("a", ["*.vok"])])
    registry = NamespaceRegistry.discover(str(tmp_path / "link"))
    assert registry.root == str(tmp_path.resolve()) + "/odd\ufffd"
    [binding] = registry.resolve_files(False)
    assert binding.path == registry.root + "/f\ufffd.vok"
    assert binding.namespace == "a"


def test_class_surface():
    assert NamespaceRegistry.discover.__text_signature__ == "(path)"
    assert NamespaceRegistry.from_file.__text_signature__ == "(path)"
    assert NamespaceRegistry.namespace_for.__text_signature__ == "($self, path, fail_on_ambiguity)"
    assert NamespaceRegistry.resolve_files.__text_signature__ == "($self, fail_on_ambiguity)"
    for cls in (NamespaceRegistry, NamespaceBinding):
        assert cls.__module__ == "builtins" and cls.__qualname__ == cls.__name__
        assert cls.__doc__ is None and cls.__text_signature__ is None
        with pytest.raises(TypeError) as failure:
            cls()
        assert str(failure.value) == f"No constructor defined for {cls.__name__}"
        with pytest.raises(TypeError):
            type("Derived", (cls,), {})
    assert {"path", "namespace"} <= set(dir(NamespaceBinding))
    position = vok_dsl.__all__.index("NamespaceRegistry")
    assert vok_dsl.__all__[position:position + 2] == ["NamespaceRegistry", "NamespaceBinding"]
    # Only "__version__" and classes of positions 1 to 10 may come before them.
    before = {"__version__", "Entity", "Resource", "Flow", "ResourceInstance", "Instance",
              "Mapping", "Projection", "Graph", "Role", "Relation"}
    assert set(vok_dsl.__all__[:position]) <= before
