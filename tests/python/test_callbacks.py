"""zl.Callback: registration with a client and the delivery of tag changes
pushed by the server. The server's control endpoint pushes events with
names of their own (prefix "T_"), so the plant's own changes, which arrive
too, are told apart."""

import gc
import logging
import subprocess
import sys
import threading
import time
import weakref

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

BOUND_S = 20.0


def wait_for(done, bound=BOUND_S):
    """Polls `done` in short slices; gives its last answer."""
    end = time.monotonic() + bound
    while not done():
        if time.monotonic() > end:
            return done()
        time.sleep(0.01)
    return True


class Recorder(zl.Callback):
    """Keeps every pushed test change (names beginning "T_")."""

    def __init__(self):
        super().__init__()
        self.changes = []
        self.lock = threading.Lock()

    def tagschanged(self, change):
        if change.tag.startswith("T_"):
            with self.lock:
                self.changes.append((change.tag, change.pve, change.pv, change.tagmode,
                                     change.secs, change.usecs))
        return 0

    def names(self):
        with self.lock:
            return [c[0] for c in self.changes]


def push(plant, *entries):
    reply = plant.control("event seq " + " ".join(entries))
    assert reply.startswith("OK"), reply
    return reply


@pytest.fixture
def recorder(client):
    r = Recorder()
    assert r.register(client) == 0
    return r


def test_three_changes_of_one_event_arrive_in_order(plant, recorder):
    push(plant, "T_A:1.5:10:Auto", "T_B:2.5:20:Manual", "T_C:3.5:30:NullMode")
    assert wait_for(lambda: len(recorder.names()) >= 3)
    got = recorder.changes
    assert [c[:4] for c in got] == [("T_A", 1.5, 10.0, 0), ("T_B", 2.5, 20.0, 1),
                                    ("T_C", 3.5, 30.0, 1)]
    # The change time is the server's wall clock.
    assert abs(got[0][4] - time.time()) < 3600 and 0 <= got[0][5] < 1000000


def test_empty_and_foreign_bodies_give_no_call(plant, recorder):
    for line in ("event seq", "event text hello", "event long 7", "event empty"):
        assert plant.control(line).startswith("OK")
    push(plant, "T_MARK:0:0:Auto")
    assert wait_for(lambda: recorder.names() == ["T_MARK"])


def test_default_tagschanged_gives_zero():
    assert zl.Callback().tagschanged(zl.ZLTagChanges()) == 0
    assert zl.Callback().tagschanged() == 0


def test_reregistration_leaves_one_active_registration(plant, client):
    first, second = Recorder(), Recorder()
    assert first.register(client) == 0
    assert second.register(client) == 0
    assert second.register(client) == 0
    push(plant, "T_ONE:1:1:Auto")
    push(plant, "T_TWO:1:1:Auto")
    assert wait_for(lambda: len(second.names()) >= 2)
    assert second.names() == ["T_ONE", "T_TWO"]
    assert first.names() == []


def test_reconnect_sets_the_registered_callback_up_again(plant, client):
    # A connect replaces the attachment and with it the notifications.
    r = Recorder()
    assert r.register(client) == 0
    assert client.connect("SIM") == 0
    push(plant, "T_AFTER_CONNECT:1:1:Auto")
    assert wait_for(lambda: r.names() == ["T_AFTER_CONNECT"])


def _reconnect(client):
    assert client.connect("SIM") == 0


# Each way a registration ends, and what gives the client its server again.
ENDINGS = {
    "unregister": (lambda cb, client: cb.unregister() is True, None),
    "register_none": (lambda cb, client: cb.register(None) == 0, None),
    "disconnect": (lambda cb, client: client.disconnect() == 0, _reconnect),
}


