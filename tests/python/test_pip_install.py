"""`pip install` of the repository into a new virtual environment, offline,
reusing the build tree of the tests ($ZL_BUILD_DIR): the package zl (the
extension with its stubs inside), the aliases of its old names, the zl
command and the stand-in server (`zl sim`, pytest's --zl-sim) work from
outside the repository, and `pip uninstall` takes them all away again.
Once with Debian's setuptools and wheel (no build isolation), once with
pip's own isolated build fed from Debian's wheel directory.

pip installs from a copy of the files that it and setup.py read (the build
tree holds the rest): a source as a fresh clone has it, without the
working directories of earlier installs, and none written into the
repository."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DEBIAN_WHEELS = "/usr/share/python-wheels"
PACKAGE_FILES = ("pyproject.toml", "setup.py", "README.md", "CMakeLists.txt")
BOUND_S = 240.0

pytestmark = pytest.mark.skipif(
    "LD_PRELOAD" in os.environ, reason="a sanitizer build's module needs its run-time preloaded")


def run(*argv, env, cwd):
    done = subprocess.run([str(a) for a in argv], env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=BOUND_S)
    assert done.returncode == 0, "%s\n%s%s" % (argv, done.stdout, done.stderr)
    return done.stdout


@pytest.mark.parametrize("build_options", [
    ["--no-build-isolation"],
    ["--find-links", DEBIAN_WHEELS],
], ids=["debian-setuptools", "isolated"])
def test_install_run_uninstall(tmp_path, build_options):
    # Nothing of the build tree's PYTHONPATH, nor of the pip settings of the
    # machine: the environment sees only what pip installed into it.
    # Nor the tests' zelvik-sim: the package's own must be found.
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "ZL_SIM") and not k.startswith("PIP_")}
    env.update(ZL_CMAKE_BUILD_DIR=os.environ["ZL_BUILD_DIR"], PIP_CONFIG_FILE=os.devnull,
               PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    venv = tmp_path / "venv"
    run("/usr/bin/python3", "-m", "venv", "--system-site-packages", "--without-pip", venv,
        env=env, cwd=tmp_path)
    python, pip = venv / "bin" / "python", [venv / "bin" / "python", "-m", "pip"]
    source = tmp_path / "source"
    source.mkdir()
    for name in PACKAGE_FILES:
        shutil.copy(REPO / name, source)
    run(*pip, "install", *build_options, source, env=env, cwd=tmp_path)

    site = Path(run(python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))",
                    env=env, cwd=tmp_path).strip())
    release, module_version, module_file = run(python, "-c", (
        "import importlib.metadata, zl; "
        "print(importlib.metadata.version('zl'), zl.__version__, zl.__file__)"),
        env=env, cwd=tmp_path).split()
    assert Path(module_file) == site / "zl" / "__init__.py"
    assert module_version == "1.1.3"
    zl = venv / "bin" / "zl"
    assert run(zl, "--version", env=env, cwd=tmp_path) == \
        "zl %s (Python module zl %s)\n" % (release, module_version)
    assert "logset" in run(zl, "--help", env=env, cwd=tmp_path)
    package = site / "zl"
    assert (package / "_zl.pyi").read_text() == (REPO / "python" / "zl" / "_zl.pyi").read_text()
    assert (package / "py.typed").exists() and not (site / "zl-stubs").exists()
    assert (site / "zl_cli" / "readers.py").exists() and (site / "zl_pytest" / "plugin.py").exists()
    # A type checker reads the package's types where it is installed: the
    # extension's stubs and the Python layers alike.
    (tmp_path / "typed.py").write_text(
        "import zl\nfrom zl import readers, runs\n"
        "level: str = zl.Client('').pve('TANK_LEVEL')\n"
        "log: int = readers.read_test_log('x.tlg')\n"
        "run: str = runs.start(zl.Client(''), 'x.scn').sid\n")
    checked = subprocess.run([python, "-m", "mypy", "--cache-dir", tmp_path / "mypy", "typed.py"],
                             env=env, cwd=tmp_path, capture_output=True, text=True,
                             timeout=BOUND_S)
    assert [line.split(": error: ")[1] for line in checked.stdout.splitlines()
            if ": error: " in line] == [
        'Incompatible types in assignment (expression has type "float", variable has type "str")'
        "  [assignment]",
        'Incompatible types in assignment (expression has type "TestLog", variable has type '
        '"int")  [assignment]',
        'Incompatible types in assignment (expression has type "int", variable has type "str")'
        "  [assignment]"], checked.stdout
    # The campaign plugin loads by itself in the installed environment.
    assert "--zl-naming" in run(python, "-m", "pytest", "--help", env=env, cwd=tmp_path)

    # The stand-in comes with the package: `zl sim` and --zl-sim run it
    # with nothing of the sources or the build tree named.
    packaged_sim = site / "zl" / "bin" / "zelvik-sim"
    assert os.access(packaged_sim, os.X_OK)
    shutil.copy(REPO / "examples" / "plant.tags", tmp_path)
    shown = run(zl, "sim", "--tags", "plant.tags", "--", "sh", "-c",
                'echo "$ZL_DATABASES $ZL_ORB_OPTIONS"', env=env, cwd=tmp_path)
    assert shown.startswith("SIM -ORBInitRef NameService=corbaloc::127.0.0.1:"), shown
    (tmp_path / "test_stand_in.py").write_text(
        "def test_plant(zl_client, zl_sim):\n"
        "    assert zl_client.hellozl('$KERNEL.NAME') == 'SIM'\n"
        "    assert zl_sim.control('ping') == 'OK'\n")
    run(python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--zl-sim=plant.tags",
        "test_stand_in.py", env=env, cwd=tmp_path)

    run(*pip, "uninstall", "--yes", "zl", env=env, cwd=tmp_path)
    # pip takes an emptied site-packages away too.
    left = [p.name for p in site.iterdir() if p.name.startswith("zl")] if site.exists() else []
    assert left == [] and not zl.exists()
