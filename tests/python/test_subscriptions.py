"""Subscriptions to chosen tags: Callback.register(client, tags=[...]). Only
the changes of those tags reach `tagschanged`; the rule for names and
patterns; what bad `tags` do; the filter across a reconnection. The server's
control endpoint pushes changes with names of their own (prefix "T_"), and
each check ends with a marker change that the subscription includes: the
channel delivers in order, so once the marker has arrived, everything
pushed before it has been handled."""

import time

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

BOUND_S = 20.0
MARK = "T_MARK"


def wait_for(done, bound=BOUND_S):
    """Polls `done` in short slices; gives its last answer."""
    end = time.monotonic() + bound
    while not done():
        if time.monotonic() > end:
            return done()
        time.sleep(0.01)
    return True


class Recorder(zl.Callback):
    """Keeps the names of the pushed test changes (beginning "T_", any case),
    each event's changes as they came."""

    def __init__(self):
        super().__init__()
        self.names = []

    def tagschanged(self, change):
        if change.tag.upper().startswith("T_"):
            self.names.append(change.tag)
        return 0


def push(plant, *names):
    """One event with a change of each name."""
    reply = plant.control("event seq " + " ".join("%s:1:1:Auto" % n for n in names))
    assert reply.startswith("OK"), reply


def delivered(plant, recorder, *events):
    """Pushes each of `events` (lists of names), then the marker; gives the
    names delivered before the marker."""
    for names in events:
        push(plant, *names)
    push(plant, MARK)
    assert wait_for(lambda: MARK in recorder.names), recorder.names
    return recorder.names[:recorder.names.index(MARK)]


@pytest.fixture
def recorder(client):
    r = Recorder()
    yield r
    r.unregister()


# (tags, events pushed, names delivered): one row per rule of the match.
ROWS = [
    # names and patterns together; the changes of one event in their order
    (["T_TANK_*", "T_FEED_PUMP_CMD"],
     [["T_TANK_LEVEL", "T_FEED_PUMP_CMD", "T_LEVEL_SP", "T_TANK_TEMP"]],
     ["T_TANK_LEVEL", "T_FEED_PUMP_CMD", "T_TANK_TEMP"]),
    # a name is the whole name: neither a prefix nor a longer name
    (["T_FEED_PUMP_CMD"], [["T_FEED_PUMP_CM", "T_FEED_PUMP_CMDX", "T_FEED_PUMP_CMD"]],
     ["T_FEED_PUMP_CMD"]),
    # letters match without regard to case, both ways
    (["t_level_sp", "T_TANK_*"], [["T_LEVEL_SP"], ["t_tank_temp"]], ["T_LEVEL_SP", "t_tank_temp"]),
    # "?" is exactly one character, "*" any run, also none
    (["T_?C", "T_X*"], [["T_C", "T_IC", "T_IIC", "T_X"]], ["T_IC", "T_X"]),
    # events without a chosen change in between
    (["T_B"], [["T_A"], ["T_B"], ["T_C", "T_D"], ["T_B", "T_A", "T_B"]], ["T_B", "T_B", "T_B"]),
    # any iterable of str: a tuple, a set, a generator
    (("T_A", "T_B"), [["T_A", "T_C", "T_B"]], ["T_A", "T_B"]),
    ({"T_A"}, [["T_C", "T_A"]], ["T_A"]),
    ((n for n in ["T_A"]), [["T_A", "T_C"]], ["T_A"]),
    # None: every change, as without tags
    (None, [["T_A", "T_C"]], ["T_A", "T_C"]),
]


@pytest.mark.parametrize("tags,events,want", ROWS)
def test_only_the_chosen_tags_arrive(plant, client, recorder, tags, events, want):
    if tags is not None:
        tags = list(tags) + [MARK]
    assert recorder.register(client, tags=tags) == 0
    assert delivered(plant, recorder, *events) == want


def test_every_chosen_change_of_large_events_arrives(plant, client, recorder):
    # Events of 1500 changes span many of the connection's buffers: a name
    # may lie across two of them, and a buffer is reused while the request
    # is read on.
    assert recorder.register(client, tags=["T_*7", MARK]) == 0
    names = ["T_%04d" % i for i in range(1500)]
    events = [names] * 4
    want = [n for n in names if n.endswith("7")] * 4
    assert delivered(plant, recorder, *events) == want


