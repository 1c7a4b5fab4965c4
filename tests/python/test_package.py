"""The package zl: the extension module under its one name, and the layers
built on it.

- `import zl` is the extension as it always was: every name of zl._zl is
  zl's (the same object), the types and functions say they are zl's, and
  importing zl loads nothing else of the package;
- the layers import one way (read from the sources): the library (zl.readers,
  zl.runs, zl.reports, ...) imports no command, and no command (a module of
  the zl command, zl.serve, zl.pytest_plugin) imports another's modules;
- the old names (zl_cli.readers and the other documented modules of zl_cli,
  `python3 -m zl_cli`, `-p zl_pytest.plugin` and `-p no:zl_pytest.plugin`)
  keep working for one more release and warn, naming the new place.
"""

import ast
import importlib
import os
import pickle
import subprocess
import sys
import warnings
from pathlib import Path

import pytest

import zl
from zl import cli

REPO = Path(__file__).resolve().parents[2]
SOURCES = REPO / "python"
BOUND_S = 120.0


# --- zl is the extension's module ------------------------------------------

def test_every_name_of_the_extension_is_zls():
    names = [n for n in vars(zl._zl) if not n.startswith("__")] + ["__version__", "__doc__"]
    assert [n for n in names if getattr(zl, n, None) is not getattr(zl._zl, n)] == []
    assert zl.__doc__ == "Module containing ZL Client class"


@pytest.mark.parametrize("name", ["Client", "Callback", "ZLTagChanges", "Lease", "addme",
                                  "checksum"])
def test_types_and_functions_are_zls_by_name(name):
    value = getattr(zl, name)
    assert value.__module__ == "zl"
    assert pickle.loads(pickle.dumps(value)) is value  # pickled by the name zl.NAME


def test_importing_zl_loads_nothing_else_of_the_package():
    done = subprocess.run(
        [sys.executable, "-c", "import sys, zl; print(sorted(m for m in sys.modules "
                               "if m.split('.')[0] in ('zl', 'zl_cli', 'zl_pytest')))"],
        capture_output=True, text=True, timeout=BOUND_S, check=True)
    assert done.stdout.strip() == "['zl', 'zl._zl']"



