"""The build of the Python package zl: CMake builds the extension module
zl._zl, the package's pure-Python files and the stand-in server zelvik-sim,
`cmake --install --component python` lays them out (the package zl with its
stubs and zelvik-sim in zl/bin/ for `zl sim`, and the old package names
zl_cli and zl_pytest, kept as aliases), and that layout becomes the wheel.
The version is the project's release in CMakeLists.txt.

Environment:
  ZL_CMAKE_BUILD_DIR  an existing CMake build tree (absolute, or relative to
                      this directory) to build in and install from, as it is
                      configured; without it a tree of its own under
                      build-pip/ is configured for the running interpreter.
  ZL_CMAKE_ARGS       more arguments for configuring that tree of its own
                      (e.g. -DCMAKE_CXX_COMPILER_LAUNCHER=ccache).
  CMAKE_BUILD_PARALLEL_LEVEL  build jobs (default: the number of CPUs).
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
# setuptools' working directories, kept out of the CMake build trees (build/).
BUILD_BASE = ROOT / "build-pip"


def release():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"^project\(zl VERSION ([0-9.]+)", text, re.MULTILINE).group(1)


def builds_sim(tree):
    """Whether the CMake tree is configured to build zelvik-sim."""
    cache = (tree / "CMakeCache.txt").read_text(errors="replace")
    match = re.search(r"^ZL_BUILD_SIM:BOOL=(\S+)", cache, re.MULTILINE)
    return match is None or match.group(1).upper() in ("ON", "1", "TRUE", "YES", "Y")


class CMakeBuild(build_ext):
    """Builds the one extension, zl._zl, and everything that comes with it."""

    def build_extension(self, ext):
        if self.editable_mode or self.inplace:
            sys.exit("zl: no editable install: use the build tree (PYTHONPATH=build/python) "
                     "or install a wheel (pip install .)")
        tree = self.cmake_tree()
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        targets = ["zl_module", "zl_python"]
        if builds_sim(tree):
            targets.append("zelvik-sim")
        else:
            print("zl: %s is configured with ZL_BUILD_SIM=OFF: the package has no zelvik-sim "
                  "(zl sim and --zl-sim then need --sim PATH or ZL_SIM)" % tree, flush=True)
        self.run_cmake("--build", tree, "--target", *targets, "--parallel", jobs)
        module = tree / "python" / "zl" / ("_zl" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not module.exists():
            sys.exit("zl: %s holds no module for this interpreter (%s): configure it with "
                     "-DPython3_EXECUTABLE=%s" % (tree, module.name, sys.executable))
        stage = Path(self.build_temp).resolve() / "stage"
        shutil.rmtree(stage, ignore_errors=True)
        self.run_cmake("--install", tree, "--component", "python", "--prefix", "/",
                       env=dict(os.environ, DESTDIR=str(stage)))
        # The directory that holds the package zl is the interpreter's
        # package directory of that layout; the launcher in bin/ gives way to
        # the console script that pip writes.
        packages = next(stage.rglob("zl/__init__.py")).parent.parent
        shutil.copytree(packages, self.build_lib, dirs_exist_ok=True)

    def cmake_tree(self):
        given = os.environ.get("ZL_CMAKE_BUILD_DIR")
        if given:
            tree = (ROOT / given).resolve()
            if not (tree / "CMakeCache.txt").exists():
                sys.exit("zl: ZL_CMAKE_BUILD_DIR=%s is not a configured CMake build tree" % given)
            return tree
        tree = Path(self.build_temp).resolve() / "cmake"
        self.run_cmake("-S", ROOT, "-B", tree, "-DPython3_EXECUTABLE=" + sys.executable,
                       "-DZL_BUILD_TESTS=OFF", "-DZL_BUILD_SIM=ON",
                       *shlex.split(os.environ.get("ZL_CMAKE_ARGS", "")))
        return tree

    def run_cmake(self, *args, env=None):
        command = ["cmake", *map(str, args)]
        print(" ".join(command), flush=True)
        subprocess.run(command, check=True, env=env)


BUILD_BASE.mkdir(exist_ok=True)  # egg_info refuses a directory that is not there
setup(
    version=release(),
    packages=[],
    py_modules=[],
    ext_modules=[Extension("zl._zl", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(BUILD_BASE)}, "egg_info": {"egg_base": str(BUILD_BASE)}},
    zip_safe=False,
)
