"""Interpreter exit with zl.aio clients open and their tasks pending: the
process ends by itself, with the status its script gives, within the hang
bound. Each case runs a script in a child process against services of its
own; the script's client calls, its subscription, its message stream and
a long scenario run are all under way when it leaves."""

import os
import signal
import subprocess

import pytest

from conftest import HANG_BOUND_S, run_script

pytestmark = pytest.mark.services(tags=["examples/plant.tags"])

PRELUDE = """
import asyncio, os, signal, sys
import zl, zl.aio

with open("long.scn", "w") as f:
    f.write("DELAYSECS 600\\n")

async def calls(c):
    while True:
        await c.pve("TEMP_SP")

async def changes(c):
    async for batch in c.subscribe(["*"]):
        pass

async def messages(c):
    async for text in c.messages():
        pass

async def start(c):
    await c.connect("SIM")
    tasks = [asyncio.ensure_future(t) for t in
             (calls(c), changes(c), messages(c), c.runscenario("long.scn"))]
    while not await c.listscenarios():
        await asyncio.sleep(0.01)
    print("ready", flush=True)
    return tasks
"""

def child_env(services, **extra):
    """The script's environment: it runs in a folder of its own, so the
    module's path is made absolute."""
    path = os.pathsep.join(os.path.abspath(p)
                           for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
    return dict(ORB=services.orb_options, PYTHONPATH=path, **extra)


# (how the script leaves, its exit status)
CASES = [
    # asyncio.run cancels the tasks: the run stops its scenario, the
    # streams end, the client is never closed
    ("""
async def main():
    await start(zl.aio.Client(os.environ["ORB"]))
asyncio.run(main())
""", 0),
    # sys.exit from inside the loop
    ("""
async def main():
    await start(zl.aio.Client(os.environ["ORB"]))
    sys.exit(3)
asyncio.run(main())
""", 3),
    # an exception out of the loop
    ("""
async def main():
    await start(zl.aio.Client(os.environ["ORB"]))
    raise LookupError("left")
asyncio.run(main())
""", 1),
    # a loop that is left with its tasks pending and never closed
    ("""
loop = asyncio.new_event_loop()
loop.run_until_complete(start(zl.aio.Client(os.environ["ORB"])))
""", 0),
    # a call the server holds while the loop ends
    ("""
async def main():
    c = zl.aio.Client(os.environ["ORB"])
    await start(c)
    from zl.services import control
    control(int(os.environ["CONTROL"]), "delay PVE 2000 count=1")
    asyncio.ensure_future(c.pve("TEMP_SP"))
    await asyncio.sleep(0.2)
asyncio.run(main())
""", 0),
]


@pytest.mark.parametrize("script, status", CASES,
                         ids=["run-returns", "sys-exit", "exception", "loop-left-open",
                              "call-held-by-the-server"])
def test_exit_with_tasks_pending(services, tmp_path, script, status):
    child = run_script(PRELUDE + script,
                       child_env(services, CONTROL=str(services.control_port)), cwd=tmp_path)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert (child.returncode, out.split()[:1]) == (status, ["ready"]), err
    if status == 0:
        assert "Traceback" not in err, err


def test_ctrl_c_while_tasks_run(services, tmp_path):
    child = run_script(PRELUDE + """
async def main():
    await start(zl.aio.Client(os.environ["ORB"]))
    await asyncio.Event().wait()
try:
    asyncio.run(main())
except KeyboardInterrupt:
    print("interrupted", flush=True)
""", child_env(services), cwd=tmp_path, stdin=subprocess.DEVNULL)
    assert child.stdout.readline().strip() == "ready"
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert (child.returncode, out.strip()) == (0, "interrupted"), err
    with open(tmp_path / "long.tlg") as log:  # the cancelled run stopped its scenario
        assert "Scenario was aborted by StopScenario()" in log.read()
