"""Fixtures of the zl module's tests.

The process has one ORB, and the first zl.Client fixes its Naming Service,
so a test process shares one set of services (`plant`, started once) and one
connected client (`client`). Tests that change the server's state put it
back. Tests that need services of their own (a stopped server, interpreter
exit) run their client in a child process (`run_script`).

Needs zl importable (PYTHONPATH=<build>/python) and tools/ on sys.path;
ZL_SIM names the zelvik-sim to run (else build/sim/zelvik-sim).
"""

import os
import socket
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tools"))

from zl_services import LOOPBACK, Services  # noqa: E402
from zl_services_pytest import services, pytest_configure  # noqa: E402,F401

import zl  # noqa: E402

PLANT_TAGS = str(REPO / "examples" / "plant.tags")
HANG_BOUND_S = 30.0  # a child that takes longer is hung


@pytest.fixture(scope="session")
def plant():
    """The services with the example plant, one set per test process."""
    with Services(tags=[PLANT_TAGS]) as s:
        yield s


@pytest.fixture(scope="session")
def client(plant):
    """A zl.Client connected to the plant's database SIM."""
    c = zl.Client(plant.orb_options)
    assert c.connect("SIM") == 0
    yield c
    c.disconnect()


@pytest.fixture(scope="session")
def idle(plant):
    """A zl.Client that is never connected."""
    return zl.Client(plant.orb_options)


@pytest.fixture
def faults(plant):
    """The plant's control endpoint; armed faults are dropped after the test."""
    yield plant.control
    plant.control("clear")


def control_bytes(port, line):
    """Sends one control line given as bytes (texts that are not UTF-8)."""
    with socket.create_connection((LOOPBACK, port), timeout=10) as s:
        s.sendall(line + b"\n")
        reply = b""
        while b"\n" not in reply:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
    return reply.decode("latin-1").strip()


def run_script(source, env_extra=None, **popen):
    """Starts `source` in a child interpreter with zl importable; gives the
    Popen (standard output and error are pipes of text)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(source)], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **popen)
