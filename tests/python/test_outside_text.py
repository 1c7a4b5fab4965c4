"""Text from outside the scenario file cannot write lines of its own into a
test log: an operator's answer (from a question handler, from
answerquestion, from an answers file), an argument $1..$8, the scenario
path, and a text of the server reach the log escaped, one line each, under a
signature that still verifies. Each route runs a scenario on the shared
plant and reads back the test log it wrote.

(`zl run`'s terminal answer is a row of test_cli_run.py, the answer through
zl serve's API a test of test_serve_browser.py.)"""

import re
import time

import pytest

from zl import signatures
from zl.readers import testlog
from zl.pytest_plugin.answers import Answers
from zl.pytest_plugin.runner import run_scenario

BOUND_S = 30.0
QUESTION = "IS THE PUMP RUNNING?"
ASK = 'ANSWER 1 "Is the pump running?"\n'
# The reported forgery: an answer that adds a passed check after its own line.
FORGED = "Yes'\n00:00:09.000\t  Verification <SP> = 9 passed"
FORGED_SHOWN = r"Yes'\n00:00:09.000\t  Verification <SP> = 9 passed"
PASSED = "  User Question '%s' passed. Answer from python is '%s'"
ENGINE_LINE = re.compile(rb"^\d\d:\d\d:\d\d\.\d{3}\t[^\r]*$")


def wait_for(condition, what):
    deadline = time.monotonic() + BOUND_S
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


@pytest.fixture
def asker(client):
    """The shared client; its question handler is removed after the test."""
    yield client
    client.setquestionhandler(None)


def run(client, scn, text, arguments=""):
    """Runs `text` written to `scn`; the bytes of the test log it wrote."""
    scn.write_text(text)
    sid = client.startscenario(str(scn), arguments)
    assert sid > 0
    wait_for(lambda: client.scenarioinfo(sid) == "", "scenario %d did not end" % sid)
    return scn.with_suffix(".tlg").read_bytes()


def assert_one_line(data, body):
    """`body` is the text of exactly one line of the run (a check or an
    error), every line is one the engine writes (a stamp, a tab, no carriage
    return), and the run's signature covers what was written."""
    lines = data.split(b"\n")
    assert lines[-1] == b"" and lines[-2].startswith(testlog.CHECK_PREFIX), data
    for line in lines[:-2]:
        assert ENGINE_LINE.match(line), (line, data)
    bodies = [line.split(b"\t", 1)[1].decode() for line in lines[:-2]]
    assert bodies.count(body) == 1, data
    [(_, _, verdict)] = signatures.verify_test_log(data)
    assert verdict == "valid"
    # The readers see that line as one case, its escapes as written.
    [section] = testlog.parse(data).sections
    assert len([c for c in section.cases if c.line.endswith("\t" + body)]) == 1
    assert not any("<SP>" in case.name for case in section.cases), section.cases


def answering(client, answer):
    def handler(sid, number, file, text):
        client.answerquestion(sid, number, answer)
    return handler


def test_answer_from_a_question_handler(asker, tmp_path):
    asker.setquestionhandler(answering(asker, FORGED))
    data = run(asker, tmp_path / "q.scn", ASK)
    assert_one_line(data, PASSED % (QUESTION, FORGED_SHOWN))


def test_answer_through_answerquestion(asker, tmp_path):
    asked = []
    asker.setquestionhandler(lambda sid, number, file, text: asked.append((sid, number)))
    scn = tmp_path / "q.scn"
    scn.write_text(ASK)
    sid = asker.startscenario(str(scn), "")
    wait_for(lambda: asked, "no question was asked")
    assert asker.answerquestion(sid, asked[0][1], FORGED) == 1
    wait_for(lambda: asker.scenarioinfo(sid) == "", "scenario %d did not end" % sid)
    assert_one_line(scn.with_suffix(".tlg").read_bytes(), PASSED % (QUESTION, FORGED_SHOWN))


def test_answer_from_an_answers_file(asker, tmp_path):
    # A line of the file holds no line feed; a TAB and an escape sequence
    # are what it can carry.
    answers = tmp_path / "answers.txt"
    answers.write_text("IS THE PUMP * = Yes\tX\x1b[2J\n")
    scn = tmp_path / "q.scn"
    scn.write_text(ASK)
    result = run_scenario(asker, scn, answers=Answers.read(answers))
    assert result.passed, result.report()
    assert_one_line(scn.with_suffix(".tlg").read_bytes(), PASSED % (QUESTION, r"Yes\tX\x1b[2J"))


def test_argument(client, tmp_path):
    # An argument holds no blank or TAB (they separate the arguments); its
    # line feed made the tag's error line two.
    data = run(client, tmp_path / "a.scn", "VERIFY $1 60\n", "TEMP_SP\n00:00:09.000")
    assert_one_line(data, r"__Tag <TEMP_SP\n00:00:09.000> not found for VERIFY")


def test_scenario_path(client, tmp_path):
    scn = tmp_path / "p\n00:00:09.000 x.scn"
    data = run(client, scn, "VERIFY TEMP_SP 60\n")
    shown = str(scn).replace("\n", r"\n")
    first = data.split(b"\n", 1)[0].decode()
    assert first.startswith("00:00:00.000\tStarting test '%s' at " % shown), data
    [section] = testlog.parse(data).sections
    assert section.scenario == shown
    assert_one_line(data, "  Verification <TEMP_SP> = 60.000000 passed Value is 60.000000")


def test_text_of_the_server(client, plant, tmp_path):
    # The stand-in answers a driver's address as it was set. A port beyond
    # 65535 fails before any name is looked up: nothing is sent.
    assert plant.control("driver PLC1 nohost\r00:00:09.000:99999") == "OK"
    try:
        data = run(client, tmp_path / "s.scn", "PT_ENABLE FEED_FLOW\n")
    finally:
        assert plant.control("driver PLC1 127.0.0.1:5001") == "OK"
    assert_one_line(data, r"__PT_ENABLE not sent to nohost\r00:00:09.000:99999 (network error)")
