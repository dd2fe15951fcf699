"""The package as pip builds it: the wheel installs into a fresh virtual environment, imports from a
folder outside the clone, reports the project's version, and brings its type stubs along where
mypy finds them.

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
    module = "vok_dsl" + sysconfig.get_config_var("EXT_SUFFIX")
    assert {module, "vok_dsl.pyi", "vok_dsl-stubs/__init__.pyi", "vok_dsl-stubs/py.typed"} <= names
    assert f"\nVersion: {version}\n" in metadata

    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", str(venv), env=clean)
    python = str(venv / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-index", "-q", str(wheel), env=clean)
    outside = tmp_path / "elsewhere"
    outside.mkdir()
    printed = run(python, "-c", "import vok_dsl; print(vok_dsl.__version__, vok_dsl.__file__)",
                  cwd=outside, env=clean).split()
    assert printed[0] == version
    assert Path(printed[1]).parent.parent.parent == venv / "lib"  # lib/python3.X/site-packages

    # mypy finds the installed stubs through the environment alone.
    typed = outside / "typed.py"
    typed.write_text('import vok_dsl\nreveal_type(vok_dsl.evaluate_authority("", ""))\n')
    checked = subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", os.devnull, "--python-executable", python,
         str(typed)], cwd=outside, env=clean, capture_output=True, text=True)
    assert 'Revealed type is "Tuple[builtins.str, builtins.str]"' in checked.stdout, checked.stdout
