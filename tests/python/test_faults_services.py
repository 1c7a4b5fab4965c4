"""Faults of the services while a script is connected: the server killed in
the middle of a tag-file transfer or of a log set write, the Naming Service
or the Event Service killed, the server restarted, a server that accepts
calls and never answers. Each script runs in a child process against
services of its own and must end by itself, with status 0, after showing
that the client is usable again; the parent injects the fault at the step
the child announces. The only time bound is the generous hang bound."""

import os
import subprocess
import time

import pytest

from conftest import HANG_BOUND_S, run_script

pytestmark = pytest.mark.services(tags=["examples/plant.tags"])

PRELUDE = """
import os, struct, sys, threading, time
import zl
client = zl.Client(os.environ["ORB"] + " " + os.environ.get("EXTRA", ""))
assert client.connect("SIM") == 0, "connect"

def step(name):
    # Tells the parent where we are and waits for its go.
    print("STEP " + name, flush=True)
    assert sys.stdin.readline().strip() == "go", "parent gone"

def until(done, limit=20.0):
    deadline = time.monotonic() + limit
    while not done():
        assert time.monotonic() < deadline, "condition not reached"
        time.sleep(0.05)
"""


class Child:
    """A child script driven step by step over its standard input."""

    def __init__(self, services, script, tmp_path, extra=""):
        self.proc = run_script(PRELUDE + script,
                               {"ORB": services.orb_options, "EXTRA": extra},
                               stdin=subprocess.PIPE, cwd=str(tmp_path))
        self.lines = []

    def expect(self, name):
        """Reads standard output until the child announces step `name`."""
        while True:
            line = self.proc.stdout.readline()
            assert line, "child ended before step %s: %s" % (name, self.finish(check=False))
            line = line.rstrip("\n")
            self.lines.append(line)
            if line == "STEP " + name:
                return

    def go(self):
        self.proc.stdin.write("go\n")
        self.proc.stdin.flush()

    def finish(self, check=True):
        """Waits (bounded) for the end; gives standard output and error."""
        out, err = self.proc.communicate(timeout=HANG_BOUND_S)
        out = "\n".join(self.lines) + "\n" + out
        if check:
            assert self.proc.returncode == 0, out + err
        return out, err


def await_in_call(services):
    """Polls until the armed delay has been taken by a call, which then sits
    in the server."""
    deadline = time.monotonic() + HANG_BOUND_S
    while services.control("faults") != "OK 0":
        assert time.monotonic() < deadline, "the delayed call never came"
        time.sleep(0.02)


def pause_server(services):
    """Stops the server with SIGSTOP and waits until every thread of it is
    stopped (state T): only then can no call be answered."""
    services.pause_sim()
    pid = services.sim_pid
    deadline = time.monotonic() + HANG_BOUND_S

    def all_stopped():
        states = []
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                states.append(f.read().rsplit(")", 1)[1].split()[0])
        return all(state in ("T", "t") for state in states)

    while not all_stopped():
        assert time.monotonic() < deadline, "the server did not stop"
        time.sleep(0.02)


def service_process(services, name):
    """The launcher's record of a service ("omniNames", "omniEvents")."""
    for p in services._state.processes:
        if p.name == name:
            return p
    raise AssertionError("no process " + name)


# --- the server killed in the middle of a call ---------------------------

TRANSFER_CASES = [
    # savetags: killed while the client waits for the next chunk
    ("savetags", "next_chunk", "pass"),
    # readtags: killed while the client waits on a sent chunk
    ("readtags", "send_chunk", "assert client.savetags('plant.tag') > 0"),
]


@pytest.mark.parametrize("call,operation,before", TRANSFER_CASES,
                         ids=[c[0] for c in TRANSFER_CASES])
def test_server_killed_during_tag_transfer(services, tmp_path, call, operation, before):
    child = Child(services, before + """
step("transfer")
print("result %%d" %% client.%s("plant.tag"), flush=True)
step("restarted")
# The old attachment is gone; a new connect attaches to the new server and
# both transfers work again.
assert client.connect("SIM") == 0
assert client.savetags("again.tag") > 0
assert client.readtags("again.tag") > 0
client.disconnect()
""" % call, tmp_path)
    child.expect("transfer")
    assert services.control("delay %s 60000" % operation) == "OK"
    child.go()
    await_in_call(services)
    services.kill_sim()
    services.start_sim()
    child.expect("restarted")
    # Nothing was transferred: no tags counted.
    assert "result 0" in child.lines, child.lines
    child.go()
    child.finish()


