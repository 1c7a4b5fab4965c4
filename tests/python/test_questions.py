"""Operator questions answered from Python (setquestionhandler,
answerquestion), and zl.Client as a context manager. Scenarios run in this
process against the shared plant; each test writes its scenario into its own
directory and reads the test log the run wrote there."""

import threading
import time

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

BOUND_S = 30.0
QUESTION = "IS THE PUMP RUNNING?"  # scenario lines are upper-cased
ASK = 'ANSWER 1 "Is the pump running?"\nVERIFY TEMP_SP 60\n'


def wait_for(condition, what):
    deadline = time.monotonic() + BOUND_S
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


def start(client, tmp_path, text, name="q"):
    scn = tmp_path / (name + ".scn")
    scn.write_text(text)
    sid = client.startscenario(str(scn), "")
    assert sid > 0
    return sid, scn, tmp_path / (name + ".tlg")


def finish(client, sid, tlg):
    wait_for(lambda: client.scenarioinfo(sid) == "", "scenario %d did not end" % sid)
    return tlg.read_text()


@pytest.fixture
def asker(client):
    """The shared client; its question handler is removed after the test."""
    yield client
    client.setquestionhandler(None)


def answering(answer):
    """A handler that answers every question with `answer` at once."""
    def handler(sid, number, file, text):
        handler.seen.append((sid, file, text))
        handler.results.append(handler.client.answerquestion(sid, number, answer))
    handler.seen, handler.results = [], []
    return handler


CASES = [
    # the answer passes: the scenario goes on to its next statement
    ("yes", "  User Question '%s' passed. Answer from python is 'yes'" % QUESTION),
    # a wrong answer fails the question, still from the python interface
    ("NO", "**User Question '%s' FAILED. Answer from python is 'NO'" % QUESTION),
    # no handler (set, then removed): the library's default answer at once
    (None, "**User Question '%s' FAILED. Answer from none is 'No questions handled by client'"
     % QUESTION),
]


@pytest.mark.parametrize("answer,want", CASES, ids=["passed", "wrong", "removed"])
def test_answered_through_handler(asker, tmp_path, answer, want):
    handler = answering(answer or "")
    handler.client = asker
    asker.setquestionhandler(handler)
    if answer is None:
        asker.setquestionhandler(None)
    sid, scn, tlg = start(asker, tmp_path, ASK)
    log = finish(asker, sid, tlg)
    assert want in log, log
    assert "Verification <TEMP_SP> = 60.000000 passed" in log
    if answer is None:
        assert handler.seen == []
    else:
        assert handler.seen == [(sid, str(scn), QUESTION)]
        wait_for(lambda: handler.results, "the handler did not return")
        assert handler.results == [1]


def test_handler_that_raises_leaves_the_question_waiting(asker, tmp_path, monkeypatch):
    reported, asked = [], []

    def handler(sid, number, file, text):
        asked.append((sid, number))
        raise RuntimeError("boom")

    monkeypatch.setattr("sys.unraisablehook", lambda u: reported.append(u))
    asker.setquestionhandler(handler)
    sid, _, tlg = start(asker, tmp_path, ASK)
    wait_for(lambda: reported, "the handler's exception was not reported")
    assert isinstance(reported[0].exc_value, RuntimeError)
    assert reported[0].object is handler
    # The scenario still waits on the question; only its own number answers.
    assert "sceQuestion\t%s" % QUESTION in asker.scenarioinfo(sid)
    (asked_sid, number), = asked
    assert asker.answerquestion(sid, number + 1, "yes") == 0
    assert asker.answerquestion(sid + 1000, number, "yes") == 0
    assert asker.answerquestion(sid, number, "yes") == 1
    assert asker.answerquestion(sid, number, "yes") == 0  # already answered
    log = finish(asker, sid, tlg)
    assert "User Question '%s' passed. Answer from python is 'yes'" % QUESTION in log


