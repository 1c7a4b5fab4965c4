"""The zl command's server tools, run as a user runs them: `zl run` (exit
codes, progress, questions at the terminal, Ctrl-C) and `zl ls/get/set`,
each a subprocess of the launcher ($ZL_CLI, else python3 -m zl.cli) against
the shared plant."""

import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from serve_browser import wait_for
from zl.runs import channel as run_channel

BOUND_S = 60.0
REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(autouse=True)
def runtime(monkeypatch):
    """A runtime folder of the test's own, so that the runs these tests
    publish are theirs alone (short: socket paths are bounded)."""
    with tempfile.TemporaryDirectory(prefix="zl-xdg-", dir="/tmp") as folder:
        monkeypatch.setenv("XDG_RUNTIME_DIR", folder)
        yield folder


def command():
    launcher = os.environ.get("ZL_CLI")
    return [launcher] if launcher else [sys.executable, "-m", "zl.cli"]


def environment(plant):
    env = dict(os.environ)
    env["ZL_ORB_OPTIONS"] = plant.orb_options
    return env


def zl(plant, *argv, stdin="", cwd=None):
    """Runs the zl command to its end: (exit status, stdout, stderr)."""
    done = subprocess.run(command() + [str(a) for a in argv], env=environment(plant),
                          input=stdin, capture_output=True, text=True, timeout=BOUND_S, cwd=cwd)
    return done.returncode, done.stdout, done.stderr


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scenario(tmp_path, text, name="run"):
    path = tmp_path / (name + ".scn")
    path.write_text(text)
    return path


# (scenario text, extra arguments, standard input, exit status, texts of the
# standard output). TEMP_SP stays 60 in the plant.
RUN_CASES = {
    # every check passes
    "pass": ("VERIFY TEMP_SP 60\nVERIFY_GT TEMP_SP 50\n", [], "", 0,
             ["checks passed: 2   failures: 0   errors: 0", "PASSED"]),
    # a failed verification is listed and fails the run
    "verify-fails": ("VERIFY TEMP_SP 61\n", [], "", 1,
                     ["**Verification <TEMP_SP> = 61.000000 FAILED", "FAILED"]),
    # a failed assertion (it writes nothing when it passes)
    "assert-fails": ("ASSERT TEMP_SP 0\n", [], "", 1, ["FAILED"]),
    # a statement error alone fails the run (run past the check that
    # refuses the file: check-refuses below)
    "error": ("NOSUCHWORD\n", ["--no-check"], "", 1,
              ["__Unknown scenario keyword, 'NOSUCHWORD'", "FAILED"]),
    # arguments reach $1
    "arguments": ("VERIFY TEMP_SP $1\n", ["60"], "", 0, ["PASSED"]),
    # the end is learned from the library, not at the next refresh: a
    # refresh interval beyond the subprocess's bound still ends in time
    "end-not-polled": ("VERIFY TEMP_SP 60\n", ["--interval", "600"], "", 0, ["PASSED"]),
    # a question answered at the terminal
    "question-yes": ('ANSWER 1 "Is the pump running?"\n', [], "y\n", 0,
                     ["Question from scenario", "IS THE PUMP RUNNING?", "PASSED"]),
    "question-no": ('ANSWER 1 "Is the pump running?"\n', [], "n\n", 1,
                    ["**User Question 'IS THE PUMP RUNNING?' FAILED. Answer from python is 'n'"]),
    # an answer's TAB and escape sequence reach the test log escaped
    "question-controls": ('ANSWER 1 "Is the pump running?"\n', [], "n\tX\x1b[2J\n", 1,
                          ["Answer from python is 'n\\tX\\x1b[2J'"]),
    # an exception ends the run: the summary says where and why
    "aborted": ("VERIFY TEMP_SP 60\nSETPVE TEMP_SP (NO_SUCH_TAG*2)\n", ["--no-check"], "", 1,
                ["__Unknown exception aborted scenario.",
                 "  Aborted at line 2 of ", ', "SETPVE TEMP_SP (NO_SUCH_TAG*2)": ',
                 "unknown tag 'NO_SUCH_TAG'", "ABORTED"]),
    # -skipuserq: not asked, and the run counts as failed
    "skipuserq": ('ANSWER 1 "Is the pump running?"\n', ["-skipuserq"], "", 1,
                  ["Failure indicated because 1 questions skipped"]),
    # stored values that could not be written: a "##" line fails the run
    "storevals-unwritable": ("VERIFY TEMP_SP 60\nSTOREVALS /no/such/dir/x\n", [], "", 1,
                             ["## Could not open file to store tag values", "FAILED"]),
    # a line of the test log reaches the terminal with its escape sequence escaped
    "escaped": ("NOSUCH\x1b[2J\n", ["--no-check"], "", 1, ["'NOSUCH\\x1b[2J'", "FAILED"]),
    # a timed check on a tag that does not exist: its error, and no passed
    # precheck counted
    "timed-missing-tag": ("TVERIFY TANK_LEVL 3 0 1\nBEND\n", ["--no-check"], "", 1,
                          ["checks passed: 0   failures: 0   errors: 1",
                           "run.scn:1: 00:00:", "__Tag <TANK_LEVL> not found for Timed Assertion"]),
    # a GOTO to a label the file does not have is an error; the run goes on
    # with the next line, whose failure is listed at its own line
    "goto-missing-label": ("GOTO :DONEE\nVERIFY TEMP_SP 61\n:DONE\n", ["--no-check"], "", 1,
                           ["checks passed: 0   failures: 1   errors: 1",
                            "run.scn:1: 00:00:", "__Label ':DONEE' not found for GOTO",
                            "run.scn:2: 00:00:", "**Verification <TEMP_SP> = 61.000000 FAILED"]),
}