def test_the_filter_holds_across_a_new_connection(plant, client, recorder):
    assert recorder.register(client, tags=["T_B", MARK]) == 0
    assert client.connect("SIM") == 0       # as after a server restart
    assert delivered(plant, recorder, ["T_A", "T_B"]) == ["T_B"]


def test_registering_again_replaces_the_tags(plant, client, recorder):
    assert recorder.register(client, tags=["T_A", MARK]) == 0
    assert recorder.register(client, tags=["T_B", MARK]) == 0
    assert delivered(plant, recorder, ["T_A", "T_B"]) == ["T_B"]
    recorder.names.clear()
    assert recorder.register(client) == 0     # no tags: every change again
    assert delivered(plant, recorder, ["T_A", "T_B"]) == ["T_A", "T_B"]


# (tags, exception, message): bad tags raise before anything changes.
BAD_TAGS = [
    ("T_A", TypeError, "tags must be an iterable of tag names or patterns, not str"),
    (b"T_A", TypeError, "tags must be an iterable of tag names or patterns, not bytes"),
    (5, TypeError, "tags must be an iterable of tag names or patterns, not int"),
    (["T_A", 5], TypeError, "tags: every entry must be a str, not int"),
    (["T_A", b"T_B"], TypeError, "tags: every entry must be a str, not bytes"),
    (["T_A", ""], ValueError, "tags: an entry is empty"),
    (["T_A\0T_B"], ValueError, "tags: an entry holds a NUL character"),
    (["\ud800"], UnicodeEncodeError, None),           # a lone surrogate has no UTF-8
]


@pytest.mark.parametrize("tags,exception,message", BAD_TAGS)
def test_bad_tags_leave_the_registration_as_it_was(plant, client, recorder, tags, exception,
                                                    message):
    assert recorder.register(client, tags=["T_A", MARK]) == 0
    with pytest.raises(exception) as e:
        recorder.register(client, tags=tags)
    if message is not None:
        assert str(e.value) == message
    assert delivered(plant, recorder, ["T_A", "T_B"]) == ["T_A"]


def test_tags_is_a_keyword(client, recorder):
    with pytest.raises(TypeError):
        recorder.register(client, ["T_A"])
    with pytest.raises(TypeError):
        recorder.register(client, tags=["T_A"], other=1)
    assert recorder.register(None, tags=["T_A"]) == 0   # ends the registration
    assert recorder.unregister() is False


@pytest.mark.services()
def test_no_chosen_change_makes_no_call(services):
    """A database of four plain tags, and no plant: nothing changes but what
    the test writes. The server counts the changes a consumer has taken (it
    answers a push once the upcall has returned): once it counts them all,
    every call they would make was made. In a child: the process's first
    client fixes its Naming Service."""
    child = run_script("""
        import os, socket, time, zl
        def taken():
            with socket.create_connection(("127.0.0.1", int(os.environ["CONTROL"]))) as s:
                s.sendall(b"status\\n")
                line = s.makefile().readline()
            return int(line.split(" events=")[1].split()[0])
        calls = []
        class Count(zl.Callback):
            def tagschanged(self, change):
                calls.append(change.tag)
                return 0
        client = zl.Client(os.environ["ORB"])
        assert client.connect("SIM") == 0
        assert client.download("A\\t\\t\\tAnalog\\nB\\t\\t\\tAnalog\\n"
                               "C\\t\\t\\tAnalog\\n") == 3
        cb = Count()
        value = 0.0
        for tags, names, want in (([], "A B", []),
                                  (["b"], "A C", []),
                                  (["b"], "A B C", ["B"])):
            del calls[:]
            assert cb.register(client, tags=tags) == 0
            before = taken()
            value += 1.0
            names = names.split()
            assert client.setmultipve(names, [value] * len(names)) == len(names)
            end = time.monotonic() + 20
            while taken() < before + len(names):
                assert time.monotonic() < end, "the changes were not taken"
                time.sleep(0.01)
            assert calls == want, (tags, calls)
        print("ok")
    """, {"ORB": services.orb_options, "CONTROL": str(services.control_port)})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    assert out.strip() == "ok"