def test_removing_the_handler_answers_what_it_left_queued(asker, tmp_path):
    """A question queued behind a busy handler is answered with the default
    answer when the handler is removed, not left waiting."""
    busy, release = threading.Event(), threading.Event()

    def handler(sid, number, file, text):
        busy.set()
        release.wait(BOUND_S)
        asker.answerquestion(sid, number, "yes")

    asker.setquestionhandler(handler)
    first, _, first_log = start(asker, tmp_path, 'ANSWER 1 "first"\n', "a")
    assert busy.wait(BOUND_S)
    second, _, second_log = start(asker, tmp_path, 'ANSWER 1 "second"\n', "b")
    wait_for(lambda: "sceQuestion" in asker.scenarioinfo(second), "no second question")
    asker.setquestionhandler(None)
    release.set()
    assert ("User Question 'SECOND' FAILED. Answer from none is 'No questions handled by client'"
            in finish(asker, second, second_log))
    assert "User Question 'FIRST' passed." in finish(asker, first, first_log)


def test_handler_argument_errors(asker):
    with pytest.raises(TypeError):
        asker.setquestionhandler(42)
    with pytest.raises(TypeError):
        asker.answerquestion(1, 2)


def test_disconnect_while_question_pending(plant, tmp_path):
    """The handler holds its question while the client disconnects; the
    disconnect ends the scenario, and a late answer finds nothing."""
    other = zl.Client(plant.orb_options)
    assert other.connect("SIM") == 0
    got, release, results = threading.Event(), threading.Event(), []

    def handler(sid, number, file, text):
        got.set()
        release.wait(BOUND_S)
        results.append(other.answerquestion(sid, number, "yes"))

    other.setquestionhandler(handler)
    sid, _, tlg = start(other, tmp_path, 'ANSWER 0 "wait forever"\n')
    assert got.wait(BOUND_S)
    assert other.disconnect() == 0
    assert other.listscenarios() == ""
    release.set()
    wait_for(lambda: results, "the handler did not return")
    assert results == [0]
    assert "Scenario was aborted by StopScenario()" in tlg.read_text()
    # The handler stays set: the next connection hands it questions again.
    got.clear()
    assert other.connect("SIM") == 0
    sid, _, tlg = start(other, tmp_path, 'ANSWER 1 "again"\n')
    assert got.wait(BOUND_S)
    finish(other, sid, tlg)
    assert "User Question 'AGAIN' passed. Answer from python is 'yes'" in tlg.read_text()
    other.disconnect()


def test_context_manager_disconnects(plant, tmp_path):
    with pytest.raises(KeyError):
        with zl.Client(plant.orb_options) as c:
            assert isinstance(c, zl.Client)
            assert c.connect("SIM") == 0
            sid, _, tlg = start(c, tmp_path, "DELAY 60000\n")
            raise KeyError("the block's own exception goes on")
    assert c.listscenarios() == ""
    assert c.tagcount() == 0  # not connected any more
    assert "Scenario was aborted by StopScenario()" in tlg.read_text()
    # nothing to disconnect: the exit raises nothing
    bare = zl.Client.__new__(zl.Client)
    with bare as b:
        assert b is bare


@pytest.mark.services(tags=["examples/plant.tags"])
def test_exit_with_handler_inside_a_question(services, tmp_path):
    """The interpreter exits while the handler blocks on a question and a
    scenario waits: the process ends by itself with status 0."""
    scn = tmp_path / "wait.scn"
    scn.write_text('ANSWER 0 "never answered"\n')
    child = run_script("""
        import os, sys, threading
        import zl
        client = zl.Client(os.environ["ORB"])
        assert client.connect("SIM") == 0
        asked = threading.Event()
        def handler(*question):
            asked.set()
            threading.Event().wait()
        client.setquestionhandler(handler)
        assert client.startscenario(os.environ["SCN"], "") > 0
        assert asked.wait(30)
        print("asked", flush=True)
    """, {"ORB": services.orb_options, "SCN": str(scn)})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    assert out.strip() == "asked"