def read_terminal(master):
    """What a child wrote to its terminal (the pty's `master`) until it closed it."""
    chunks = []
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the child closed the terminal
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks).decode()


@pytest.mark.parametrize("case", RUN_CASES)
def test_run_exit_status_and_summary(plant, tmp_path, case):
    text, extra, stdin, status, wants = RUN_CASES[case]
    scn = scenario(tmp_path, text)
    got, out, err = zl(plant, "run", scn, *extra, stdin=stdin)
    assert got == status, out + err
    for want in wants:
        assert want in out, out
    assert "test log: %s" % (tmp_path / "run.tlg") in out
    assert "\x1b" not in out
    # zl report judges the same test log the same way
    judged, _, _ = zl(plant, "report", tmp_path / "run.tlg", "--junit", tmp_path / "run.xml",
                      "--fail-on-failure")
    assert judged == got, "zl run gave %d, zl report %d" % (got, judged)


# (files, extra arguments, exit status, standard error lines, whether it ran)
CHECK_CASES = {
    # errors, a tag of the database's included: not run, nothing written
    "refused": ({"run.scn": "VERIFY TEMP_SP 60\nNOSUCHWORD\nVERIFY NO_SUCH_TAG 1\n"}, [], 1,
                ["run.scn:2:1: error: Unknown scenario keyword, 'NOSUCHWORD'",
                 "run.scn:3:8: error: Tag <NO_SUCH_TAG> not found",
                 "zl run: not run: the check finds 2 errors in run.scn (--no-check runs it "
                 "anyway)"], False),
    # a subtest that is not there: at the line that calls it
    "missing-subtest": ({"run.scn": "VERIFY TEMP_SP 60\n@GONE.SCN\n"}, [], 1,
                        ["run.scn:2:1: error: Subtest 'GONE.SCN' not started",
                         "zl run: not run: the check finds 1 error in run.scn (--no-check "
                         "runs it anyway)"], False),
    # the check reads the subtests with the run's arguments
    "arguments": ({"run.scn": "@SUB.SCN $1\n", "sub.scn": "VERIFY TEMP_SP $1\n"},
                  ["60", "-skipuserq"], 0, [], True),
    "argument-missing": ({"run.scn": "VERIFY TEMP_SP $2\n"}, ["60"], 1,
                         ["run.scn:1:16: error: Argument $2 is not given: 1 argument is, and "
                          "the line gets nothing in its place",
                          "run.scn:1:1: error: Value not found for VERIFY TEMP_SP",
                          "zl run: not run: the check finds 2 errors in run.scn (--no-check "
                          "runs it anyway)"], False),
    # warnings are shown, and the file runs
    "warning": ({"run.scn": "VERIFY TEMP_SP 60 1.5\n"}, [], 0,
                ["run.scn:1:19: warning: extra operand ignored: '1.5' (tolerances are set "
                 "with ABS_TOL / REL_TOL)"], True),
    # --no-check runs it unchecked: the run reports the error itself
    "no-check": ({"run.scn": "NOSUCHWORD\n"}, ["--no-check"], 1, [], True),
}


@pytest.mark.parametrize("case", CHECK_CASES)
def test_the_check_before_the_run(plant, tmp_path, case):
    texts, extra, status, err_lines, ran = CHECK_CASES[case]
    for name, text in texts.items():
        scenario(tmp_path, text, name=name[:-4])
    got, out, err = zl(plant, "run", "run.scn", *extra, "--quiet", cwd=tmp_path)
    assert got == status, out + err
    assert err.splitlines() == err_lines
    assert (tmp_path / "run.tlg").exists() == ran
    if not ran:
        assert out == ""