@pytest.mark.parametrize("ending", sorted(ENDINGS))
def test_ended_registration_stops_calls_and_releases_the_callback(plant, client, ending):
    end, restore = ENDINGS[ending]
    old = Recorder()
    assert old.register(client) == 0
    push(plant, "T_BEFORE:1:1:Auto")
    assert wait_for(lambda: old.names() == ["T_BEFORE"])
    assert end(old, client)
    if restore:
        restore(client)
    # Not registered any more: a reconnect does not bring it back either.
    assert client.connect("SIM") == 0
    calls = len(old.names())
    gone = weakref.ref(old)

    # Changes pushed after the end reach a new callback, never the old one.
    new = Recorder()
    assert new.register(client) == 0
    push(plant, "T_LATER:1:1:Auto")
    assert wait_for(lambda: new.names() == ["T_LATER"])
    assert len(old.names()) == calls
    assert old.unregister() is False  # nothing left to end

    del old
    gc.collect()
    assert gone() is None


def test_unregister_from_the_handler(plant, client):
    class Once(Recorder):
        def tagschanged(self, change):
            super().tagschanged(change)
            if change.tag == "T_STOP":
                self.result = self.unregister()
            return 0

    once = Once()
    assert once.register(client) == 0
    push(plant, "T_STOP:1:1:Auto", "T_SAME_EVENT:1:1:Auto")
    assert wait_for(lambda: getattr(once, "result", None) is True)
    sync = Recorder()
    assert sync.register(client) == 0
    push(plant, "T_LATER:1:1:Auto")
    assert wait_for(lambda: sync.names() == ["T_LATER"])
    # Even the next change of the same event is not delivered.
    assert once.names() == ["T_STOP"]


def test_plain_callback_is_released_as_well(client):
    cb = zl.Callback()
    assert cb.register(client) == 0
    gone = weakref.ref(cb)
    assert cb.unregister() is True
    del cb
    assert gone() is None


# (id, the arguments of register, its result or the exception it raises, the
# error line it logs). The line is a record of logging, there before the call
# returns.
BAD_REGISTRATIONS = [
    ("not-a-client", lambda idle: ("not a client",), TypeError,
     "ZLCallback.register() could not parse parameters"),
    ("no-argument", lambda idle: (), TypeError,
     "ZLCallback.register() could not parse parameters"),
    # initialised but never connected: the channel cannot be set up
    ("never-connected", lambda idle: (idle,), -1,
     "SetupNotifications() returned -1 in ZLCallback.register"),
    ("never-initialised", lambda idle: (zl.Client.__new__(zl.Client),), -1,
     "zl.Client object passed to ZLCallback.register was not initialied"),
]


@pytest.mark.parametrize("args,outcome,line", [r[1:] for r in BAD_REGISTRATIONS],
                         ids=[r[0] for r in BAD_REGISTRATIONS])
def test_register_bad_arguments(idle, caplog, capfd, args, outcome, line):
    cb = zl.Callback()
    if isinstance(outcome, type):
        with pytest.raises(outcome):
            cb.register(*args(idle))
    else:
        assert cb.register(*args(idle)) == outcome
    got = [(r.name, r.levelno, r.getMessage()) for r in caplog.records
           if r.name.startswith("zl")]
    assert ("zl.broker", logging.ERROR, line) in got, got
    assert line not in capfd.readouterr().err  # not written past logging


def test_raising_callback_does_not_stop_delivery(plant, client, monkeypatch):
    raised = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: raised.append(u.exc_value))

    class Raiser(Recorder):
        def tagschanged(self, change):
            super().tagschanged(change)
            if change.tag == "T_BAD":
                raise ValueError("bad change")
            if change.tag == "T_SLOW":
                time.sleep(0.3)
            return 0

    r = Raiser()
    assert r.register(client) == 0
    push(plant, "T_BAD:1:1:Auto", "T_SLOW:2:2:Auto", "T_AFTER:3:3:Auto")
    push(plant, "T_NEXT:4:4:Auto")
    assert wait_for(lambda: len(r.names()) >= 4)
    assert r.names() == ["T_BAD", "T_SLOW", "T_AFTER", "T_NEXT"]
    assert any(isinstance(e, ValueError) for e in raised)


