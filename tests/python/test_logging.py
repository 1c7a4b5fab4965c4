"""The library's log lines as records of Python's logging: loggers, levels,
texts and attributes (caplog), what a script shows with logging left alone
or configured (child processes), many threads logging at once, and
interpreter exit while lines are being logged."""

import logging
import threading
import time

import pytest

import zl
from conftest import HANG_BOUND_S, run_script

BOUND_S = 30.0
MISSING_TAG = "NO_SUCH_TAG"
NOT_FOUND = "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'"
# What a failed call's record says: the call and its tag lead the reason.
FAILED_CALL = "PVE of tag %s failed: %s" % (MISSING_TAG, NOT_FOUND)


def wait_for(condition, what):
    deadline = time.monotonic() + BOUND_S
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


def zl_records(caplog):
    return [r for r in caplog.records if r.name == "zl" or r.name.startswith("zl.")]


def find(caplog, text):
    return [r for r in zl_records(caplog) if r.getMessage() == text]


# (id, what the client does, logger, level, text, operation, tag). Each row
# is a line logged in the calling thread and handed over before the call
# returns.
RECORDS = [
    # a catch-ladder line: the operation's own user exception; the text
    # names the call and the tag, as the attributes do
    ("ladder", lambda c, p, t: c.pve(MISSING_TAG), "zl.broker", logging.ERROR,
     FAILED_CALL, "PVE", MISSING_TAG),
    # an ACE error line of the local database during a client operation
    ("ace-error", lambda c, p, t: c.savetags(str(t / "no" / "x.tag")), "zl.localdb",
     logging.ERROR, "#SaveTags() could not open file {tmp}/no/x.tag", "SaveTags", None),
    # debug lines of the client's construction: no operation
    ("debug", lambda c, p, t: zl.Client(p.orb_options + " -stray"), "zl.broker",
     logging.DEBUG, "# Unknown option: -stray, ignored", None, None),
    # LM_WARNING becomes WARNING; the operation without a tag
    ("warning", lambda c, p, t: zl.Client(p.orb_options).connect("NOT_THERE"), "zl.broker",
     logging.WARNING, "Could not find local ior file, ", "Connect", None),
]


@pytest.mark.parametrize("call,logger,level,text,operation,tag",
                         [r[1:] for r in RECORDS], ids=[r[0] for r in RECORDS])
def test_record(client, plant, tmp_path, caplog, call, logger, level, text, operation, tag):
    caplog.set_level(logging.DEBUG, logger="zl")
    call(client, plant, tmp_path)
    text = text.format(tmp=tmp_path)
    got = [r for r in zl_records(caplog)
           if r.levelno == level and r.name == logger and r.getMessage().startswith(text)]
    assert got, [(r.name, r.levelname, r.getMessage()) for r in zl_records(caplog)]
    record = got[0]
    assert not record.getMessage().endswith("\n")      # the line end is the handler's
    assert (record.operation, record.tag) == (operation, tag)
    assert record.thread == threading.get_ident()       # the thread that logged it
    assert abs(record.created - time.time()) < BOUND_S


def test_silent_by_default(client, plant, caplog):
    # No level configured: logging's WARNING decides; debug lines stay out.
    zl.Client(plant.orb_options + " -stray")
    assert find(caplog, "# Unknown option: -stray, ignored") == []
    # A level raised above ERROR silences even the ladder's lines.
    caplog.set_level(logging.CRITICAL, logger="zl")
    client.pve(MISSING_TAG)
    assert zl_records(caplog) == []


def test_library_thread_lines_follow_the_level(client, tmp_path, caplog):
    """INFO asked for on one logger reaches the library's own threads: a
    scenario worker's INFO line arrives, named after its thread."""
    caplog.set_level(logging.INFO, logger="zl.scenario")
    (tmp_path / "inner.scn").write_text("COMMENT inner\n")
    scn = tmp_path / "outer.scn"
    scn.write_text("@inner.scn\n")
    assert client.startscenario(str(scn), "") > 0
    want = "# File INNER.SCN is open at level 1"
    wait_for(lambda: find(caplog, want), "the worker's INFO line did not arrive")
    record = find(caplog, want)[0]
    assert (record.name, record.levelno) == ("zl.scenario", logging.INFO)
    assert record.thread != threading.get_ident()
    assert record.threadName.startswith("zl-")