def test_run_and_report_name_the_scenario_lines(plant, tmp_path):
    """zl run lists each failure and error at its scenario line (a subtest's
    with the line that called it) and keeps the places beside the test log,
    where zl report finds them while the log stays as the run left it."""
    scenario(tmp_path, "VERIFY TEMP_SP 61\n# a comment\n@sub.scn\n", name="main")
    scenario(tmp_path, "COMMENT sub\nNOSUCHWORD\n", name="sub")
    got, out, err = zl(plant, "run", "main.scn", "--no-check", cwd=tmp_path)
    assert got == 1, out + err
    listed = [line for line in out.splitlines() if line.startswith("  ") and "\t" in line]
    assert [line.split(": 00:")[0] for line in listed] == [
        "  main.scn:1", "  sub.scn:2 (called from main.scn:3)"], out
    assert (tmp_path / "main.tlg.places").is_file()

    def report():
        junit, page = tmp_path / "r.xml", tmp_path / "r.html"
        assert zl(plant, "report", "main.tlg", "--junit", junit, "--html", page,
                  cwd=tmp_path)[0] == 0
        cases = [c for c in ET.parse(junit).iter("testcase")
                 if c.find("failure") is not None or c.find("error") is not None]
        details = [(c.find("failure") if c.find("failure") is not None else c.find("error")).text
                   for c in cases]
        return cases, details, ET.parse(junit).find(".//system-out").text, page.read_text()

    cases, details, notes, page = report()
    assert [(c.get("file"), c.get("line")) for c in cases] == [("main.scn", "1"),
                                                                ("sub.scn", "2")]
    assert details[0].startswith("main.scn:1, test log line 2: 00:00:"), details
    assert details[1].startswith("sub.scn:2 (called from main.scn:3), test log line 5: "), details
    assert notes.endswith("; signature valid") and "signature valid;" in page
    assert "<td>sub.scn:2 (called from main.scn:3)</td>" in page

    # Edited after the run: the places no longer hold, nor does the
    # signature; the reports say so.
    log = tmp_path / "main.tlg"
    log.write_text(log.read_text().replace("Value is 60.000000", "Value is 61.000000"))
    cases, details, notes, page = report()
    assert [(c.get("file"), c.get("line")) for c in cases] == [(None, None), (None, None)]
    assert details[0].startswith("test log line 2: 00:00:"), details
    assert notes.endswith("; signature altered") and "signature altered" in page
    assert "Scenario lines were not recorded for this run" in page
    assert zl(plant, "verify", log)[1].rstrip().endswith(": altered")

    # A places file that is no places file: the test log lines, no error.
    (tmp_path / "main.tlg.places").write_bytes(b"\xff{not json")
    assert report()[1][0].startswith("test log line 2: ")


def test_run_without_a_test_log_is_not_passed(plant, tmp_path):
    # A directory where the test log would go: the scenario runs without one,
    # and nothing shows what it did.
    scn = scenario(tmp_path, "VERIFY TEMP_SP 60\n")
    (tmp_path / "run.tlg").mkdir()
    got, out, err = zl(plant, "run", scn)
    assert got == 1, out + err
    assert "could not be read" in out and out.rstrip().endswith("FAILED"), out


@pytest.mark.parametrize("argv,status,want", [
    # no scenario given: the parser's usage error
    (["run"], 2, "zl run: the following arguments are required: SCENARIO"),
    # a file that is not there
    (["run", "missing.scn"], 3, "zl run: no such scenario file: missing.scn"),
    # a database the naming service does not know
    (["run", "{scn}", "--db", "NOPE"], 4,
     "zl run: unknown database 'NOPE' (the naming service knows: SIM)"),
    # a naming service that is not running
    (["run", "{scn}", "--ns", "{port}"], 4, "zl run: no naming service answers at {port}"),
    # an address that is not one: a usage error
    (["ls", "--ns", "nowhere"], 2, "zl ls: argument --ns: not a naming service address"),
], ids=["no-file-given", "missing-file", "unknown-db", "no-naming-service", "bad-ns"])
def test_usage_and_connection_errors(plant, tmp_path, argv, status, want):
    scn = scenario(tmp_path, "VERIFY TEMP_SP 60\n")
    port = free_port()
    argv = [a.format(scn=scn, port=port) for a in argv]
    got, out, err = zl(plant, *argv, cwd=tmp_path)
    assert got == status, out + err
    # one error line, after the usage for a usage error
    assert err.splitlines()[-1].startswith(want.format(port=port)), err
    assert err.startswith("usage: zl ") == (status == 2), err


