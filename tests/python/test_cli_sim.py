"""zl sim: the services launcher as a command of zl (its Python API and
--serve protocol are tested with tools/zl_services.py, the same module, in
tests/services/). Runs the build tree's zl ($ZL_CLI) in a child process:
the launcher takes the process's signals."""
import os
import subprocess

import pytest

from conftest import PLANT_TAGS

ZL = os.environ.get("ZL_CLI", "build/bin/zl")
BOUND_S = 120.0


def zl_sim(*argv, env=None):
    done = subprocess.run([ZL, "sim", *map(str, argv)], capture_output=True, text=True,
                          timeout=BOUND_S, env=env)
    return done.returncode, done.stdout, done.stderr


USAGE = [
    # (arguments, the error line)
    ([], "zl sim: give either --serve or -- COMMAND"),
    (["--serve", "--", "true"], "zl sim: give either --serve or -- COMMAND"),
    (["--timeout", "0", "--", "true"], "zl sim: --timeout must be above 0"),
]


@pytest.mark.parametrize("argv,line", USAGE)
def test_usage_errors(argv, line):
    status, out, err = zl_sim(*argv)
    assert (status, out) == (2, "")
    assert err.startswith("usage: zl sim ") and err.splitlines()[-1] == line


def test_services_that_do_not_come_up():
    status, out, err = zl_sim("--sim", "/nonexistent/zelvik-sim", "--", "true")
    assert (status, out) == (125, "")
    assert err == ("zl sim: zelvik-sim not found at /nonexistent/zelvik-sim (install zl with "
                   "it, build it, or give --sim PATH or ZL_SIM)\n")


def test_finds_the_build_trees_server_and_gives_the_commands_status():
    # Without ZL_SIM the launcher beside the build tree's package finds the
    # build tree's zelvik-sim.
    env = {k: v for k, v in os.environ.items() if k != "ZL_SIM"}
    status, out, err = zl_sim("--tags", PLANT_TAGS, "--", "sh", "-c",
                              'echo "$ZL_DATABASES $ZL_ORB_OPTIONS"; exit 3', env=env)
    assert status == 3, err
    assert out.startswith("SIM -ORBInitRef NameService=corbaloc::127.0.0.1:"), out