def test_server_killed_during_log_set_write(services, tmp_path):
    # A scenario makes a log set that the client's timer writes every second
    # (every item each time); the server dies while the timer waits on a
    # value for it.
    (tmp_path / "mk.scn").write_text(
        "ZLCMD LSCREATE K\nZLCMD LSSET K FILE k.log\nZLCMD LSSET K.FREQ 1\n"
        "ZLCMD LSSET K ALWAYS true\nZLCMD LSADDTAGS K LEVEL_SP\nZLCMD LSSET K ENABLE true\n")
    child = Child(services, """
def make_log_set():
    sid = client.startscenario("mk.scn")
    assert sid > 0
    until(lambda: not client.scenarioinfo(sid))

def size():
    return os.path.getsize("K.LOG") if os.path.exists("K.LOG") else 0

make_log_set()
until(lambda: size() > 0)
step("writing")
# The write that waited ends with the failure; the timer goes on writing
# (failed reads) while the server is down.
now = size()
until(lambda: size() > now)
step("restarted")
# A new attachment drops the old one's log sets; a new log set records the
# new server's values.
assert client.connect("SIM") == 0
make_log_set()
assert client.setpve("LEVEL_SP", 4.25) == 1
until(lambda: struct.pack("<d", 4.25) in open("K.LOG", "rb").read())
client.disconnect()
""", tmp_path)
    child.expect("writing")
    assert services.control("delay PVE 60000") == "OK"
    await_in_call(services)
    services.kill_sim()
    child.go()
    child.expect("restarted")
    services.start_sim()
    child.go()
    child.finish()


# --- the Naming Service and the Event Service ----------------------------

def test_connect_retried_until_the_killed_server_is_back(services, tmp_path):
    # The dead server stays in the Naming Service: every connect fails, the
    # first one too, until the server is back; a retry loop then ends
    # connected and calls work.
    child = Child(services, """
step("connected")
assert client.connect("SIM") == -1, "first connect to the dead server"
assert client.connect("SIM") == -1, "second connect to the dead server"
assert client.pve("LEVEL_SP") == 0.0
step("down")
until(lambda: client.connect("SIM") == 0)
assert client.pve("LEVEL_SP") == 2.5
""", tmp_path)
    child.expect("connected")
    services.kill_sim()
    child.go()
    child.expect("down")
    services.start_sim()
    child.go()
    out, err = child.finish()
    assert "ZelvikDatabase is bogus" in err, err


