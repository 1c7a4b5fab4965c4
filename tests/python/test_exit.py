"""Interpreter exit and Ctrl-C with clients alive: the process ends by
itself with status 0. Each case runs a script in a child process against
services of its own; the only time bound is a generous hang bound."""

import signal
import subprocess

import pytest

from conftest import HANG_BOUND_S, run_script

pytestmark = pytest.mark.services(tags=["examples/plant.tags"])

PRELUDE = """
import os, sys, threading, time
import zl
client = zl.Client(os.environ["ORB"])
assert client.connect("SIM") == 0, "connect"
"""

# (script after the prelude, what happens to the server first). Every
# script ends without disconnecting.
CASES = [
    # events on: the listener thread must be stopped at exit
    ("assert client.enableevents(1) == 0\nclient.pve('LEVEL_SP')\n", None),
    # a second client, never connected, and one not initialised
    ("other = zl.Client(os.environ['ORB'])\nbare = zl.Client.__new__(zl.Client)\n"
     "assert client.enableevents(1) == 0\n", None),
    # a daemon thread inside client calls while the interpreter exits
    ("assert client.enableevents(1) == 0\n"
     "def spin():\n"
     "    while True:\n"
     "        client.pve('LEVEL_SP'); client.msgsexist(0)\n"
     "threading.Thread(target=spin, daemon=True).start()\n"
     "time.sleep(0.2)\n", None),
    # the server gone before the exit
    ("assert client.enableevents(1) == 0\nprint('ready', flush=True)\nsys.stdin.readline()\n",
     "kill"),
]


@pytest.mark.parametrize("script,server", CASES,
                         ids=["events", "more-clients", "daemon-thread-in-calls", "server-killed"])
def test_exit_without_disconnect(services, script, server):
    child = run_script(PRELUDE + script, {"ORB": services.orb_options},
                       stdin=subprocess.PIPE)
    if server == "kill":
        assert child.stdout.readline().strip() == "ready"
        services.kill_sim()
        child.stdin.write("go\n")
        child.stdin.flush()
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err


def test_ctrl_c_while_connected_with_events(services):
    child = run_script(PRELUDE + """
assert client.enableevents(1) == 0
try:
    # Inside the try: the signal may come as soon as "ready" is out.
    print("ready", flush=True)
    while True:
        client.pve("LEVEL_SP")
        client.getnextzlmessage(0)
        time.sleep(0.01)
except KeyboardInterrupt:
    print("interrupted", flush=True)
""", {"ORB": services.orb_options})
    assert child.stdout.readline().strip() == "ready"
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert (child.returncode, out.strip()) == (0, "interrupted"), err


def test_dropping_a_client_with_events_on(services):
    # Deleting the last reference destroys the client, its connection and
    # its message listener; the process goes on with a new client.
    child = run_script(PRELUDE + """
assert client.enableevents(1) == 0
del client
import gc; gc.collect()
again = zl.Client(os.environ["ORB"])
assert again.connect("SIM") == 0
print(again.pve("LEVEL_SP"))
""", {"ORB": services.orb_options})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert (child.returncode, out.strip()) == (0, "2.5"), err


FIRST_CLIENTS_ON_THREADS = """
import os, threading
import zl
THREADS = 8
start = threading.Barrier(THREADS)
made = []
def make():
    start.wait()
    client = zl.Client(os.environ["ORB"])   # releases the interpreter lock
    if client.connect("SIM") == 0 and client.pve("LEVEL_SP") == 2.5:
        made.append(client)
threads = [threading.Thread(target=make) for _ in range(THREADS)]
for t in threads:
    t.start()
for t in threads:
    t.join()
state = zl._orbstate()
print(len(made), state["init_count"], state["runners"], state["exit_hooks"])
"""


def test_first_clients_made_on_many_threads_share_one_orb(services):
    # The process's first clients, made at the same moment: one ORB, one
    # runner, one exit handler, every client working, and a clean exit. The
    # race is narrow, so several processes try it.
    for attempt in range(8):
        child = run_script(FIRST_CLIENTS_ON_THREADS, {"ORB": services.orb_options})
        out, err = child.communicate(timeout=HANG_BOUND_S)
        assert (attempt, child.returncode, out.split()) == (attempt, 0, ["8", "1", "1", "1"]), err
