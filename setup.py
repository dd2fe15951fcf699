"""Build step of the vok_dsl package: the module comes from the project's CMake build.

pip (through setuptools) calls the build_ext command below. It configures a Release build in
build-wheel/ for the interpreter that runs pip, builds only the `vok_dsl` target there (no tests,
benchmarks or fuzz targets) and places into the wheel the module, its type stubs beside it
(`vok_dsl.pyi`, read by editors and by pyright) and the same stubs as the `vok_dsl-stubs` package
with its `py.typed` marker, which is where mypy looks for the types of a single-file module.

VOK_BUILD_DIR names an already configured CMake build directory to take the module from
instead; it is built there with its own settings (CI packs the module of its regular build so
that it compiles nothing twice). CMAKE_BUILD_PARALLEL_LEVEL limits the build's jobs.

The version is read from project() in CMakeLists.txt, the one place it is written.
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"^project\(\s*vok_dsl\s+VERSION\s+([0-9][0-9.]*)\b", text, re.MULTILINE)
    if match is None:
        sys.exit("setup.py: no project(vok_dsl VERSION ...) in CMakeLists.txt")
    return match.group(1)


class CMakeBuild(build_ext):
    def run(self) -> None:
        build_dir = self.cmake_build_dir()
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "vok_dsl"], check=True)
        module = build_dir / "python" / ("vok_dsl" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not module.is_file():
            sys.exit(f"setup.py: the build left no {module}")
        target = Path(self.get_ext_fullpath("vok_dsl"))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(module, target)
        if not self.inplace:  # in place, the stub already stands beside the module
            stubs = target.parent / "vok_dsl-stubs"
            stubs.mkdir(exist_ok=True)
            shutil.copyfile(ROOT / "vok_dsl.pyi", target.parent / "vok_dsl.pyi")
            shutil.copyfile(ROOT / "vok_dsl.pyi", stubs / "__init__.pyi")
            shutil.copyfile(ROOT / "py.typed", stubs / "py.typed")

    def cmake_build_dir(self) -> Path:
        given = os.environ.get("VOK_BUILD_DIR")
        if given:
            build_dir = (ROOT / given).resolve()
            if not (build_dir / "CMakeCache.txt").is_file():
                sys.exit(f"setup.py: VOK_BUILD_DIR={given} is not a configured CMake build")
            return build_dir
        build_dir = ROOT / "build-wheel"
        subprocess.run(
            [
                "cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=Release",
                f"-DPython3_EXECUTABLE={sys.executable}",
                "-DVOK_BENCH=OFF",
                "-DVOK_TESTS=OFF",
            ],
            check=True,
        )
        return build_dir

    def get_outputs(self) -> list[str]:
        outputs = super().get_outputs()
        if not self.inplace:
            lib = Path(self.build_lib)
            outputs += [str(lib / "vok_dsl.pyi"), str(lib / "vok_dsl-stubs" / "__init__.pyi"),
                        str(lib / "vok_dsl-stubs" / "py.typed")]
        return outputs


(ROOT / "build-wheel").mkdir(exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[Extension("vok_dsl", sources=[])],
    # The module is the one importable name, so top_level.txt lists vok_dsl alone. Without these
    # setuptools would take every folder of src/ (json, time, uuid, ...) for a package and claim
    # those names in the metadata; the stubs come in through build_ext above and are no import
    # name of their own.
    packages=[],
    py_modules=[],
    cmdclass={"build_ext": CMakeBuild},
    # setuptools' own scratch folders would otherwise land in build/, the CMake build of the
    # development scripts.
    options={"build": {"build_base": "build-wheel/setuptools"},
             "egg_info": {"egg_base": "build-wheel"}},
)
