"""Server messages through zl.Client, and enableevents from a second thread."""

import threading
import time

import pytest

import zl
from conftest import control_bytes

WAIT_S = 10.0


def drain(client):
    while client.getnextzlmessage(zl.MsgType_AllMsgs):
        pass


def wait_for(predicate):
    deadline = time.monotonic() + WAIT_S
    while not predicate():
        assert time.monotonic() < deadline, "not within %.0f s" % WAIT_S
        time.sleep(0.01)


@pytest.fixture
def events(client):
    """The client with server messages on and its queues empty."""
    assert client.enableevents(1) in (0, 1)
    drain(client)
    yield client
    client.enableevents(0)
    drain(client)


# (type word sent, the type asked by msgsexist that must see it)
TYPES = [
    ("error", zl.MsgType_ErrorMsg),
    ("warning", zl.MsgType_WarninMsg),
    ("info", zl.MsgType_InfoMsg),
    ("debug", zl.MsgType_DebugMsg),
    ("error", 7),    # any type outside 0..4 asks for all types
    ("info", -1),
]


@pytest.mark.parametrize("word,asked", TYPES)
def test_message_types(events, faults, word, asked):
    assert faults("message %s PyTest hello %s" % (word, word)) == "OK"
    wait_for(lambda: events.msgsexist(asked))
    text = events.getnextzlmessage(asked)
    assert "hello %s" % word in text
    assert "hello %s" % word not in events.getnextzlmessage(asked)  # it was taken


def test_messages_queued_before_disabling_can_still_be_read(events, faults):
    for i in range(3):
        assert faults("message info PyTest queued %d" % i) == "OK"
    # Messages arrive in order: once the error behind them is queued, so
    # are the three.
    assert faults("message error PyTest last") == "OK"
    wait_for(lambda: events.msgsexist(zl.MsgType_ErrorMsg))
    assert events.enableevents(0) == 0
    texts = [events.getnextzlmessage(zl.MsgType_InfoMsg) for _ in range(4)]
    assert ["queued %d" % i in t for i, t in enumerate(texts[:3])] == [True] * 3, texts
    assert texts[3] == ""
    assert "last" in events.getnextzlmessage(zl.MsgType_AllMsgs)


def test_text_that_is_not_utf8_comes_back_as_latin1(events, plant):
    assert control_bytes(plant.control_port, b"message info PyTest caf\xe9 \xff") == "OK"
    wait_for(lambda: events.msgsexist(zl.MsgType_InfoMsg))
    assert "caf\u00e9 \u00ff" in events.getnextzlmessage(zl.MsgType_InfoMsg)


def test_utf8_text_stays_utf8(events, faults):
    assert faults("message info PyTest gr\u00fc\u00df") == "OK"
    wait_for(lambda: events.msgsexist(zl.MsgType_InfoMsg))
    assert "gr\u00fc\u00df" in events.getnextzlmessage(zl.MsgType_InfoMsg)


def test_enableevents_from_a_second_thread_while_the_first_runs_python(client):
    results = []

    def toggle():
        for _ in range(5):
            results.append(client.enableevents(1))
            results.append(client.enableevents(0))

    worker = threading.Thread(target=toggle)
    worker.start()
    spins = 0
    deadline = time.monotonic() + 30
    while worker.is_alive() and time.monotonic() < deadline:
        spins += 1  # Python code runs while the other thread is in the library
    worker.join(1)
    assert not worker.is_alive()
    assert results == [0, 0] * 5
    assert spins > 0