def test_server_message_news_is_info(client, faults, caplog):
    """The line logged for each server message a call takes from the
    channel is news, not trouble: INFO, which logging left alone does not
    show on standard error."""
    caplog.set_level(logging.DEBUG, logger="zl")
    news = "Got a server message in GetServerMessages()"
    assert client.enableevents(1) in (0, 1)
    try:
        # The listener takes most messages itself; one that a call takes
        # (while the listener pauses) logs the line. Send until one has.
        deadline = time.monotonic() + BOUND_S
        while not [r for r in zl_records(caplog) if r.getMessage().endswith(news)]:
            assert time.monotonic() < deadline, "no message was taken by a call"
            assert faults("message info PyTest news") == "OK"
            while not client.getnextzlmessage(zl.MsgType_AllMsgs):
                assert time.monotonic() < deadline, "the message did not come"
                time.sleep(0.05)
    finally:
        client.enableevents(0)
    levels = {r.levelname for r in zl_records(caplog) if r.getMessage().endswith(news)}
    assert levels == {"INFO"}


# A scenario whose failure and error lines come from known places: one row
# per reported line (the line of the scenario file, the record's level and
# message, the file and line it names, the subtest calls, the line of the
# run's part of the test log). The subtest is called from line 4.
PLACES_MAIN = """\
VERIFY TEMP_SP 61
GOTO :DONEE
MONITOR LEVEL_SP 9
@place_sub.scn
TVERIFY NO_SUCH_TAG 1 0 1
DELAY 600
:DONE
"""
PLACES_SUB = """\
COMMENT in the subtest
FOO
"""
PLACE_ROWS = [
    # a failed check at its own line
    ("WARNING", "Verification <TEMP_SP> = 61.000000 FAILED Value is 60.000000",
     "places.scn", 1, (), 2),
    # a statement error
    ("ERROR", "Label ':DONEE' not found for GOTO", "places.scn", 2, (), 3),
    # a line in a subtest names the subtest's file and the call
    ("ERROR", "Unknown scenario keyword, 'FOO'", "place_sub.scn", 2, ("places.scn:4",), 7),
    # a timed check reports when its block runs, at its own line
    ("ERROR", "Tag <NO_SUCH_TAG> not found for Timed Assertion", "places.scn", 5, (), 9),
    # a monitor fails while the scenario waits, at the MONITOR line
    ("WARNING", "Monitor <LEVEL_SP> = 9.000000 FAILED Value is 2.500000", "places.scn", 3,
     (), 10),
]


def test_scenario_lines_name_their_place(client, tmp_path, caplog):
    caplog.set_level(logging.WARNING, logger="zl.scenario")
    scn = tmp_path / "places.scn"
    scn.write_text(PLACES_MAIN)
    (tmp_path / "place_sub.scn").write_text(PLACES_SUB)
    sid = client.startscenario(str(scn), "")
    assert sid > 0
    assert client.waitscenario(sid, BOUND_S)
    reported = [r for r in zl_records(caplog) if r.testlog_line is not None]
    got = [(r.levelname, r.getMessage(), r.filename, r.lineno, r.subtests, r.testlog_line)
           for r in reported]
    want = [(level, message, file, line, tuple(str(tmp_path / c) for c in callers), at)
            for level, message, file, line, callers, at in PLACE_ROWS]
    assert got == want
    lines = (tmp_path / "places.tlg").read_text().splitlines()
    for record in reported:
        # the record's line of the test log holds its message
        assert record.getMessage() in lines[record.testlog_line - 1]
        assert record.scenario_id == sid
        assert (record.scenario_file, record.scenario_line) == (record.pathname, record.lineno)
    # a process log line of a statement names the statement's line too
    missing = [r for r in zl_records(caplog) if r.getMessage() == "Scenario: Tag <NO_SUCH_TAG> "
               "not found"]
    assert [(r.filename, r.lineno, r.testlog_line) for r in missing] == [("places.scn", 5, None)]


SCRIPT = """
import contextlib, io, logging, os, sys
import zl
{setup}
client = zl.Client(os.environ["ORB"] + " -stray{extra}")
assert client.connect("SIM") == 0
buffer = io.StringIO()
with contextlib.redirect_stderr(buffer) if {redirect} else contextlib.nullcontext():
    client.pve("{tag}")
print(buffer.getvalue(), end="")
"""

# A debug line of the client's construction.
UNKNOWN = "# Unknown option: -stray, ignored\n"

# (id, setup, extra options, ZL_LOG_STDERR, redirect_stderr, standard error
# must contain, must not contain).
OUTPUTS = [
    # logging left alone: errors on standard error, naming the failed call,
    # and no debug lines
    ("default", "", "", None, False, [FAILED_CALL], [UNKNOWN]),
    # the environment variable: the library's own standard error output
    ("raw", "", "", "1", False, [UNKNOWN, NOT_FOUND], ["PVE of tag"]),
    ("raw-off", "", "", "0", False, [FAILED_CALL], [UNKNOWN]),
    # logging configured for debug: everything, in logging's format
    ("basic-debug", "logging.basicConfig(level=logging.DEBUG)", "", None, False,
     ["DEBUG:zl.broker:" + UNKNOWN, "ERROR:zl.broker:"], []),
    # the client option -debug shows everything without configuring logging
    ("option-debug", "", " -debug", None, False, [UNKNOWN, FAILED_CALL], []),
    # silenced through logging
    ("silenced", 'logging.getLogger("zl").setLevel(logging.CRITICAL)', "", None, False,
     [], [NOT_FOUND]),
    # Python's standard error, so redirect_stderr takes the line
    ("redirected", "", "", None, True, [], [NOT_FOUND]),
]