def test_naming_service_killed_and_restarted(services, tmp_path):
    naming = service_process(services, "omniNames")
    argv = list(naming.popen.args)
    data = argv[argv.index("-datadir") + 1]
    child = Child(services, """
# The reasons of a failed connect are debug lines.
import logging
logging.basicConfig(level=logging.DEBUG, format="%(message)s")
step("connected")
# The attachment does not need the Naming Service.
assert client.pve("LEVEL_SP") == 2.5
# A connect that cannot look the name up leaves the attachment alone.
assert client.connect("SIM") == -1
assert client.pve("LEVEL_SP") == 2.5
other = zl.Client(os.environ["ORB"])
assert other.connect("SIM") != 0
assert other.listzldatabases() == ""
step("restarted")
assert other.connect("SIM") == 0
assert other.pve("LEVEL_SP") == 2.5
other.disconnect()
client.disconnect()
""", tmp_path)
    child.expect("connected")
    naming.popen.kill()
    naming.popen.wait(timeout=HANG_BOUND_S)
    child.go()
    child.expect("restarted")
    # The same port and data directory: the bindings come back from its log.
    restarted = services._spawn("omniNames-2", [
        "omniNames", "-datadir", data, "-nohostname",
        "-errlog", os.path.join(data, "errors-2.log"),
        "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % services.naming_port])
    assert services._await_locate(restarted, services.naming_port, "NameService")
    child.go()
    out, err = child.finish()
    assert "NOT FOUND" in err or "exception" in err.lower(), err


def test_event_service_killed_while_events_enabled(services, tmp_path):
    child = Child(services, """
assert client.enableevents(1) == 0
step("killed")
# Tag calls go on; the queues keep what had come; nothing new arrives.
assert client.pve("LEVEL_SP") == 2.5
while client.getnextzlmessage(zl.MsgType_AllMsgs):
    pass
assert client.enableevents(0) == 0
t0 = time.monotonic()
client.disconnect()
print("disconnect %.1f" % (time.monotonic() - t0), flush=True)
# A new attachment works; events cannot be had without the service.
assert client.connect("SIM") == 0
print("enable %d" % client.enableevents(1), flush=True)
client.disconnect()
""", tmp_path)
    child.expect("killed")
    service_process(services, "omniEvents").popen.kill()
    child.go()
    out, err = child.finish()
    assert "enable -1" in out  # no event service: no channel to listen on


# --- the server restarted ------------------------------------------------

def test_server_restarted_events_and_callbacks_set_up_again(services, tmp_path):
    child = Child(services, """
changes = []
class Recorder(zl.Callback):
    def tagschanged(self, change):
        changes.append(change.tag)
        return 0
cb = Recorder()
assert client.enableevents(1) == 0
assert cb.register(client) == 0
until(lambda: changes)
step("restarted")
# The first call finds the broken connection.
assert client.pve("LEVEL_SP") == 0.0
assert client.connect("SIM") == 0
assert client.enableevents(1) == 0
del changes[:]
assert cb.register(client) == 0
until(lambda: changes)
step("message")
def arrived():
    return "in R) back" in client.getnextzlmessage(zl.MsgType_AllMsgs)
until(arrived)
client.disconnect()
""", tmp_path)
    child.expect("restarted")
    services.restart_sim()
    child.go()
    child.expect("message")
    assert services.control("message info R back").startswith("OK")
    child.go()
    child.finish()


def test_server_restarted_registered_callback_follows_the_reconnect(services, tmp_path):
    # Registered once: the connect to the restarted server sets it up again.
    child = Child(services, """
import weakref
changes = []
class Recorder(zl.Callback):
    def tagschanged(self, change):
        changes.append(change.tag)
        return 0
cb = Recorder()
assert cb.register(client) == 0
until(lambda: changes)
step("restarted")
assert client.pve("LEVEL_SP") == 0.0
assert client.connect("SIM") == 0
del changes[:]
until(lambda: changes)
assert cb.unregister() is True
gone = weakref.ref(cb)
del cb
assert gone() is None
client.disconnect()
""", tmp_path)
    child.expect("restarted")
    services.restart_sim()
    child.go()
    child.finish()


# --- a server that accepts calls and never answers -----------------------

def test_paused_server_each_call_ends_by_the_call_time_limit(services, tmp_path):
    # A call that timed out drops its connection, and the next call's new
    # connection waits for its first reply under the connect time limit:
    # both limits are short here.
    child = Child(services, """
assert client.enableevents(1) == 0
step("paused")
for call, args in (("pve", ("LEVEL_SP",)), ("setpve", ("LEVEL_SP", 3.0)),
                   ("tagcount", ()), ("hellozl", ("$KERNEL.NAME",))):
    print("%s -> %r" % (call, getattr(client, call)(*args)), flush=True)
client.disconnect()
step("resumed")
assert client.connect("SIM") == 0
# The write that timed out (completed MAYBE) may have been done after all.
assert client.pve("LEVEL_SP") in (2.5, 3.0)
client.disconnect()
""", tmp_path, extra="-ORBclientCallTimeOutPeriod 500 -ORBclientConnectTimeOutPeriod 500")
    child.expect("paused")
    try:
        pause_server(services)
        child.go()
        child.expect("resumed")
    finally:
        services.resume_sim()
    child.go()
    out, err = child.finish()
    assert err.count("IDL:omg.org/CORBA/TIMEOUT:1.0") >= 4, out + err