def test_delivery_while_the_main_thread_is_in_a_long_call(plant, client, faults):
    assert faults("delay PVE 3000").startswith("OK")
    in_call = threading.Event()
    seen_in_call = []

    class Watch(Recorder):
        def tagschanged(self, change):
            if change.tag == "T_DURING":
                seen_in_call.append(in_call.is_set())
            return 0

    w = Watch()
    assert w.register(client) == 0

    def pusher():
        time.sleep(0.2)  # let the main thread enter its call
        push(plant, "T_DURING:1:1:Auto")

    t = threading.Thread(target=pusher)
    t.start()
    in_call.set()
    client.pve("LEVEL_SP")
    in_call.clear()
    t.join()
    assert wait_for(lambda: seen_in_call)
    assert seen_in_call[0] is True


def test_live_plant_changes_arrive(client):
    class Any(zl.Callback):
        def __init__(self):
            super().__init__()
            self.seen = []

        def tagschanged(self, change):
            self.seen.append(change)
            return 0

    a = Any()
    assert a.register(client) == 0
    assert wait_for(lambda: len(a.seen) > 0)
    c = a.seen[0]
    assert isinstance(c.tag, str) and c.tag and c.tagmode in (0, 1)


CHILD_PRELUDE = """
import os, sys, threading, time
import zl
c = zl.Client(os.environ["ORB"])
assert c.connect("SIM") == 0
"""


@pytest.mark.services(tags=["examples/plant.tags"], legacy=True)
def test_older_server_and_disconnect(services):
    """A server without ZelvikDatabase2: the channel comes through the
    Naming Service; disconnecting removes the client's consumer. In a child:
    the process's first client fixes its Naming Service."""
    child = run_script(CHILD_PRELUDE + """
seen = []
class R(zl.Callback):
    def tagschanged(self, change):
        if change.tag.startswith("T_"):
            seen.append((change.tag, change.tagmode))
        return 0
r = R()
assert r.register(c) == 0
print("registered", flush=True)
end = time.monotonic() + 20
while not seen and time.monotonic() < end:
    time.sleep(0.01)
assert seen == [("T_OLD", 1)], seen
assert c.disconnect() == 0
print("disconnected", flush=True)
""", {"ORB": services.orb_options})

    def consumers():
        return int(services.control("status").split(" consumers=")[1].split()[0])

    assert child.stdout.readline().strip() == "registered"
    assert consumers() == 1
    assert services.control("event seq T_OLD:1:1:Manual").startswith("OK")
    assert child.stdout.readline().strip() == "disconnected"
    assert wait_for(lambda: consumers() == 0)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err


@pytest.mark.services(tags=["examples/plant.tags"])
def test_exit_while_events_arrive(services):
    """The interpreter exits while the server keeps pushing changes to a
    callback: the process ends by itself with status 0."""
    child = run_script(CHILD_PRELUDE + """
n = [0]
class R(zl.Callback):
    def tagschanged(self, change):
        n[0] += 1
        return 0
r = R()
assert r.register(c) == 0
print("registered", flush=True)
end = time.monotonic() + 20
while n[0] < 1000 and time.monotonic() < end:
    time.sleep(0.01)
assert n[0] >= 1000, n[0]
print("exiting", flush=True)
""", {"ORB": services.orb_options})
    assert child.stdout.readline().strip() == "registered"
    stop = threading.Event()

    def flood():
        batch = "event seq " + " ".join("T_%d:%d:0:Auto" % (j, j) for j in range(200))
        while not stop.is_set():
            services.control(batch)

    t = threading.Thread(target=flood)
    t.start()
    try:
        out, err = child.communicate(timeout=HANG_BOUND_S)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail("the child hung at exit")
    finally:
        stop.set()
        t.join()
    assert child.returncode == 0, err
    assert out.strip() == "exiting"