@pytest.mark.parametrize("setup,extra,raw,redirect,present,absent",
                         [o[1:] for o in OUTPUTS], ids=[o[0] for o in OUTPUTS])
def test_standard_error(plant, setup, extra, raw, redirect, present, absent):
    env = {"ORB": plant.orb_options}
    if raw is not None:
        env["ZL_LOG_STDERR"] = raw
    child = run_script(SCRIPT.format(setup=setup, extra=extra, redirect=redirect, tag=MISSING_TAG),
                       env)
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    for text in present:
        assert text in err, err
    for text in absent:
        assert text not in err, err
    if redirect:
        assert out == FAILED_CALL + "\n"


def test_flood_from_many_threads(client, tmp_path, caplog):
    """Scenario workers (threads Python does not know) and Python threads
    log at once: every line arrives, in order within its thread."""
    workers, lines, pythons, calls = 6, 200, 4, 100
    sids = []
    for w in range(workers):
        scn = tmp_path / ("flood%d.scn" % w)
        scn.write_text("".join("ZZ%d_%d\n" % (w, i) for i in range(lines)))
        sids.append(client.startscenario(str(scn), ""))
        assert sids[-1] > 0

    def call(p):
        for i in range(calls):
            client.pve("NOPE_%d_%d" % (p, i))

    threads = [threading.Thread(target=call, args=(p,)) for p in range(pythons)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(BOUND_S)
        assert not t.is_alive()
    prefix = "Unknown scenario keyword ZZ"
    wait_for(lambda: sum(r.getMessage().startswith(prefix) for r in zl_records(caplog))
             >= workers * lines, "scenario lines lost")
    by_worker = {}
    for r in zl_records(caplog):
        if r.getMessage().startswith(prefix):
            w, i = r.getMessage()[len(prefix):].split("_")
            by_worker.setdefault(int(w), []).append((int(i), r.thread, r.name))
    for w in range(workers):
        got = by_worker[w]
        assert [i for i, _, _ in got] == list(range(lines))
        assert len({thread for _, thread, _ in got}) == 1         # one worker's thread
        assert {name for _, _, name in got} == {"zl.scenario"}
    by_tag = {}
    for r in zl_records(caplog):
        if r.operation == "PVE" and r.tag.startswith("NOPE_"):
            p, i = r.tag[len("NOPE_"):].split("_")
            by_tag.setdefault(int(p), []).append(int(i))
    assert by_tag == {p: list(range(calls)) for p in range(pythons)}
    for sid in sids:
        wait_for(lambda: client.scenarioinfo(sid) == "", "scenario %d did not end" % sid)


EXIT_SCRIPT = """
import logging, os, threading
import zl
{setup}
seen = threading.Event()
class Seen(logging.Handler):
    def emit(self, record):
        seen.set()
logging.getLogger("zl").addHandler(Seen())
client = zl.Client(os.environ["ORB"])
assert client.connect("SIM") == 0
for _ in range(4):
    assert client.startscenario(os.environ["SCN"], "") > 0
def spin():
    try:
        while True:
            client.pve("NOPE")
    except RuntimeError:
        pass  # the exit hook has taken the client
threading.Thread(target=spin, daemon=True).start()
assert seen.wait(30)
print("logging", flush=True)
"""


@pytest.mark.parametrize("setup", ["", "logging.basicConfig(level=logging.DEBUG)"],
                         ids=["default", "basic-debug"])
def test_exit_while_logging(plant, tmp_path, setup):
    """Scenario workers and a daemon thread log while the interpreter exits:
    the process ends by itself, promptly, with status 0."""
    scn = tmp_path / "loop.scn"
    scn.write_text(":TOP\nNOISE\nDELAY 1\nGOTO :TOP\n")
    started = time.monotonic()
    child = run_script(EXIT_SCRIPT.format(setup=setup),
                       {"ORB": plant.orb_options, "SCN": str(scn)})
    out, err = child.communicate(timeout=HANG_BOUND_S)
    assert child.returncode == 0, err
    assert out.strip() == "logging"
    assert "Traceback" not in err and "Fatal" not in err, err
    assert time.monotonic() - started < HANG_BOUND_S