def test_the_file_tools_load_without_the_extension():
    # The file readers' fuzzing harness loads the zl command from the sources
    # alone (no extension built): no command module may need the extension
    # when it is imported, only when it runs.
    done = subprocess.run(
        [sys.executable, "-c", "import readers_fuzz, sys; readers_fuzz.cli.build_parser(); "
                               "print('zl._zl' in sys.modules)"],
        capture_output=True, text=True, timeout=BOUND_S, cwd=REPO / "fuzz",
        env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    assert (done.returncode, done.stdout.strip()) == (0, "False"), done.stderr


# --- the layers import one way ----------------------------------------------

def module_names(root):
    """{module name: file} of the package zl under `root`."""
    found = {}
    for path in sorted((root / "zl").rglob("*.py")):
        parts = list(path.relative_to(root).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        found[".".join(parts)] = path
    return found


def imported(path, modules):
    """The modules of the package that a file imports, wherever it does (in
    a function, under TYPE_CHECKING): `from A import b` is module A.b when
    that is a module, else A."""
    names = set()
    for node in ast.walk(ast.parse(path.read_text(), str(path))):
        if isinstance(node, ast.Import):
            names.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module:
            for alias in node.names:
                inner = "%s.%s" % (node.module, alias.name)
                names.add(inner if inner in modules else node.module)
    return {n for n in names if n == "zl" or n.startswith("zl.")}


def unit(module, commands):
    """The command a module belongs to; "shared" for the zl command's own
    modules that its subcommands share (zl.cli, errors, connection);
    "library" for everything else."""
    for command in commands:
        if module == command or module.startswith(command + "."):
            return command
    if module == "zl.cli" or module.startswith("zl.cli."):
        return "shared"
    return "library"


def violations(root, subcommands):
    """What breaks the direction of imports in the package under `root`,
    where `subcommands` are the modules of the zl command's subcommands;
    the pytest plugin is a command of its own, but not one of zl's."""
    commands = list(subcommands) + ["zl.pytest_plugin"]
    modules = module_names(root)
    found = []
    for module, path in modules.items():
        mine = unit(module, commands)
        for target in sorted(imported(path, modules)):
            theirs = unit(target, commands)
            if theirs == "library" or theirs == mine:
                continue
            if theirs == "shared" and mine in subcommands:
                continue
            found.append("%s (%s) imports %s (%s)" % (module, mine, target, theirs))
    return found


SUBCOMMANDS = sorted({module for _, module, _ in cli.COMMANDS})


@pytest.mark.parametrize("files, expected", [
    # a library module that needs a command's code
    ({"zl/runs/a.py": "from zl.cli import report\n", "zl/cli/report.py": ""},
     ["zl.runs.a (library) imports zl.cli.report (zl.cli.report)"]),
    # ... also through a lazy import in a function, and the shared modules
    ({"zl/reports.py": "def f():\n    from zl.cli import errors\n", "zl/cli/errors.py": ""},
     ["zl.reports (library) imports zl.cli.errors (shared)"]),
    # one command that uses another's module
    ({"zl/cli/run.py": "import zl.cli.report\n", "zl/cli/report.py": ""},
     ["zl.cli.run (zl.cli.run) imports zl.cli.report (zl.cli.report)"]),
    ({"zl/serve/plant.py": "from zl.cli.run import parse\n", "zl/cli/run.py": ""},
     ["zl.serve.plant (zl.serve) imports zl.cli.run (zl.cli.run)"]),
    # the pytest plugin is no subcommand of zl: not even the shared modules
    ({"zl/pytest_plugin/station.py": "from zl.cli import connection\n",
      "zl/cli/connection.py": ""},
     ["zl.pytest_plugin.station (zl.pytest_plugin) imports zl.cli.connection (shared)"]),
    # what is allowed: the library, one's own modules, the shared modules
    ({"zl/cli/run.py": "import zl\nfrom zl import runs\nfrom zl.cli import errors, main\n",
      "zl/serve/app.py": "from zl.serve import plant\nfrom zl.cli import connection\n",
      "zl/serve/plant.py": "", "zl/runs/__init__.py": "from zl.readers import testlog\n",
      "zl/cli/errors.py": "", "zl/cli/connection.py": "from zl import naming\n"}, []),
])
def test_the_checker_finds_what_breaks_the_direction(tmp_path, files, expected):
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    assert violations(tmp_path, ["zl.cli.run", "zl.cli.report", "zl.serve"]) == expected


def test_imports_point_from_the_commands_to_the_library():
    assert "zl.runs" in imported(SOURCES / "zl" / "cli" / "run.py", module_names(SOURCES))
    assert violations(SOURCES, SUBCOMMANDS) == []


# --- the old names, for one more release ------------------------------------

@pytest.mark.parametrize("old, new, name", [
    ("zl_cli.readers", "zl.readers", "LogSet"),
    ("zl_cli.scenario_info", "zl.runs.scenario_info", "parse_scenario_info"),
    ("zl_cli.places", "zl.runs.places", "Collector"),
    ("zl_cli.services", "zl.services", "Services"),
])
def test_old_module_names_warn_and_give_the_new_modules(old, new, name):
    sys.modules.pop(old, None)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        # Compiled as this file's, so that the warning must name the line
        # that imported the old name, not the alias or the import system.
        exec(compile("import %s" % old, __file__, "exec"), {})
    assert getattr(sys.modules[old], name) is getattr(importlib.import_module(new), name)
    [warning] = [w for w in caught if w.category is FutureWarning]
    assert "use %s" % new in str(warning.message) and warning.filename == __file__


def test_python_m_zl_cli_runs_the_command_and_warns():
    old, new = (subprocess.run([sys.executable, "-m", module, "--version"], capture_output=True,
                               text=True, timeout=BOUND_S) for module in ("zl_cli", "zl.cli"))
    assert old.returncode == new.returncode == 0 and old.stdout == new.stdout
    assert "FutureWarning" in old.stderr and "python3 -m zl.cli" in old.stderr
    assert new.stderr == ""


@pytest.mark.parametrize("plugins, items, warning", [
    (["zl_pytest.plugin"], 1, "use -p zl.pytest_plugin"),
    # both names, in either order: the plugin is registered once
    (["zl_pytest.plugin", "zl.pytest_plugin"], 1, "use -p zl.pytest_plugin"),
    (["zl.pytest_plugin", "zl_pytest.plugin"], 1, "use -p zl.pytest_plugin"),
    # the old way to turn it off (it is on by itself once installed)
    (["zl.pytest_plugin", "no:zl_pytest.plugin"], 0, "use -p no:zl.pytest_plugin"),
    (["zl.pytest_plugin"], 1, None),
])
def test_the_old_plugin_name(tmp_path, plugins, items, warning):
    (tmp_path / "test_fill.scn").write_text("VERIFY TEMP_SP 60\n")
    argv = [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "--collect-only", "-q"]
    for plugin in plugins:
        argv += ["-p", plugin]
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTEST_")}
    done = subprocess.run(argv, cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=BOUND_S)
    shown = done.stdout + done.stderr
    assert done.returncode == (0 if items else 5), shown
    assert shown.count("test_fill.scn::test_fill") == items, shown
    if warning is None:
        assert "FutureWarning" not in shown, shown
    else:
        assert "FutureWarning" in shown and warning in shown, shown