def test_progress_lines_when_not_a_terminal(plant, tmp_path):
    scn = scenario(tmp_path, "DELAY 1200\nVERIFY TEMP_SP 60\nDELAY 300\n")
    got, out, _ = zl(plant, "run", scn, "--interval", "0.05")
    assert got == 0, out
    assert "\r" not in out
    progress = [l for l in out.splitlines() if l.startswith("[")]
    assert progress and progress[0].startswith("[0:0")
    # the scenario shown on its DELAY line while it waits there
    assert any("line 1  verifications 0 (0 failed)" in l for l in progress), out
    # a line only when something but the time changed: ~24 polls of the
    # first DELAY make one line
    states = [l.split("] ", 1)[1] for l in progress]
    assert len(states) == len(set(states)), out
    # the summary's duration is the test log's own
    closing = re.search(r"Closing test log after 0 mins (\d+\.\d) secs",
                        (tmp_path / "run.tlg").read_text())
    assert "ended after 0:%04.1f\n" % float(closing.group(1)) in out, out

    got, out, _ = zl(plant, "run", scn, "--interval", "0.05", "--quiet")
    assert got == 0 and not [l for l in out.splitlines() if l.startswith("[")], out
    assert out.rstrip().endswith("PASSED")


def test_ctrl_c_stops_the_scenario(plant, tmp_path):
    scn = scenario(tmp_path, "DELAY 60000\nVERIFY TEMP_SP 60\n")
    child = subprocess.Popen(command() + ["run", str(scn), "--interval", "0.1"],
                             env=environment(plant), stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        first = child.stdout.readline()
        assert first.startswith("[0:0"), first
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=BOUND_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 130, out + err
    assert "zl run: stopping scenario" in err
    assert "STOPPED" in out
    log = (tmp_path / "run.tlg").read_text()
    assert "Scenario was aborted by StopScenario()" in log
    assert "Verification" not in log
    assert os.listdir(run_channel.runs_folder()) == []  # its socket went with it


@pytest.mark.parametrize("published, watched", [(True, True), (True, False), (False, False)])
def test_question_at_the_end_of_input(plant, tmp_path, runtime, published, watched):
    # No input left: a published run that a zl serve reads (here a reader
    # polling as zl serve does) waits for its answer, here until the
    # question's own time-out (0.05 min), and says when it is gone. A run
    # nobody reads, or that could not be published (the runs folder is open
    # to others; -v says why), answers with an empty answer.
    if not published:
        os.makedirs(os.path.join(runtime, "zl", "runs"), mode=0o755)
        os.chmod(os.path.join(runtime, "zl", "runs"), 0o755)
    done = threading.Event()

    def read_runs():
        while not done.wait(0.2):
            run_channel.list_runs()

    reader = threading.Thread(target=read_runs, daemon=True)
    if watched:
        reader.start()
    try:
        scn = scenario(tmp_path, 'ANSWER 0.05 "Is the pump running?"\nDELAY 2000\n')
        got, out, err = zl(plant, "run", scn, "-v", "--interval", "0.1")
    finally:
        done.set()
    assert got == 1, out + err
    if watched:
        assert "(no input: waiting for an answer from zl serve, run " in out
        assert "(the question timed out)" in out
        assert "**User Question 'IS THE PUMP RUNNING?' FAILED. No answer from python" in out
    else:
        assert "waiting for an answer" not in out
        assert "(no input: answered with an empty answer)" in out
        assert "**User Question 'IS THE PUMP RUNNING?' FAILED. Answer from python is ''" in out
    assert ("zl run: not shown to zl serve: " in err and "needs 700" in err) == (not published)


def test_question_at_a_terminal_answered_through_the_channel(plant, tmp_path):
    # The terminal's prompt does not hold the run: an answer from zl serve
    # is taken while it waits, and the terminal says so.
    import pty
    scn = scenario(tmp_path, 'ANSWER 1 "Is the pump running?"\nVERIFY TEMP_SP 60\n')
    master, slave = pty.openpty()
    child = subprocess.Popen(command() + ["run", str(scn)], env=environment(plant),
                             stdin=slave, stdout=slave, stderr=subprocess.PIPE)
    os.close(slave)
    out = ""
    try:
        assert wait_for(lambda: [r for r in run_channel.list_runs() if r["asked"]],
                        bound=BOUND_S)
        run = run_channel.list_runs()[0]
        assert run["state"] == "running" and run["scenario"] == str(scn)
        assert run["testlog"] == str(tmp_path / "run.tlg") and run["database"] == "SIM"
        asked = run["asked"]
        assert asked["text"] == "IS THE PUMP RUNNING?"
        assert run_channel.ask(run["pid"], {"op": "answer", "sid": asked["sid"],
                                            "number": asked["number"],
                                            "answer": "Yes"}) == {"took": 1}
        out = read_terminal(master)
        assert child.wait(timeout=BOUND_S) == 0
    finally:
        os.close(master)
        if child.poll() is None:
            child.kill()
            child.wait()
    assert "Answer [y/n]: (answered from zl serve: Yes)\r\n" in out, repr(out)
    assert "PASSED" in out
    assert ("User Question 'IS THE PUMP RUNNING?' passed. Answer from python is 'Yes'"
            in (tmp_path / "run.tlg").read_text())
    assert run_channel.list_runs() == [] and os.listdir(run_channel.runs_folder()) == []


def test_ls_get_set(plant):
    got, out, _ = zl(plant, "ls", "^TEMP_SP$")
    assert got == 0 and out.split() == ["TEMP_SP", "Anl", "Auto", "60"], out
    assert zl(plant, "ls", "^NO_SUCH_TAG$")[0] == 1

    got, out, _ = zl(plant, "get", "TEMP_SP", "LEVEL_SP")
    assert got == 0, out
    assert [l.split()[:2] for l in out.splitlines()] == [["TEMP_SP", "60"], ["LEVEL_SP", "2.5"]]
    got, out, err = zl(plant, "get", "TEMP_SP", "NO_SUCH_TAG")
    assert got == 1 and "zl get: unknown tag NO_SUCH_TAG" in err and out.startswith("TEMP_SP")

    try:
        got, out, _ = zl(plant, "set", "LEVEL_SP", "3")
        assert got == 0 and out.split()[:2] == ["LEVEL_SP", "3"], out
        assert zl(plant, "get", "LEVEL_SP")[1].split()[:2] == ["LEVEL_SP", "3"]
    finally:
        assert zl(plant, "set", "LEVEL_SP", "2.5")[0] == 0
    assert zl(plant, "set", "NO_SUCH_TAG", "1")[0] == 1
    assert zl(plant, "set", "LEVEL_SP", "high")[0] == 2  # not a number


def test_example_fill_starts_from_a_stopped_feed(plant, client, tmp_path):
    # Run twice: the second run begins with the pump the first one started
    # still running, and must still see a stopped feed at its precheck. The
    # plant runs at warp 4: its pump, valve and flow lag take a quarter of
    # their time (the pump still answers its start command only at the
    # second cycle after it, a quarter of a second or more, long after the
    # precheck); the scenario's own waits do not change.
    scn = tmp_path / "fill.scn"
    scn.write_bytes((REPO / "examples" / "fill.scn").read_bytes())
    assert zl(plant, "sign", scn)[0] == 0
    client.warpfactor(4)
    try:
        for _ in range(2):
            got, out, err = zl(plant, "run", scn, "--quiet", cwd=tmp_path)
            # the one failure the example makes on purpose, nothing else
            assert got == 1 and "checks passed: 5   failures: 1   errors: 0" in out, out + err
            assert "**Verification <FEED_FLOW_SP> > 40.000000 FAILED" in out
    finally:
        client.warpfactor(1)
    log = (tmp_path / "fill.tlg").read_text()
    assert log.count("Precheck Timed Verification !(<FEED_FLOW> > 10.000000) passed "
                     "Value is 0.000000") == 2, log


def test_progress_is_one_updating_line_on_a_terminal(plant, tmp_path):
    import pty
    scn = scenario(tmp_path, "DELAY 600\nVERIFY TEMP_SP 60\n")
    master, slave = pty.openpty()
    try:
        child = subprocess.Popen(command() + ["run", str(scn), "--interval", "0.05"],
                                 env=environment(plant), stdin=subprocess.DEVNULL,
                                 stdout=slave, stderr=subprocess.PIPE)
        os.close(slave)
        slave = -1
        out = read_terminal(master)
        assert child.wait(timeout=BOUND_S) == 0
    finally:
        os.close(master)
        if slave >= 0:
            os.close(slave)
    progress, _, summary = out.partition("Scenario ")
    # several refreshes of one line, rewritten in place, then a line end
    assert progress.count("\r[0:0") >= 2 and progress.count("\n") == 1, repr(out)
    assert "PASSED" in summary
