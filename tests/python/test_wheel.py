"""The package as pip builds it: the wheel names only vok_dsl as its import name, its module exports
only the interpreter's entry point, and it installs into a fresh virtual environment, works from a
folder outside the clone, reports the project's version, runs the shipped example with nothing
else installed, and brings its type stubs along where mypy finds them.

scripts/test runs this as a step of its own (VOK_WHEEL_TEST=1) after the regular build, with
VOK_BUILD_DIR naming that build so the module is packed, not compiled again. Without
VOK_BUILD_DIR, setup.py makes its own Release build in build-wheel/ (a few minutes).
"""

import os
import re
import subprocess
import sys
import sysconfig
import zipfile
from pathlib import Path

import pytest

ROOT = Path(os.environ.get("VOK_SOURCE_DIR", Path(__file__).resolve().parents[2]))

pytestmark = pytest.mark.skipif(os.environ.get("VOK_WHEEL_TEST") != "1",
                                reason="a step of its own in scripts/test (VOK_WHEEL_TEST=1)")


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, **options)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def test_wheel_installs_into_a_fresh_environment(tmp_path):
    cmake = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    version = re.search(r"^project\(vok_dsl VERSION ([0-9.]+)", cmake, re.M).group(1)
    # Nothing of the development tree may leak into the checks below.
    clean = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}

    run(sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-q",
        "-w", str(tmp_path / "dist"), str(ROOT), env=clean)
    [wheel] = (tmp_path / "dist").glob("vok_dsl-*.whl")
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        metadata = archive.read(f"vok_dsl-{version}.dist-info/METADATA").decode()
        top_level = archive.read(f"vok_dsl-{version}.dist-info/top_level.txt").decode()
        module = "vok_dsl" + sysconfig.get_config_var("EXT_SUFFIX")
        (tmp_path / module).write_bytes(archive.read(module))
    assert {module, "vok_dsl.pyi", "vok_dsl-stubs/__init__.pyi", "vok_dsl-stubs/py.typed"} <= names
    assert f"\nVersion: {version}\n" in metadata
    # Tools that map import names to distributions read this list; the folders of src/ (json,
    # time, uuid, ...) must not claim the standard library's names.
    assert top_level.split() == ["vok_dsl"]
    # Any other exported name could bind to another extension's copy of the same code.
    exported = run("nm", "-D", "--defined-only", str(tmp_path / module)).split()
    assert exported[1:] == ["T", "PyInit_vok_dsl"], exported[:30]

    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", str(venv), env=clean)
    python = str(venv / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-index", "-q", str(wheel), env=clean)
    outside = tmp_path / "elsewhere"
    outside.mkdir()
    # A parse, a format and a parse error turned into its exception: the module works, not only
    # imports, with everything but its entry point hidden.
    printed = run(python, "-c", """if True:
        import importlib.metadata, vok_dsl
        graph = vok_dsl.Graph.parse('Entity "Warehouse"\\nResource "Pallet" units')
        assert [e.name for e in graph.all_entities()] == ["Warehouse"], graph
        assert vok_dsl.format_source('Entity  "A"') == 'Entity "A"\\n'
        try:
            vok_dsl.Graph.parse("Entity")
        except ValueError as error:
            assert "1:7" in str(error), error
        else:
            raise AssertionError("no ValueError")
        claimed = [name for name, dists in importlib.metadata.packages_distributions().items()
                   if any(dist.replace("-", "_") == "vok_dsl" for dist in dists)]
        assert claimed == ["vok_dsl"], claimed
        print(vok_dsl.__version__, vok_dsl.__file__)""", cwd=outside, env=clean).split()
    assert printed[0] == version
    assert Path(printed[1]).parent.parent.parent == venv / "lib"  # lib/python3.X/site-packages

    # The example needs the module and the standard library only: the environment holds nothing
    # else, and the example prints what tests/python/test_example.py expects of it.
    examples, golden = ROOT / "examples", ROOT / "tests" / "golden" / "example"
    stamped = dict(clean, SOURCE_DATE_EPOCH="1700000000")
    for script, argument in (("show_model.py", examples / "warehouse.vok"),
                             ("governance.py", examples)):
        output = run(python, str(examples / script), str(argument), cwd=outside, env=stamped)
        assert output == (golden / script.replace(".py", ".txt")).read_text(encoding="utf-8")

    # mypy finds the installed stubs through the environment alone.
    typed = outside / "typed.py"
    typed.write_text('import vok_dsl\nreveal_type(vok_dsl.evaluate_authority("", ""))\n')
    checked = subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", os.devnull, "--python-executable", python,
         str(typed)], cwd=outside, env=clean, capture_output=True, text=True)
    assert 'Revealed type is "Tuple[builtins.str, builtins.str]"' in checked.stdout, checked.stdout
